#pragma once

#include <chrono>
#include <cstdint>

#include "simulator/address_map.h"

namespace velmocair::sim {

// A serial line carries 10 bits a character (8N1) and keeps a silence of 3.5
// characters after each frame. An RTU frame is the unit address, the PDU and
// a 2-byte CRC.
inline constexpr int kBitsPerCharacter = 10;
inline constexpr int kSilenceBits = 35;          // 3.5 characters
inline constexpr int kRtuOverhead = 3;           // unit address + CRC
inline constexpr int kReadRequestPduLength = 5;  // function, address, count
inline constexpr int kReadReplyPduHeader = 2;    // function, byte count
inline constexpr std::int64_t kNanosecondsPerSecond = 1'000'000'000;

constexpr int rtu_length(int pdu_length) { return pdu_length + kRtuOverhead; }

constexpr int read_reply_pdu_length(Area area, int count) {
  return kReadReplyPduHeader + (area == Area::coils ? (count + 7) / 8 : 2 * count);
}

// Time on the wire of `frames` frames of `bytes` bytes in all, silences included.
constexpr std::int64_t wire_nanoseconds(int frames, std::int64_t bytes, int baud) {
  return (bytes * kBitsPerCharacter + std::int64_t{frames} * kSilenceBits) * kNanosecondsPerSecond /
         baud;
}

// Time a request and its reply take on a line of `baud`.
inline std::chrono::nanoseconds exchange_time(int request_rtu_bytes, int reply_rtu_bytes,
                                              int baud) {
  return std::chrono::nanoseconds(
      wire_nanoseconds(2, std::int64_t{request_rtu_bytes} + reply_rtu_bytes, baud));
}

// Bytes of one poll cycle on a serial line: 20 requests and their replies.
constexpr std::int64_t poll_cycle_bytes() {
  std::int64_t bytes = 0;
  for (const PollRead& read : kPollReads) {
    bytes += rtu_length(kReadRequestPduLength) +
             rtu_length(read_reply_pdu_length(read.area, read.count));
  }
  return bytes;
}

inline constexpr int kPollCycleFrames = 2 * static_cast<int>(std::size(kPollReads));

static_assert(poll_cycle_bytes() == 470, "a poll cycle is 470 bytes on the wire");
static_assert(wire_nanoseconds(kPollCycleFrames, poll_cycle_bytes(), 9600) / 1'000'000 == 635,
              "a poll cycle takes 635 ms at 9600 baud");

}  // namespace velmocair::sim
