#pragma once

#include <algorithm>
#include <chrono>
#include <cstdint>

#include "simulator/address_map.h"
#include "simulator/io.h"

namespace velmocair::sim {

// A serial line carries 10 bits a character (8N1) and keeps a silence after
// each frame: 3.5 characters, or a fixed 1.75 ms above 19200 baud. An RTU
// frame is the unit address, the PDU and a 2-byte CRC.
inline constexpr int kBitsPerCharacter = 10;
inline constexpr int kSilenceBits = 35;  // 3.5 characters
inline constexpr int kFixedSilenceAbove = 19200;
inline constexpr std::int64_t kFixedSilenceNanoseconds = 1'750'000;
inline constexpr int kRtuOverhead = 3;           // unit address + CRC
inline constexpr int kReadRequestPduLength = 5;  // function, address, count
inline constexpr int kReadReplyPduHeader = 2;    // function, byte count
inline constexpr std::int64_t kNanosecondsPerSecond = 1'000'000'000;

constexpr int rtu_length(int pdu_length) { return pdu_length + kRtuOverhead; }

constexpr int read_reply_pdu_length(Area area, int count) {
  return kReadReplyPduHeader + (area == Area::coils ? (count + 7) / 8 : 2 * count);
}

constexpr std::int64_t character_nanoseconds(std::int64_t characters, int baud) {
  return characters * kBitsPerCharacter * kNanosecondsPerSecond / baud;
}

constexpr std::int64_t silence_nanoseconds(int baud) {
  return baud > kFixedSilenceAbove ? kFixedSilenceNanoseconds
                                   : kSilenceBits * kNanosecondsPerSecond / baud;
}

// Time on the wire of `frames` frames of `bytes` bytes in all, silences included.
constexpr std::int64_t wire_nanoseconds(int frames, std::int64_t bytes, int baud) {
  return character_nanoseconds(bytes, baud) + std::int64_t{frames} * silence_nanoseconds(baud);
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

// Time from the first byte of a cycle's first request to the last byte of its
// last reply: each frame's characters, timed frame by frame as LinePace
// paces them, and the silences between the frames, one fewer than the
// frames. A run of cycles adds the silence before each next cycle's first
// request, which wire_nanoseconds counts.
constexpr std::int64_t poll_cycle_span_nanoseconds(int baud) {
  std::int64_t span = 0;
  for (const PollRead& read : kPollReads) {
    span += character_nanoseconds(rtu_length(kReadRequestPduLength), baud) +
            character_nanoseconds(rtu_length(read_reply_pdu_length(read.area, read.count)), baud);
  }
  return span + std::int64_t{kPollCycleFrames - 1} * silence_nanoseconds(baud);
}

static_assert(poll_cycle_bytes() == 470, "a poll cycle is 470 bytes on the wire");
static_assert(wire_nanoseconds(kPollCycleFrames, poll_cycle_bytes(), 9600) / 1'000'000 == 635,
              "a poll cycle takes 635 ms at 9600 baud");

// The line of one session as the unit sees it, at `baud` (0: no pacing, every
// reply leaves whole at once). A request is taken to cross the line from
// when it arrived, or from when the line fell silent if it came earlier; a
// frame silence later the reply may start, and each of its bytes leaves when
// it would have crossed the line. The silence is counted from the bytes as
// they were written, late ones included.
class LinePace {
 public:
  explicit LinePace(int baud) : baud_(baud) {}

  bool paced() const { return baud_ > 0; }
  // True when a request arriving at `arrival` came before the line had been
  // silent for a frame silence.
  bool early(Clock::time_point arrival) const { return paced() && arrival < free_at_; }
  // When the reply to a request of `request_bytes` (as an RTU frame)
  // arriving at `arrival` may start.
  Clock::time_point reply_start(Clock::time_point arrival, int request_bytes) {
    if (!paced()) {
      return arrival;
    }
    free_at_ = std::max(arrival, free_at_) +
               nanoseconds(character_nanoseconds(request_bytes, baud_)) + silence();
    return free_at_;
  }
  // When byte `index` of a frame starting at `start` has crossed the line.
  Clock::time_point byte_time(Clock::time_point start, std::size_t index) const {
    return paced()
               ? start +
                     nanoseconds(character_nanoseconds(static_cast<std::int64_t>(index) + 1, baud_))
               : start;
  }
  // The earliest start of the next frame the unit sends.
  Clock::time_point free_at() const { return free_at_; }
  // Bytes were written to the line at `at` (taken before the write: the
  // master cannot have read them earlier).
  void sent(Clock::time_point at) {
    if (paced()) {
      free_at_ = std::max(free_at_, at + silence());
    }
  }
  std::chrono::nanoseconds silence() const {
    return paced() ? nanoseconds(silence_nanoseconds(baud_)) : std::chrono::nanoseconds(0);
  }

 private:
  static std::chrono::nanoseconds nanoseconds(std::int64_t count) {
    return std::chrono::nanoseconds(count);
  }

  int baud_;
  Clock::time_point free_at_;
};

}  // namespace velmocair::sim
