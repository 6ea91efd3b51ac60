#include "host/services/frame_reader.h"

#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <cstring>
#include <iterator>

#include "host/modbus_exception.h"
#include "host/services/adu.h"

namespace sitehost {
namespace {

constexpr std::size_t kRtuHead = 2;             // unit address, function code
constexpr std::size_t kRtuExceptionLength = 5;  // address, function | 0x80, code, CRC
constexpr std::size_t kMinRtuFrame = kRtuExceptionLength;
constexpr unsigned char kExceptionFlag = modbus_exception::kFlag;
constexpr std::size_t kMbapHeaderLength = 7;  // the MBAP header and the unit id
constexpr std::size_t kMbapLengthAt = 4;
constexpr std::size_t kMbapUncounted = 6;    // bytes in front of what the MBAP length counts
constexpr std::size_t kMinMbapLength = 2;    // unit id and function code
constexpr std::size_t kMaxMbapLength = 254;  // unit id and the longest PDU
constexpr std::size_t kChunk = 256;
// Bytes an RTU framer keeps while it looks for a frame: two of the longest.
constexpr std::size_t kMaxRtuFrame = 256;
constexpr std::size_t kKeptBytes = 2 * kMaxRtuFrame;
constexpr std::size_t kUnknown = static_cast<std::size_t>(-1);

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

// Bytes of the frame that starts at `at`, as far as the bytes there tell:
// 0 for a function of no known shape, kUnknown while its byte count is
// still to come. An exception reply has one shape whatever its function.
std::size_t rtu_length_at(const std::vector<unsigned char>& bytes, std::size_t at) {
  const unsigned char function = bytes[at + 1];
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
    return at + shape.byte_count_at < bytes.size()
               ? shape.fixed_length + bytes[at + shape.byte_count_at]
               : kUnknown;
  }
  return 0;
}

bool crc_holds(const unsigned char* frame, std::size_t length) {
  const std::size_t body = length - kRtuCrcLength;
  return modbus_crc16(frame, body) ==
         static_cast<std::uint16_t>(frame[body] | (frame[body + 1] << 8));
}

}  // namespace

FoundFrame find_rtu_frame(const std::vector<unsigned char>& bytes, std::size_t from, bool at_end) {
  for (std::size_t at = from; at + kMinRtuFrame <= bytes.size(); ++at) {
    const std::size_t length = rtu_length_at(bytes, at);
    if (length < kMinRtuFrame || length > bytes.size() - at ||
        (at_end && at + length != bytes.size())) {
      continue;
    }
    if (crc_holds(bytes.data() + at, length)) {
      return {at, length};
    }
  }
  return {};
}

FrameRead RtuFramer::next(LineClock::time_point deadline) {
  std::array<unsigned char, kChunk> chunk{};
  while (true) {
    if (const FoundFrame found = find_rtu_frame(bytes_, 0, true); found.found()) {
      return take(found);
    }
    const bool in_run = !run_ended_;
    const Wait wait =
        wait_readable(fd_, stop_fd_,
                      in_run ? std::min(deadline + run_grace_, last_byte_ + frame_end_) : deadline);
    if (wait == Wait::ready) {
      const ssize_t got = ::read(fd_, chunk.data(), chunk.size());
      if (got > 0) {
        bytes_.insert(bytes_.end(), chunk.begin(), chunk.begin() + got);
        last_byte_ = LineClock::now();
        run_ += static_cast<std::size_t>(got);
        longest_run_ = std::max(longest_run_, run_);
        run_ended_ = false;
        if (bytes_.size() > kKeptBytes) {
          const std::size_t excess = bytes_.size() - kMaxRtuFrame;
          dropped_ += excess;
          bytes_.erase(bytes_.begin(), bytes_.begin() + static_cast<std::ptrdiff_t>(excess));
        }
      } else if ((got == 0 && hung_up(fd_)) || (got < 0 && errno != EAGAIN && errno != EINTR)) {
        return give_up(FrameRead::gone, got == 0 ? "the device hung up" : std::strerror(errno));
      }
      // A read of 0 bytes without a hang-up: no byte now.
      continue;
    }
    switch (wait) {
      case Wait::stopped:
        return give_up(FrameRead::stopped, "");
      case Wait::hung_up:
        return give_up(FrameRead::gone, "the device hung up");
      case Wait::failed:
        return give_up(FrameRead::failed, std::strerror(errno));
      default:
        break;
    }
    if (in_run) {
      run_ended_ = true;
      if (const FoundFrame found = find_rtu_frame(bytes_, 0, false); found.found()) {
        return take(found);
      }
      const std::size_t run_start = bytes_.size() - run_;
      run_ = 0;
      // A run cut short may go on after a pause an adapter made; one as long
      // as its shape is a broken frame.
      if (unit_ >= 0 && bytes_.size() - run_start >= kMinRtuFrame && bytes_[run_start] == unit_) {
        const std::size_t length = rtu_length_at(bytes_, run_start);
        if (length >= kMinRtuFrame && length != kUnknown && bytes_.size() - run_start >= length) {
          return give_up(FrameRead::broken, "bad CRC");
        }
      }
    }
    if (LineClock::now() >= deadline) {
      return longest_run_ >= kMinRtuFrame
                 ? give_up(FrameRead::broken, std::to_string(bytes_.size()) +
                                                  (bytes_.size() == 1 ? " byte" : " bytes") +
                                                  " that make no frame")
                 : give_up(FrameRead::silence, "");
    }
  }
}

FrameRead RtuFramer::take(FoundFrame found) {
  FrameRead read;
  read.outcome = FrameRead::frame;
  const auto begin = bytes_.begin() + static_cast<std::ptrdiff_t>(found.at);
  const auto end = begin + static_cast<std::ptrdiff_t>(found.length);
  read.bytes.assign(begin, end);
  read.last_byte = last_byte_;
  dropped_ += found.at;
  bytes_.erase(bytes_.begin(), end);
  longest_run_ = std::min(longest_run_, bytes_.size());
  run_ = std::min(run_, bytes_.size());
  return read;
}

FrameRead RtuFramer::give_up(FrameRead::Outcome outcome, std::string why) {
  FrameRead read;
  read.outcome = outcome;
  read.why = std::move(why);
  read.bytes.swap(bytes_);
  read.last_byte = last_byte_;
  dropped_ += read.bytes.size();
  longest_run_ = 0;
  run_ = 0;
  run_ended_ = true;
  return read;
}

namespace {

enum class Fill : unsigned char { done, timed_out, closed, failed, stopped };

// Reads into `read.bytes` until it holds `wanted` bytes.
Fill fill(int fd, int stop_fd, FrameRead& read, std::size_t wanted,
          LineClock::time_point first_byte, LineClock::duration byte_gap) {
  while (read.bytes.size() < wanted) {
    const LineClock::time_point deadline =
        read.bytes.empty() ? first_byte : read.last_byte + byte_gap;
    const Wait wait = wait_readable(fd, stop_fd, deadline);
    switch (wait) {
      case Wait::timed_out:
        return Fill::timed_out;
      case Wait::stopped:
        return Fill::stopped;
      case Wait::hung_up:
        return Fill::closed;
      case Wait::failed:
        read.why = std::strerror(errno);
        return Fill::failed;
      case Wait::ready:
        break;
    }
    const std::size_t have = read.bytes.size();
    read.bytes.resize(wanted);
    const ssize_t got = ::read(fd, read.bytes.data() + have, wanted - have);
    read.bytes.resize(have + static_cast<std::size_t>(std::max<ssize_t>(got, 0)));
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
    case Fill::stopped:
      read.outcome = FrameRead::stopped;
      break;
  }
  return read;
}

}  // namespace

FrameRead read_tcp_frame(int fd, int stop_fd, LineClock::time_point first_byte,
                         LineClock::duration byte_gap) {
  FrameRead read;
  Fill step = fill(fd, stop_fd, read, kMbapHeaderLength, first_byte, byte_gap);
  if (step == Fill::done) {
    const std::size_t length =
        static_cast<std::size_t>((read.bytes[kMbapLengthAt] << 8) | read.bytes[kMbapLengthAt + 1]);
    if (length < kMinMbapLength || length > kMaxMbapLength || read.bytes[2] != 0 ||
        read.bytes[3] != 0) {
      read.outcome = FrameRead::broken;
      read.why = read.bytes[2] != 0 || read.bytes[3] != 0
                     ? "not a Modbus protocol id"
                     : "MBAP length " + std::to_string(length) + " out of range";
      return read;
    }
    step = fill(fd, stop_fd, read, kMbapUncounted + length, first_byte, byte_gap);
  }
  return finish(std::move(read), step);
}

Quiet wait_for_silence(int fd, int stop_fd, LineClock::time_point since,
                       LineClock::duration silence, LineClock::time_point give_up) {
  Quiet quiet;
  quiet.last_byte = since;
  std::array<unsigned char, kChunk> chunk{};
  while (true) {
    const LineClock::time_point quiet_at = quiet.last_byte + silence;
    const Wait wait = wait_readable(fd, stop_fd, std::min(quiet_at, give_up));
    if (wait != Wait::ready) {
      quiet.stopped = wait == Wait::stopped;
      quiet.silent = wait == Wait::timed_out && LineClock::now() >= quiet_at;
      return quiet;
    }
    const ssize_t got = ::read(fd, chunk.data(), chunk.size());
    if (got > 0) {
      quiet.bytes.insert(quiet.bytes.end(), chunk.begin(), chunk.begin() + got);
      quiet.last_byte = LineClock::now();
    } else if ((got == 0 && hung_up(fd)) || (got < 0 && errno != EINTR && errno != EAGAIN)) {
      return quiet;
    }
  }
}

std::size_t discard_pending(int fd) {
  std::array<unsigned char, kChunk> chunk{};
  std::size_t discarded = 0;
  while (true) {
    const ssize_t got = ::recv(fd, chunk.data(), chunk.size(), MSG_DONTWAIT);
    if (got <= 0) {
      return discarded;
    }
    discarded += static_cast<std::size_t>(got);
  }
}

}  // namespace sitehost
