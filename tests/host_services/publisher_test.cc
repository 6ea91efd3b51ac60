// The publisher keeps each unit's latest record.
#include "host/services/publisher.h"

#include <gtest/gtest.h>

#include <vector>

namespace {

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

}  // namespace
