#include "host/services/line_timing.h"

#include <gtest/gtest.h>

#include <cstddef>

namespace sitehost {
namespace {

// Time-outs worked out by hand: bytes x bits per character / baud, plus two
// frame silences (3.5 characters each; 1.75 ms above 19200 baud), plus the
// 100 ms turnaround, rounded up to whole milliseconds. The whole-millisecond
// rows must not be rounded up to the next.
TEST(LineTiming, ExchangeAllowanceAndDefaultTimeoutFollowTheLine) {
  struct Row {
    int baud;
    char parity;
    std::size_t bytes;
    long allowance_ms;
    long default_ms;
  };
  const Row rows[] = {
      {1200,   'N', 8 + 81, 900,  900 }, // 89 + 7 characters of 10 bits: 800 ms
      {300,    'N', 8 + 81, 3300, 3300}, // 3200 ms
      {110,    'N', 8 + 81, 8828, 8828}, // 8727.3 ms
      {110,    'N', 8 + 8,  2191, 2191}, // a write: 2090.9 ms
      {9600,   'N', 8 + 9,  125,  500 }, // a probe: 25 ms
      {9600,   'E', 8 + 9,  128,  500 }, // 11-bit characters: 27.5 ms
      {19200,  'N', 8 + 9,  113,  500 }, // 12.5 ms
      {115200, 'N', 8 + 9,  105,  500 }, // 1.476 ms + 2 x 1.75 ms
      {9600,   'N', 8 + 81, 200,  500 }, // 100 ms
  };
  for (const Row& row : rows) {
    SerialLine line;
    line.baud = row.baud;
    line.parity = row.parity;
    EXPECT_EQ(exchange_allowance(line, row.bytes).count(), row.allowance_ms)
        << row.baud << " " << row.parity << " " << row.bytes;
    EXPECT_EQ(default_response_timeout(line, row.bytes).count(), row.default_ms)
        << row.baud << " " << row.parity << " " << row.bytes;
  }
}

}  // namespace
}  // namespace sitehost
