#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "host/rule_value.h"

namespace sitehost {

// An alarm check whose last state was active, with the text it was raised
// with.
struct ActiveCheck {
  unsigned short index = 0;
  std::string text;
};

// The host's boolean threshold rules: remembers the last state of each alarm
// check per unit (data id) and check index, and turns changes into rules. A
// check seen for the first time counts as changed when it is active, so an
// alarm already standing at start is raised once. Thread-safe.
class ThresholdService {
 public:
  // Receives the raised (active) and cleared rules a unit hands back.
  using Reporter = std::function<void(std::uint32_t data_id, const std::vector<rule_value>& rules)>;

  explicit ThresholdService(Reporter reporter) : reporter_(std::move(reporter)) {}

  // Records one check; queues a rule into `pending` when its state changed.
  // Returns whether it queued one.
  bool check_bool(std::uint32_t data_id, int type, const std::string& signal_id,
                  const std::string& text, bool state, unsigned short index,
                  std::vector<rule_value>& pending);

  // Reports the queued rules of one completion; true when there were any.
  bool report(std::uint32_t data_id, const std::vector<rule_value>& rules);

  // Last recorded state of a check; nothing before its first check.
  std::optional<bool> last_state(std::uint32_t data_id, unsigned short index) const;

  // The unit's checks whose last state is active, by index: the alarms
  // raised and not cleared since.
  std::vector<ActiveCheck> active_checks(std::uint32_t data_id) const;

 private:
  enum class Seen : unsigned char { never, normal, active };
  // A check's last state and the text of its last change; a unit's checks
  // are kept by index.
  struct Check {
    Seen seen = Seen::never;
    std::string text;
  };

  Reporter reporter_;
  mutable std::mutex mutex_;
  std::map<std::uint32_t, std::vector<Check>> states_;
};

}  // namespace sitehost
