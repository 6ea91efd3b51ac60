// Frame arithmetic of the simulator: CRC, request lengths, reply framing,
// broken frames and the wire time of pacing.
#include <gtest/gtest.h>

#include <cstring>
#include <iterator>
#include <vector>

#include "simulator/frames.h"
#include "simulator/pacing.h"

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

TEST(SimFrames, RequestsDecodeAlikeOnBothTransports) {
  const Bytes tcp{0x12, 0x34, 0x00, 0x00, 0x00, 0x06, 0x05, 0x03, 0x0D, 0xAD, 0x00, 0x0E};
  const Bytes rtu{0x05, 0x03, 0x0D, 0xAD, 0x00, 0x0E, 0x00, 0x00};
  for (const auto& [transport, adu] : {
           std::pair{Transport::tcp, tcp},
           std::pair{Transport::rtu, rtu}
  }) {
    const Request request = decode_request(transport, adu.data(), static_cast<int>(adu.size()));
    EXPECT_EQ(request.unit_id, 5);
    EXPECT_EQ(request.function, kReadRegisters);
    EXPECT_EQ(request.address, 3501);
    EXPECT_EQ(request.quantity, 14);
    EXPECT_EQ(request.rtu_length, 8);
  }
}

TEST(SimFrames, RepliesAreFramedPerTransportAndBreakDetectably) {
  const Bytes tcp_request{0xAB, 0xCD, 0x00, 0x00, 0x00, 0x06, 0x07, 0x06, 0x0D, 0xAD, 0x00, 0xF0};
  Bytes echo{0x06, 0x0D, 0xAD, 0x00, 0xF0};
  raise_echoed_value(echo);
  EXPECT_EQ(echo, (Bytes{0x06, 0x0D, 0xAD, 0x00, 0xF1}));

  Bytes tcp = reply_frame(Transport::tcp, tcp_request.data(), echo);
  EXPECT_EQ(tcp, (Bytes{0xAB, 0xCD, 0x00, 0x00, 0x00, 0x06, 0x07, 0x06, 0x0D, 0xAD, 0x00, 0xF1}));
  break_frame(Transport::tcp, tcp);
  EXPECT_EQ(tcp[kTcpHeaderLength], 0x05) << "a write echo is carried as a coil write";

  const Bytes rtu_request{0x07, 0x06, 0x0D, 0xAD, 0x00, 0xF0, 0x00, 0x00};
  Bytes rtu = reply_frame(Transport::rtu, rtu_request.data(), echo);
  ASSERT_EQ(rtu.size(), echo.size() + 3);
  EXPECT_EQ(rtu[0], 0x07);
  EXPECT_TRUE(rtu_crc_matches(rtu.data(), static_cast<int>(rtu.size())));
  break_frame(Transport::rtu, rtu);
  EXPECT_FALSE(rtu_crc_matches(rtu.data(), static_cast<int>(rtu.size())));
}

TEST(SimPacing, ExchangeTimeCountsTenBitsACharacterAndTwoSilences) {
  struct Row {
    int request_bytes;
    int reply_bytes;
    int baud;
    std::int64_t nanoseconds;
  };
  // clang-format off
  // request  reply  baud    nanoseconds
  const Row rows[] = {
      {8,  9,   9600, 25'000'000},  // 240 bits
      {8, 81,  19200, 50'000'000},  // 960 bits
      {8,  5, 115200,  1'736'111},  // 200 bits
  };
  // clang-format on
  for (const Row& row : rows) {
    EXPECT_EQ(exchange_time(row.request_bytes, row.reply_bytes, row.baud).count(), row.nanoseconds)
        << row.request_bytes << "+" << row.reply_bytes << " bytes at " << row.baud;
  }
}

}  // namespace
}  // namespace velmocair::sim
