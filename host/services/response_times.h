#pragma once

#include <array>
#include <chrono>
#include <cstddef>
#include <cstdint>

namespace sitehost {

// Response times of a host that runs for months, in fixed memory: a
// histogram whose buckets are an eighth of a power of two wide (below 8 us,
// one bucket per microsecond), up to about 67 s. A quantile is the upper
// edge of the bucket it falls in, at most 12.5 % above the true value and
// never above the greatest time recorded, which is kept exactly.
class ResponseTimes {
 public:
  using Duration = std::chrono::microseconds;

  void record(Duration time);

  std::uint64_t count() const { return count_; }
  Duration max() const { return max_; }
  // The time below which `fraction` (0..1] of the recorded times lie; zero
  // when nothing was recorded.
  Duration quantile(double fraction) const;

 private:
  static constexpr unsigned kSubBits = 3;  // eight buckets per power of two
  static constexpr std::size_t kSubBuckets = 1U << kSubBits;
  static constexpr unsigned kHighestPower = 25;  // 2^26 us is about 67 s
  static constexpr std::size_t kBuckets = kSubBuckets * (kHighestPower - kSubBits + 2);

  static std::size_t bucket_of(std::uint64_t microseconds);
  static std::uint64_t upper_edge(std::size_t bucket);

  std::array<std::uint32_t, kBuckets> buckets_{};  // saturate rather than wrap
  std::uint64_t count_ = 0;
  Duration max_{0};
};

}  // namespace sitehost
