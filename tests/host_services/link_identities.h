#pragma once

#include <gtest/gtest.h>

#include "host/services/link_counters.h"

// The identities a unit's link counts keep whatever the line did: every try
// of an exchange is the first, a retry or a resend, and ends in exactly one
// way; no exception is counted that was not a reply taken.
inline void expect_identities(const sitehost::LinkCounters& c) {
  EXPECT_EQ(c.attempts, c.exchanges + c.retries + c.resends);
  EXPECT_EQ(c.attempts, c.replies + c.timeouts + c.broken_frames + c.connection_losses +
                            c.open_failures + c.interrupted);
  EXPECT_LE(c.exception_replies(), c.replies);
  EXPECT_LE(c.requests, c.attempts);
}
