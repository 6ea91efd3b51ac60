#pragma once

#include <chrono>
#include <condition_variable>
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
// whoever consumes the published data. Thread-safe; readers can wait for a
// newer publication.
class Publisher {
 public:
  void publish(std::uint32_t data_id, int publication_id, const unsigned char* data,
               std::size_t length);

  std::optional<Publication> latest(std::uint32_t data_id) const;

  // The latest publication of `data_id` once its sequence exceeds `after`, or
  // nothing when the deadline passes first.
  std::optional<Publication> wait_newer(std::uint32_t data_id, std::uint64_t after,
                                        std::chrono::steady_clock::time_point deadline) const;

 private:
  mutable std::mutex mutex_;
  mutable std::condition_variable published_;
  std::map<std::uint32_t, Publication> latest_;
};

}  // namespace sitehost
