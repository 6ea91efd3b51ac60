#pragma once

#include <cstddef>
#include <string>
#include <vector>

#include "host/services/link_counters.h"
#include "host/services/threshold_service.h"

namespace velmocair::cli {

// What the host's threads report to the one that prints.
struct HostEvent {
  enum Kind : unsigned char {
    cycle_completed,
    cycle_failed,   // text: why
    alarm_raised,   // text: the alarm text; alarm_index: the check's index
    alarm_cleared,  // likewise
    notice,         // text: a line for people (history reloaded, history error)
  };

  Kind kind = notice;
  std::size_t unit = 0;  // index of the unit in the host
  int round = 0;         // cycles: 1 for the first
  std::string text;
  unsigned short alarm_index = 0;
  // cycle_completed: the unit's active alarm points once the cycle's alarms
  // were evaluated, taken on the bus thread before the next cycle starts.
  std::vector<sitehost::ActiveCheck> active_points;
  // cycle_completed, cycle_failed: the unit's link counts once the cycle ended.
  sitehost::LinkCounters link;
};

}  // namespace velmocair::cli
