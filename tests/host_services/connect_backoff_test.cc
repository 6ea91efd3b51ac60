#include "host/services/connect_backoff.h"

#include <gtest/gtest.h>

#include <chrono>

namespace sitehost {
namespace {

using std::chrono::milliseconds;
using Clock = ConnectBackoff::Clock;

// Failed attempts, each made as soon as the last one's wait ended: the waits
// double from 0.5 s up to 30 s, only the first starts a series, and a
// successful open ends it, so the next failure starts again at 0.5 s.
TEST(ConnectBackoff, DoublesToItsCapAndStartsAgainAfterASuccess) {
  ConnectBackoff backoff;
  Clock::time_point now{};
  EXPECT_FALSE(backoff.waiting(now));
  const long waits_ms[] = {500, 1000, 2000, 4000, 8000, 16000, 30000, 30000};
  for (long wait_ms : waits_ms) {
    EXPECT_EQ(backoff.failed(now), wait_ms == 500) << wait_ms;
    EXPECT_EQ(backoff.next_attempt() - now, milliseconds(wait_ms));
    EXPECT_TRUE(backoff.waiting(now + milliseconds(wait_ms) - milliseconds(1))) << wait_ms;
    now = backoff.next_attempt();
    EXPECT_FALSE(backoff.waiting(now)) << wait_ms;
  }
  backoff.succeeded();
  EXPECT_FALSE(backoff.waiting(now));
  EXPECT_TRUE(backoff.failed(now));
  EXPECT_EQ(backoff.next_attempt() - now, milliseconds(500));
}

}  // namespace
}  // namespace sitehost
