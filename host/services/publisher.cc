#include "host/services/publisher.h"

namespace sitehost {

void Publisher::publish(std::uint32_t data_id, int publication_id, const unsigned char* data,
                        std::size_t length) {
  const std::lock_guard<std::mutex> lock(mutex_);
  Publication& slot = latest_[data_id];
  slot.publication_id = publication_id;
  slot.data.assign(data, data + (data != nullptr ? length : 0));
  ++slot.sequence;
}

std::optional<Publication> Publisher::latest(std::uint32_t data_id) const {
  const std::lock_guard<std::mutex> lock(mutex_);
  const auto found = latest_.find(data_id);
  if (found == latest_.end()) {
    return std::nullopt;
  }
  return found->second;
}

}  // namespace sitehost
