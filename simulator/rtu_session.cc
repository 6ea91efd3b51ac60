#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <optional>

#include "simulator/session.h"

namespace velmocair::sim {
namespace {

// A silence this long ends a partial RTU frame; its bytes are dropped.
constexpr std::chrono::milliseconds kFrameGap(100);
constexpr std::chrono::nanoseconds kForever(-1);

// A reply frame waiting for the line, or on it.
struct Outgoing {
  Clock::time_point start;  // the earliest start; once begun, the start
  std::vector<std::uint8_t> bytes;
  std::size_t sent = 0;
  bool begun = false;
};

// The frames the units have to send, one at a time on the line, in the order
// of their starts, each unit's in the order of its requests. With the units'
// own line settings, each byte reaches the master as its receiver makes it
// out at the settings in force when the byte crosses the line, so that a
// reply still on its way when the master changes its settings is garbled,
// as on a real line.
class Outbox {
 public:
  Outbox(int fd, int settings_fd, const std::optional<LineFormat>& unit_line, LinePace& pace)
      : fd_(fd), settings_fd_(settings_fd), unit_line_(unit_line), pace_(pace) {}

  void add(int unit_id, Clock::time_point start, std::vector<std::uint8_t> bytes) {
    Clock::time_point& unit_free = unit_free_at_[unit_id];
    start = std::max(start, unit_free);
    unit_free = pace_.byte_time(start, bytes.size() - 1) + pace_.silence();
    const auto later = std::upper_bound(
        frames_.begin(), frames_.end(), start,
        [](Clock::time_point time, const Outgoing& frame) { return time < frame.start; });
    frames_.insert(later, Outgoing{start, std::move(bytes), 0, false});
  }

  // A request has begun to arrive: the rest of a frame on the line, which
  // the simulator fell behind in writing, is dropped rather than sent over it.
  void cut_short() {
    if (!frames_.empty() && frames_.front().begun) {
      frames_.erase(frames_.begin());
    }
  }

  // When the next byte is due; none while nothing waits.
  std::optional<Clock::time_point> next_due() const {
    if (frames_.empty()) {
      return std::nullopt;
    }
    const Outgoing& frame = frames_.front();
    return pace_.byte_time(frame.begun ? frame.start : std::max(frame.start, pace_.free_at()),
                           frame.sent);
  }

  // Writes every byte that is due. A frame the master does not read (the
  // terminal's buffer is full) is dropped rather than stalling the line.
  void send_due() {
    while (!frames_.empty()) {
      Outgoing& frame = frames_.front();
      const Clock::time_point now = Clock::now();
      if (!frame.begun) {
        const Clock::time_point start = std::max(frame.start, pace_.free_at());
        if (start > now) {
          return;
        }
        frame.start = start;
        frame.begun = true;
      }
      std::size_t end = frame.sent;
      while (end < frame.bytes.size() && pace_.byte_time(frame.start, end) <= now) {
        ++end;
      }
      if (end == frame.sent) {
        return;
      }
      const std::vector<std::uint8_t> heard =
          as_heard(frame.bytes.data() + frame.sent, end - frame.sent);
      const bool written = heard.empty() || write_all(fd_, false, heard.data(), heard.size());
      pace_.sent(now);
      frame.sent = written ? end : frame.bytes.size();
      if (frame.sent < frame.bytes.size()) {
        return;
      }
      frames_.erase(frames_.begin());
    }
  }

 private:
  // What the master's receiver makes of `length` bytes of a unit now.
  std::vector<std::uint8_t> as_heard(const std::uint8_t* bytes, std::size_t length) const {
    if (!unit_line_) {
      return {bytes, bytes + length};
    }
    const std::optional<LineFormat> master_line = terminal_format(settings_fd_);
    return master_line ? resample(bytes, length, *unit_line_, *master_line)
                       : std::vector<std::uint8_t>{};
  }

  int fd_;
  int settings_fd_;
  const std::optional<LineFormat>& unit_line_;
  LinePace& pace_;
  std::vector<Outgoing> frames_;
  std::map<int, Clock::time_point> unit_free_at_;
};

// The request bytes of the line as they arrive, split into frames.
class RtuLine {
 public:
  RtuLine(const Pty& pty, const ServeContext& context)
      : fd_(pty.master.get()),
        settings_fd_(pty.slave.get()),
        context_(context),
        pace_(context.options.pace_baud),
        outbox_(fd_, settings_fd_, context.options.line, pace_) {}

  void serve() {
    while (true) {
      const Wait wait = context_.stop.wait_readable(fd_, time_to_wake());
      if (wait == Wait::stopped) {
        return;
      }
      if (wait == Wait::ready && !take_bytes()) {
        return;
      }
      if (filled_ > 0 && Clock::now() >= last_received_ + kFrameGap) {
        filled_ = 0;
      }
      outbox_.send_due();
    }
  }

 private:
  std::chrono::nanoseconds time_to_wake() const {
    std::optional<Clock::time_point> wake = outbox_.next_due();
    if (filled_ > 0) {
      wake = std::min(wake.value_or(Clock::time_point::max()), last_received_ + kFrameGap);
    }
    if (!wake) {
      return kForever;
    }
    return std::max(std::chrono::nanoseconds(0), *wake - Clock::now());
  }

  // Reads what arrived and answers every whole request; false when the
  // terminal failed.
  bool take_bytes() {
    const ssize_t got =
        ::read(fd_, buffer_ + filled_, sizeof buffer_ - static_cast<std::size_t>(filled_));
    if (got < 0 && (errno == EINTR || errno == EAGAIN)) {
      return true;
    }
    if (got <= 0) {
      return false;
    }
    const Clock::time_point arrival = Clock::now();
    std::size_t heard = static_cast<std::size_t>(got);
    if (!hear(heard)) {
      return true;
    }
    if (filled_ == 0) {
      early_ = pace_.early(arrival);
      outbox_.cut_short();
    }
    filled_ += static_cast<int>(heard);
    last_received_ = arrival;
    while (filled_ > 0) {
      const int length = rtu_request_length(buffer_, filled_);
      if (length == 0 || length > filled_) {
        // Wait for the rest, unless it can never fit.
        filled_ = filled_ == static_cast<int>(sizeof buffer_) ? 0 : filled_;
        break;
      }
      if (!rtu_crc_matches(buffer_, length)) {
        filled_ = 0;  // a real unit ignores the frame; the next silence realigns
        break;
      }
      answer(length, arrival);
      std::memmove(buffer_, buffer_ + length, static_cast<std::size_t>(filled_ - length));
      filled_ -= length;
      early_ = pace_.early(arrival);  // a request right behind another left no silence
    }
    return true;
  }

  // With the units' own line settings, replaces the `got` bytes that arrived
  // by what the units' receivers make of them at the master's settings;
  // false when they hear nothing.
  bool hear(std::size_t& got) {
    const std::optional<LineFormat>& unit_line = context_.options.line;
    if (!unit_line) {
      return true;
    }
    const std::optional<LineFormat> master_line = terminal_format(settings_fd_);
    std::uint8_t* const arrived = buffer_ + filled_;
    const std::vector<std::uint8_t> heard = master_line
                                                ? resample(arrived, got, *master_line, *unit_line)
                                                : std::vector<std::uint8_t>{};
    got = std::min(heard.size(), sizeof buffer_ - static_cast<std::size_t>(filled_));
    std::copy(heard.begin(), heard.begin() + static_cast<long>(got), arrived);
    return got > 0;
  }

  void answer(int length, Clock::time_point arrival) {
    if (early_ && flag_early_request(buffer_[0], context_)) {
      pace_.reply_start(arrival, length);  // the request still took the line
      return;
    }
    ReplyPlan plan = plan_reply(Transport::rtu, buffer_, length, context_);
    const Clock::time_point start = pace_.reply_start(arrival, plan.request_bytes) + plan.delay;
    if (!plan.frame.empty()) {
      outbox_.add(plan.unit_id, start, std::move(plan.frame));
    }
  }

  const int fd_;
  const int settings_fd_;  // the slave side, whose settings the master set
  const ServeContext& context_;
  LinePace pace_;
  Outbox outbox_;
  std::uint8_t buffer_[kMaxAduLength];
  int filled_ = 0;
  bool early_ = false;  // the frame being received came too early
  Clock::time_point last_received_;
};

}  // namespace

void serve_rtu(const Pty& pty, const ServeContext& context) { RtuLine(pty, context).serve(); }

}  // namespace velmocair::sim
