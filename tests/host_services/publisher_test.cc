// The publisher keeps each unit's latest record and wakes those waiting.
#include "host/services/publisher.h"

#include <gtest/gtest.h>

#include <thread>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;
constexpr std::chrono::seconds kGenerousWait{30};

TEST(Publisher, KeepsTheLatestRecordPerUnit) {
  sitehost::Publisher publisher;
  EXPECT_FALSE(publisher.latest(1));
  const std::vector<unsigned char> first(441, 1);
  const std::vector<unsigned char> second(441, 2);
  publisher.publish(1, 5156, first.data(), first.size());
  publisher.publish(2, 5156, first.data(), first.size());
  publisher.publish(1, 5156, second.data(), second.size());
  const auto latest = publisher.latest(1);
  ASSERT_TRUE(latest);
  EXPECT_EQ(latest->data, second);
  EXPECT_EQ(latest->sequence, 2u);
  EXPECT_EQ(latest->publication_id, 5156);
  EXPECT_EQ(publisher.latest(2)->sequence, 1u);
}

TEST(Publisher, WakesAReaderWaitingForANewerRecord) {
  sitehost::Publisher publisher;
  const std::vector<unsigned char> record(441, 7);
  publisher.publish(1, 5156, record.data(), record.size());
  EXPECT_FALSE(publisher.wait_newer(1, 1, Clock::now())) << "nothing newer yet";
  std::thread publishing([&] { publisher.publish(1, 5156, record.data(), record.size()); });
  const auto newer = publisher.wait_newer(1, 1, Clock::now() + kGenerousWait);
  publishing.join();
  ASSERT_TRUE(newer);
  EXPECT_EQ(newer->sequence, 2u);
}

}  // namespace
