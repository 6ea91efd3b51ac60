#include "host/services/threshold_service.h"

namespace sitehost {

bool ThresholdService::check_bool(std::uint32_t data_id, int type, const std::string& signal_id,
                                  const std::string& text, bool state, unsigned short index,
                                  std::vector<rule_value>& pending) {
  {
    const std::lock_guard<std::mutex> lock(mutex_);
    std::vector<Seen>& checks = states_[data_id];
    if (index >= checks.size()) {
      checks.resize(std::size_t{index} + 1, Seen::never);
    }
    Seen& slot = checks[index];
    const bool changed = slot == Seen::never ? state : (slot == Seen::active) != state;
    slot = state ? Seen::active : Seen::normal;
    if (!changed) {
      return false;
    }
  }
  pending.push_back(rule_value{type, signal_id, text, state, index});
  return true;
}

bool ThresholdService::report(std::uint32_t data_id, const std::vector<rule_value>& rules) {
  if (rules.empty()) {
    return false;
  }
  if (reporter_) {
    reporter_(data_id, rules);
  }
  return true;
}

std::optional<bool> ThresholdService::last_state(std::uint32_t data_id,
                                                 unsigned short index) const {
  const std::lock_guard<std::mutex> lock(mutex_);
  const auto found = states_.find(data_id);
  if (found == states_.end() || index >= found->second.size() ||
      found->second[index] == Seen::never) {
    return std::nullopt;
  }
  return found->second[index] == Seen::active;
}

}  // namespace sitehost
