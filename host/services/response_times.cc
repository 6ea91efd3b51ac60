#include "host/services/response_times.h"

#include <algorithm>
#include <cmath>
#include <limits>

namespace sitehost {

std::size_t ResponseTimes::bucket_of(std::uint64_t microseconds) {
  if (microseconds < kSubBuckets) {
    return static_cast<std::size_t>(microseconds);
  }
  unsigned power = kSubBits;
  while (power < kHighestPower && (microseconds >> (power + 1)) != 0) {
    ++power;
  }
  if ((microseconds >> (power + 1)) != 0) {
    return kBuckets - 1;
  }
  const std::size_t sub = (microseconds >> (power - kSubBits)) & (kSubBuckets - 1);
  return kSubBuckets * (power - kSubBits + 1) + sub;
}

std::uint64_t ResponseTimes::upper_edge(std::size_t bucket) {
  if (bucket < kSubBuckets) {
    return bucket;
  }
  const unsigned power = static_cast<unsigned>(bucket / kSubBuckets) + kSubBits - 1;
  const std::uint64_t sub = bucket % kSubBuckets;
  return ((kSubBuckets + sub + 1) << (power - kSubBits)) - 1;
}

void ResponseTimes::record(Duration time) {
  const auto microseconds = static_cast<std::uint64_t>(std::max<Duration::rep>(time.count(), 0));
  std::uint32_t& bucket = buckets_[bucket_of(microseconds)];
  bucket += bucket < std::numeric_limits<std::uint32_t>::max() ? 1 : 0;
  ++count_;
  max_ = std::max(max_, time);
}

ResponseTimes::Duration ResponseTimes::quantile(double fraction) const {
  if (count_ == 0) {
    return Duration{0};
  }
  const auto rank = std::max<std::uint64_t>(
      1, static_cast<std::uint64_t>(std::ceil(fraction * static_cast<double>(count_))));
  std::uint64_t below = 0;
  for (std::size_t bucket = 0; bucket + 1 < kBuckets; ++bucket) {
    below += buckets_[bucket];
    if (below >= rank) {
      return std::min(max_, Duration(static_cast<Duration::rep>(upper_edge(bucket))));
    }
  }
  return max_;
}

}  // namespace sitehost
