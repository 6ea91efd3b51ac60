#include "host/services/threshold_service.h"

namespace sitehost {

bool ThresholdService::check_bool(std::uint32_t data_id, int type, const std::string& signal_id,
                                  const std::string& text, bool state, unsigned short index,
                                  std::vector<rule_value>& pending) {
  {
    const std::lock_guard<std::mutex> lock(mutex_);
    std::vector<Check>& checks = states_[data_id];
    if (index >= checks.size()) {
      checks.resize(std::size_t{index} + 1);
    }
    Check& slot = checks[index];
    const bool changed = slot.seen == Seen::never ? state : (slot.seen == Seen::active) != state;
    slot.seen = state ? Seen::active : Seen::normal;
    if (!changed) {
      return false;
    }
    slot.text = text;
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
      found->second[index].seen == Seen::never) {
    return std::nullopt;
  }
  return found->second[index].seen == Seen::active;
}

std::vector<ActiveCheck> ThresholdService::active_checks(std::uint32_t data_id) const {
  std::vector<ActiveCheck> active;
  const std::lock_guard<std::mutex> lock(mutex_);
  const auto found = states_.find(data_id);
  if (found == states_.end()) {
    return active;
  }
  for (std::size_t index = 0; index < found->second.size(); ++index) {
    const Check& check = found->second[index];
    if (check.seen == Seen::active) {
      active.push_back({static_cast<unsigned short>(index), check.text});
    }
  }
  return active;
}

}  // namespace sitehost
