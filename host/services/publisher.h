#pragma once

#include <cstdint>
#include <map>
#include <mutex>
#include <optional>
#include <vector>

namespace sitehost {

// One record a device published with SendSP.
struct Publication {
  int publication_id = 0;
  std::vector<unsigned char> data;
  std::uint64_t sequence = 0;  // 1 for a unit's first publication, counting up
};

// Keeps the latest record each unit published, by the unit's data id, for
// whoever consumes the published data. Thread-safe.
class Publisher {
 public:
  void publish(std::uint32_t data_id, int publication_id, const unsigned char* data,
               std::size_t length);

  std::optional<Publication> latest(std::uint32_t data_id) const;

 private:
  mutable std::mutex mutex_;
  std::map<std::uint32_t, Publication> latest_;
};

}  // namespace sitehost
