// RTU framing of the simulator: the CRC and where a request ends. Replies,
// broken frames and pacing are checked end to end in the other suites.
#include <gtest/gtest.h>

#include <cstring>
#include <iterator>
#include <vector>

#include "simulator/frames.h"

namespace velmocair::sim {
namespace {

using Bytes = std::vector<std::uint8_t>;

TEST(SimFrames, Crc16MatchesTheModbusCheckValueAndAKnownFrame) {
  const char* check = "123456789";
  EXPECT_EQ(crc16(reinterpret_cast<const std::uint8_t*>(check), std::strlen(check)), 0x4B37);
  // Read 10 holding registers from 0 of unit 1: 01 03 00 00 00 0A C5 CD.
  const Bytes frame{0x01, 0x03, 0x00, 0x00, 0x00, 0x0A, 0xC5, 0xCD};
  EXPECT_TRUE(rtu_crc_matches(frame.data(), static_cast<int>(frame.size())));
  Bytes damaged = frame;
  damaged[3] ^= 1;
  EXPECT_FALSE(rtu_crc_matches(damaged.data(), static_cast<int>(damaged.size())));
}

TEST(SimFrames, RtuRequestLengthFollowsTheFunction) {
  struct Row {
    Bytes start;
    int length;  // 0: more bytes needed
  };
  // clang-format off
  // first bytes of a request                    length
  const Row rows[] = {
      {{0x01},                                        0},
      {{0x01, 0x01},                                  8},
      {{0x01, 0x03, 0x1F, 0x41},                      8},
      {{0x01, 0x06},                                  8},
      {{0x01, 0x10, 0x0D, 0xAC, 0x00, 0x02},          0},
      {{0x01, 0x10, 0x0D, 0xAC, 0x00, 0x02, 0x04},   13},
      {{0x01, 0x16},                                 10},
      {{0x01, 0x2B},                                  4},
  };
  // clang-format on
  for (std::size_t i = 0; i < std::size(rows); ++i) {
    EXPECT_EQ(rtu_request_length(rows[i].start.data(), static_cast<int>(rows[i].start.size())),
              rows[i].length)
        << "row " << i;
  }
}

}  // namespace
}  // namespace velmocair::sim
