#include "host/services/frame_reader.h"

#include <poll.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <iterator>

namespace sitehost {
namespace {

constexpr std::size_t kRtuHead = 2;             // unit address, function code
constexpr std::size_t kRtuExceptionLength = 5;  // address, function | 0x80, code, CRC
constexpr unsigned char kExceptionFlag = 0x80;
constexpr std::size_t kMbapHeaderLength = 7;  // the MBAP header and the unit id
constexpr std::size_t kMbapLengthAt = 4;
constexpr std::size_t kMbapUncounted = 6;    // bytes in front of what the MBAP length counts
constexpr std::size_t kMinMbapLength = 2;    // unit id and function code
constexpr std::size_t kMaxMbapLength = 254;  // unit id and the longest PDU
constexpr std::size_t kDiscardChunk = 256;

// How long an RTU reply to a function is: a fixed part plus, where
// byte_count_at is not 0, the byte count found at that offset.
struct ReplyShape {
  unsigned char function;
  std::size_t fixed_length;
  std::size_t byte_count_at;
};

// clang-format off
// function  fixed length  byte count at
constexpr ReplyShape kReplyShapes[] = {
    {0x01,     5,            2},  // read coils
    {0x02,     5,            2},  // read discrete inputs
    {0x03,     5,            2},  // read holding registers
    {0x04,     5,            2},  // read input registers
    {0x05,     8,            0},  // write single coil
    {0x06,     8,            0},  // write single register
    {0x0F,     8,            0},  // write multiple coils
    {0x10,     8,            0},  // write multiple registers
};
// clang-format on
static_assert(std::size(kReplyShapes) == 8);

// Bytes the frame needs as far as its first bytes tell (at least kRtuHead of
// them); 0 for a function of no known shape. An exception reply has one shape
// whatever its function.
std::size_t rtu_length(const std::vector<unsigned char>& head) {
  const unsigned char function = head[1];
  if ((function & kExceptionFlag) != 0) {
    return kRtuExceptionLength;
  }
  for (const ReplyShape& shape : kReplyShapes) {
    if (shape.function != function) {
      continue;
    }
    if (shape.byte_count_at == 0) {
      return shape.fixed_length;
    }
    return head.size() > shape.byte_count_at ? shape.fixed_length + head[shape.byte_count_at]
                                             : shape.byte_count_at + 1;
  }
  return 0;
}

enum class Wait : unsigned char { ready, timed_out, failed };

Wait wait_readable(int fd, LineClock::time_point deadline) {
  while (true) {
    const auto left = std::max(LineClock::duration::zero(), deadline - LineClock::now());
    const auto seconds = std::chrono::duration_cast<std::chrono::seconds>(left);
    const timespec span{
        static_cast<time_t>(seconds.count()),
        static_cast<long>(
            std::chrono::duration_cast<std::chrono::nanoseconds>(left - seconds).count())};
    pollfd waiting{fd, POLLIN, 0};
    const int ready = ::ppoll(&waiting, 1, &span, nullptr);
    if (ready < 0 && errno == EINTR) {
      continue;
    }
    if (ready < 0) {
      return Wait::failed;
    }
    return ready == 0 ? Wait::timed_out : Wait::ready;
  }
}

enum class Fill : unsigned char { done, timed_out, closed, failed };

// Reads into `read.bytes` until it holds `wanted` bytes.
Fill fill(int fd, FrameRead& read, std::size_t wanted, LineClock::time_point first_byte,
          LineClock::duration byte_gap) {
  while (read.bytes.size() < wanted) {
    const LineClock::time_point deadline =
        read.bytes.empty() ? first_byte : read.last_byte + byte_gap;
    const Wait wait = wait_readable(fd, deadline);
    if (wait == Wait::timed_out) {
      return Fill::timed_out;
    }
    const std::size_t have = read.bytes.size();
    ssize_t got = -1;
    if (wait == Wait::ready) {
      read.bytes.resize(wanted);
      got = ::read(fd, read.bytes.data() + have, wanted - have);
      read.bytes.resize(have + static_cast<std::size_t>(std::max<ssize_t>(got, 0)));
    }
    if (got > 0) {
      read.last_byte = LineClock::now();
    } else if (got == 0 || errno == ECONNRESET) {
      return Fill::closed;
    } else if (errno != EINTR && errno != EAGAIN) {
      read.why = std::strerror(errno);
      return Fill::failed;
    }
  }
  return Fill::done;
}

FrameRead finish(FrameRead read, Fill step) {
  switch (step) {
    case Fill::done:
      read.outcome = FrameRead::frame;
      break;
    case Fill::timed_out:
      read.outcome = read.bytes.empty() ? FrameRead::silence : FrameRead::broken;
      if (!read.bytes.empty()) {
        read.why = "frame cut short after " + std::to_string(read.bytes.size()) + " bytes";
      }
      break;
    case Fill::closed:
      read.outcome = FrameRead::closed;
      break;
    case Fill::failed:
      read.outcome = FrameRead::failed;
      break;
  }
  return read;
}

FrameRead refuse(FrameRead read, std::string why) {
  read.outcome = FrameRead::broken;
  read.why = std::move(why);
  return read;
}

}  // namespace

FrameRead read_rtu_frame(int fd, LineClock::time_point first_byte, LineClock::duration byte_gap) {
  FrameRead read;
  std::size_t wanted = kRtuHead;
  while (true) {
    const Fill step = fill(fd, read, wanted, first_byte, byte_gap);
    if (step != Fill::done) {
      return finish(std::move(read), step);
    }
    const std::size_t length = rtu_length(read.bytes);
    if (length == 0) {
      char code[sizeof "0x00"];
      std::snprintf(code, sizeof code, "0x%02X", read.bytes[1]);
      return refuse(std::move(read), std::string("a reply with unknown function code ") + code);
    }
    if (length == read.bytes.size()) {
      return finish(std::move(read), step);
    }
    wanted = length;
  }
}

FrameRead read_tcp_frame(int fd, LineClock::time_point first_byte, LineClock::duration byte_gap) {
  FrameRead read;
  Fill step = fill(fd, read, kMbapHeaderLength, first_byte, byte_gap);
  if (step == Fill::done) {
    const std::size_t length =
        static_cast<std::size_t>((read.bytes[kMbapLengthAt] << 8) | read.bytes[kMbapLengthAt + 1]);
    if (length < kMinMbapLength || length > kMaxMbapLength) {
      return refuse(std::move(read), "MBAP length " + std::to_string(length) + " out of range");
    }
    step = fill(fd, read, kMbapUncounted + length, first_byte, byte_gap);
  }
  return finish(std::move(read), step);
}

Quiet wait_for_silence(int fd, LineClock::time_point since, LineClock::duration silence,
                       LineClock::time_point give_up) {
  Quiet quiet;
  quiet.last_byte = since;
  std::array<unsigned char, kDiscardChunk> discard{};
  while (true) {
    const LineClock::time_point quiet_at = quiet.last_byte + silence;
    const Wait wait = wait_readable(fd, std::min(quiet_at, give_up));
    if (wait != Wait::ready) {
      quiet.silent = wait == Wait::timed_out && LineClock::now() >= quiet_at;
      return quiet;
    }
    const ssize_t got = ::read(fd, discard.data(), discard.size());
    if (got > 0) {
      quiet.discarded += static_cast<std::size_t>(got);
      quiet.last_byte = LineClock::now();
    } else if (got == 0 || (errno != EINTR && errno != EAGAIN)) {
      return quiet;
    }
  }
}

}  // namespace sitehost
