#include "host/services/publisher.h"

namespace sitehost {

void Publisher::publish(std::uint32_t data_id, int publication_id, const unsigned char* data,
                        std::size_t length) {
  {
    const std::lock_guard<std::mutex> lock(mutex_);
    Publication& slot = latest_[data_id];
    slot.publication_id = publication_id;
    slot.data.assign(data, data + (data != nullptr ? length : 0));
    ++slot.sequence;
  }
  published_.notify_all();
}

std::optional<Publication> Publisher::latest(std::uint32_t data_id) const {
  const std::lock_guard<std::mutex> lock(mutex_);
  const auto found = latest_.find(data_id);
  if (found == latest_.end()) {
    return std::nullopt;
  }
  return found->second;
}

std::optional<Publication> Publisher::wait_newer(
    std::uint32_t data_id, std::uint64_t after,
    std::chrono::steady_clock::time_point deadline) const {
  std::unique_lock<std::mutex> lock(mutex_);
  const auto newer = [&] {
    const auto found = latest_.find(data_id);
    return found != latest_.end() && found->second.sequence > after;
  };
  if (!published_.wait_until(lock, deadline, newer)) {
    return std::nullopt;
  }
  return latest_.find(data_id)->second;
}

}  // namespace sitehost
