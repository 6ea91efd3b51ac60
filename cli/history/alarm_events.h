#pragma once

#include <cstdint>
#include <map>
#include <string>
#include <string_view>
#include <vector>

#include "cli/history/record_decoder.h"

namespace velmocair::cli {

// One span of time in which an alarm point of a unit was active: from the
// first row that showed it active to the first row that showed it clear,
// or to the unit's last row when it was still active there.
struct AlarmEvent {
  std::uint32_t data_id = 0;
  AlarmPoint point;
  std::string raised;
  std::string cleared;  // empty: still active at the end
  std::int64_t seconds = 0;
  // Active in the unit's first row: raised then or before.
  bool active_at_start = false;
};

// Follows the alarm points of stored rows, in their order, per unit.
class AlarmEventTracker {
 public:
  // The points active in the unit's row stored at `time`.
  void row(std::uint32_t data_id, std::string_view time, const std::vector<AlarmPoint>& active);
  // Every event in the order they were raised (ties by index); those still
  // open run to their unit's last row.
  std::vector<AlarmEvent> events() const;
  // The first and last row time of each unit seen.
  const std::map<std::uint32_t, std::pair<std::string, std::string>>& spans() const {
    return spans_;
  }

 private:
  std::vector<AlarmEvent> closed_;
  // Per unit, the open events by point index.
  std::map<std::uint32_t, std::map<unsigned short, AlarmEvent>> open_;
  std::map<std::uint32_t, std::pair<std::string, std::string>> spans_;
};

// The report: per unit the events, then each point's count and total time.
// An event active in the unit's first row has its raise marked "*".
std::string alarm_report(const AlarmEventTracker& tracker);

}  // namespace velmocair::cli
