// The bounded histogram of response times: every quantile lies between the
// true value and an eighth above it, and never above the greatest time.
#include "host/services/response_times.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <functional>
#include <vector>

namespace {

using sitehost::ResponseTimes;
using Micros = std::chrono::microseconds;

TEST(ResponseTimes, QuantilesLieWithinABucketAboveTheTrueValue) {
  struct Row {
    const char* name;
    int count;
    std::function<long(int)> time_us;  // the i-th time recorded
  };
  // clang-format off
  // name                             times  i-th time in microseconds
  const Row rows[] = {
      {"one to a thousand",           1000,  [](int i) { return i + 1L; }},
      {"one value",                   50,    [](int) { return 41000L; }},
      {"a few slow among fast ones",  1000,  [](int i) { return i % 100 == 7 ? 900000L : 2300L + i % 13; }},
      {"below eight microseconds",    16,    [](int i) { return static_cast<long>(i % 8); }},
      {"up to a minute",              600,   [](int i) { return 100000L * (i + 1); }},
  };
  // clang-format on
  for (const Row& row : rows) {
    ResponseTimes times;
    std::vector<long> recorded;
    for (int i = 0; i < row.count; ++i) {
      recorded.push_back(row.time_us(i));
      times.record(Micros(recorded.back()));
    }
    std::sort(recorded.begin(), recorded.end());
    EXPECT_EQ(times.count(), recorded.size()) << row.name;
    EXPECT_EQ(times.max().count(), recorded.back()) << row.name;
    for (const double fraction : {0.5, 0.9, 0.99, 1.0}) {
      const auto rank = static_cast<std::size_t>(std::ceil(fraction * row.count));
      const long truth = recorded[std::max<std::size_t>(rank, 1) - 1];
      const long told = times.quantile(fraction).count();
      EXPECT_GE(told, truth) << row.name << " at " << fraction;
      EXPECT_LE(told, std::max(truth + truth / 8, truth + 1)) << row.name << " at " << fraction;
      EXPECT_LE(told, recorded.back()) << row.name << " at " << fraction;
    }
  }
}

TEST(ResponseTimes, IsZeroBeforeAnythingIsRecorded) {
  const ResponseTimes times;
  EXPECT_EQ(times.quantile(0.99).count(), 0);
  EXPECT_EQ(times.max().count(), 0);
}

}  // namespace
