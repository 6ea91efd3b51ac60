#include "host/services/modbus_link.h"

#include <linux/serial.h>
#include <modbus.h>
#include <netdb.h>
#include <sys/ioctl.h>
#include <sys/socket.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <sstream>
#include <string>

#include "host/modbus_exception.h"
#include "host/services/line_timing.h"

namespace sitehost {
namespace {

constexpr int kMicrosecondsPerMillisecond = 1000;
constexpr int kMillisecondsPerSecond = 1000;
constexpr unsigned char kExceptionFlag = modbus_exception::kFlag;
constexpr std::size_t kExceptionPduLength = 2;
constexpr unsigned kAcknowledge = 0x05;  // accepted, still working: a read may ask again
constexpr unsigned kBusy = 0x06;         // busy, nothing done: any request may ask again
constexpr unsigned kNoException = 0x100;
// A serial line that talks on for as long as this many frames of the
// greatest length is given up on, and opened again.
constexpr std::size_t kTalkingFrames = 2;
constexpr std::size_t kOverdueKept = 8;
// A reply later than this many time-outs past its deadline is not told late.
constexpr int kLateWithin = 4;
// 1.5 characters: the silence that ends a frame (a fixed 750 µs above 19200 baud).
constexpr int kFrameEndHalfCharacters = 3;
constexpr int kFrameSilenceHalfCharacters = 7;

void set_response_timeout(modbus_t* context, std::chrono::milliseconds timeout) {
  const auto ms = static_cast<uint32_t>(timeout.count());
  modbus_set_response_timeout(context, ms / kMillisecondsPerSecond,
                              (ms % kMillisecondsPerSecond) * kMicrosecondsPerMillisecond);
}

std::string seconds_text(std::chrono::milliseconds span) {
  std::ostringstream text;
  text << static_cast<double>(span.count()) / kMillisecondsPerSecond << " s";
  return text.str();
}

std::string milliseconds_text(LineClock::duration span) {
  return std::to_string(std::chrono::duration_cast<std::chrono::milliseconds>(span).count()) +
         " ms";
}

std::string hex_byte(unsigned value) {
  char text[sizeof "0x00"];
  std::snprintf(text, sizeof text, "0x%02X", value & 0xFFU);
  return text;
}

// Empty when the host name or address resolves, else the resolver's
// reason: libmodbus resolves it too, but reports a name it cannot resolve as
// a refused connection.
std::string resolution_failure(const std::string& host) {
  addrinfo hints{};
  hints.ai_family = AF_UNSPEC;
  hints.ai_socktype = SOCK_STREAM;
  addrinfo* found = nullptr;
  const int error = getaddrinfo(host.c_str(), nullptr, &hints, &found);
  if (error != 0) {
    return gai_strerror(error);
  }
  freeaddrinfo(found);
  return {};
}

// A reply's function code answers a request's when it is the same, or the
// same with the exception flag.
bool answers(unsigned char reply_function, unsigned char request_function) {
  return (reply_function & ~kExceptionFlag) == request_function;
}

// The exception code of a reply PDU, none for a normal reply.
std::optional<unsigned> exception_code(const std::vector<unsigned char>& pdu) {
  if (pdu.size() == kExceptionPduLength && (pdu[0] & kExceptionFlag) != 0) {
    return pdu[1];
  }
  return std::nullopt;
}

bool reads(const RawRequest& raw) { return raw.bytes[1] != 0x06; }

// The 1.5-character silence that ends an RTU frame.
LineClock::duration frame_end(const SerialLine& line) {
  return frame_silence(line) * kFrameEndHalfCharacters / kFrameSilenceHalfCharacters;
}

}  // namespace

ModbusLink::ModbusLink(BusAddress address, LinkTiming timing)
    : address_(std::move(address)), timing_(timing) {}

ModbusLink::~ModbusLink() {
  close_bus();
  port_lock_.release();
}

LinkResult ModbusLink::open() {
  if (context_ != nullptr) {
    return LinkResult::success();
  }
  LinkResult opened = connect();
  if (opened.is_ok()) {
    backoff_.succeeded();
    opened_before_ = true;
  }
  return opened;
}

LinkResult ModbusLink::open_bus(LinkCounters& counted) {
  if (context_ != nullptr) {
    return LinkResult::success();
  }
  const LineClock::time_point now = LineClock::now();
  if (backoff_.waiting(now)) {
    ++counted.open_failures;
    return last_open_failure_;
  }
  LinkResult opened = connect();
  if (opened.is_ok()) {
    backoff_.succeeded();
    counted.reconnects += opened_before_ ? 1 : 0;
    opened_before_ = true;
    return opened;
  }
  ++counted.open_failures;
  last_open_failure_ = opened;
  // The back-off is told once, with the first failure of a series; a device
  // held by another process is told as such.
  if (backoff_.failed(now) && opened.status == LinkResult::link_down) {
    opened.text += "; opening it again in " + seconds_text(ConnectBackoff::kFirstDelay) +
                   ", then at doubling intervals up to " + seconds_text(ConnectBackoff::kMaxDelay);
  }
  return opened;
}

LinkResult ModbusLink::connect() {
  const std::string name = address_.name();
  if (serial()) {
    const SerialLine& line = address_.line;
    // The lock is kept across reopening; a device that came back under the
    // same name is another device, taken anew.
    if (port_lock_.held() && !port_lock_.holds(line.device)) {
      port_lock_.release();
    }
    std::string why;
    const SerialPortLock::Outcome taken =
        port_lock_.held() ? SerialPortLock::Outcome::taken : port_lock_.take(line.device, why);
    if (taken != SerialPortLock::Outcome::taken) {
      return LinkResult::failure(taken == SerialPortLock::Outcome::in_use ? LinkResult::in_use
                                 : taken == SerialPortLock::Outcome::not_serial
                                     ? LinkResult::not_serial
                                     : LinkResult::link_down,
                                 "cannot open " + name + ": " + why);
    }
    context_ =
        modbus_new_rtu(line.device.c_str(), line.baud, line.parity, line.data_bits, line.stop_bits);
  } else {
    const std::string unresolved = resolution_failure(address_.endpoint.host);
    if (!unresolved.empty()) {
      return LinkResult::failure(
          LinkResult::link_down,
          "cannot resolve host " + address_.endpoint.host + ": " + unresolved);
    }
    // libmodbus tries every address the name resolves to.
    const std::string port = std::to_string(address_.endpoint.port);
    context_ = modbus_new_tcp_pi(address_.endpoint.host.c_str(), port.c_str());
  }
  if (context_ == nullptr) {
    return LinkResult::failure(LinkResult::link_down,
                               "cannot set up " + name + ": " + std::strerror(errno));
  }
  // libmodbus bounds a TCP connection attempt by its response time-out.
  const std::chrono::milliseconds connect_timeout =
      timing_.response_timeout.value_or(kMinResponseTimeout);
  set_response_timeout(context_, connect_timeout);
  if (modbus_connect(context_) != 0) {
    // A TCP attempt that timed out leaves the errno of the pending connect.
    const std::string why = errno == EINPROGRESS
                                ? "connection timed out after " + milliseconds_text(connect_timeout)
                                : modbus_strerror(errno);
    close_bus();
    return LinkResult::failure(LinkResult::link_down, "cannot open " + name + ": " + why);
  }
  if (serial()) {
    set_terminal_exclusive(modbus_get_socket(context_), true);
    line_busy_until_ = LineClock::now();
    if (address_.line.rs485.enabled) {
      return set_rs485();
    }
  }
  return LinkResult::success();
}

LinkResult ModbusLink::set_rs485() {
  const Rs485& rs485 = address_.line.rs485;
  // The driver's own RS-485 mode switches the transceiver in time; without
  // one, libmodbus raises RTS from user space around each request.
  serial_rs485 mode{};
  mode.flags =
      SER_RS485_ENABLED | (rs485.rts_up ? SER_RS485_RTS_ON_SEND : SER_RS485_RTS_AFTER_SEND);
  const int delay_ms = (rs485.rts_delay_us.value_or(0) + kMicrosecondsPerMillisecond - 1) /
                       kMicrosecondsPerMillisecond;
  mode.delay_rts_before_send = static_cast<__u32>(delay_ms);
  mode.delay_rts_after_send = static_cast<__u32>(delay_ms);
  if (::ioctl(modbus_get_socket(context_), TIOCSRS485, &mode) == 0) {
    rs485_mode_ = "the driver's RS-485 mode switches the transceiver";
    return LinkResult::success();
  }
  const int kernel_error = errno;
  const bool user_space =
      (kernel_error == ENOTTY || kernel_error == ENOSYS || kernel_error == EINVAL) &&
      modbus_rtu_set_rts(context_, rs485.rts_up ? MODBUS_RTU_RTS_UP : MODBUS_RTU_RTS_DOWN) == 0 &&
      (!rs485.rts_delay_us || modbus_rtu_set_rts_delay(context_, *rs485.rts_delay_us) == 0);
  if (user_space) {
    rs485_mode_ = std::string("its driver has no RS-485 mode (") + std::strerror(kernel_error) +
                  "): RTS switched from user space around each request";
    return LinkResult::success();
  }
  const int error = errno;
  close_bus();
  return LinkResult::failure(
      LinkResult::mode_refused,
      "cannot put " + address_.name() + " in RS-485 mode: " + std::strerror(error));
}

void ModbusLink::close_bus() {
  if (context_ != nullptr) {
    if (serial() && modbus_get_socket(context_) >= 0) {
      set_terminal_exclusive(modbus_get_socket(context_), false);
    }
    modbus_close(context_);
    modbus_free(context_);
    context_ = nullptr;
  }
}

void ModbusLink::change_line(const SerialLine& line) {
  close_bus();
  address_.line = line;
  longest_exchange_ = 0;
}

LinkTiming ModbusLink::timing_of(int unit_id) const {
  LinkTiming timing = timing_;
  const auto own = unit_timing_.find(unit_id);
  if (own != unit_timing_.end()) {
    timing.response_timeout =
        own->second.response_timeout ? own->second.response_timeout : timing.response_timeout;
    timing.retries = own->second.retries.value_or(timing.retries);
  }
  return timing;
}

std::chrono::milliseconds ModbusLink::response_timeout(const RawRequest& raw,
                                                       const ModbusRequest& request,
                                                       const LinkTiming& timing) {
  if (timing.response_timeout) {
    return *timing.response_timeout;
  }
  if (!serial()) {
    return kMinResponseTimeout;
  }
  longest_exchange_ =
      std::max(longest_exchange_, raw.bytes.size() + kRtuCrcLength + rtu_reply_length(request));
  return default_response_timeout(address_.line, longest_exchange_);
}

LinkResult ModbusLink::exchange(int unit_id, const ModbusRequest& request,
                                std::vector<unsigned char>& pdu) {
  const RawRequest raw = raw_request(unit_id, request);
  if (!raw.error.empty()) {
    return LinkResult::failure(LinkResult::broken_frame, raw.error);
  }
  if (stop_.raised()) {
    return LinkResult::failure(LinkResult::stopped, "stopped");
  }
  LinkCounters& counted = counters_[unit_id];
  ++counted.exchanges;
  counting_ = &counted;
  const LinkTiming timing = timing_of(unit_id);
  const std::chrono::milliseconds timeout = response_timeout(raw, request, timing);
  counted.response_timeout = timeout;
  last_exception_[unit_id].reset();
  int retries_left = timing.retries;
  bool resent = false;
  LinkResult result;
  while (true) {
    ++counted.attempts;
    const Attempt ended = attempt(unit_id, raw, rtu_reply_length(request), timing, timeout, pdu);
    result = ended.result;
    const unsigned code =
        result.is_ok() ? exception_code(pdu).value_or(kNoException) : kNoException;
    // A repeat is safe for a read; for a write only while the unit cannot
    // have carried it out.
    const bool busy = code == kBusy || (code == kAcknowledge && reads(raw));
    const bool failed_safely = result.status == LinkResult::no_reply ||
                               result.status == LinkResult::broken_frame || ended.peer_closed;
    const bool repeat_safe = reads(raw) || ended.unit_untouched || code == kBusy;
    if (ended.peer_closed && !resent && repeat_safe) {
      resent = true;
      ++counted.resends;
      continue;
    }
    if ((busy || failed_safely || ended.unit_untouched) && repeat_safe && retries_left > 0 &&
        !stop_.raised()) {
      --retries_left;
      ++counted.retries;
      continue;
    }
    break;
  }
  if (result.is_ok()) {
    last_exception_[unit_id] = exception_code(pdu);
  }
  counting_ = &outside_exchanges_;
  return result;
}

ModbusLink::Attempt ModbusLink::attempt(int unit_id, const RawRequest& raw,
                                        std::size_t reply_length, const LinkTiming& timing,
                                        std::chrono::milliseconds timeout,
                                        std::vector<unsigned char>& pdu) {
  Attempt ended;
  ended.unit_untouched = true;
  if (ended.result = open_bus(*counting_); !ended.result.is_ok()) {
    ended.unit_untouched = false;  // an open that failed is not tried again at once
    return ended;
  }
  if (serial()) {
    const Quiet quiet = quiet_line(line_busy_until_, frame_silence(address_.line));
    if (!quiet.silent) {
      ended.unit_untouched = false;
      if (quiet.stopped) {
        ended.result = stopped();
      } else if (context_ != nullptr && hung_up(modbus_get_socket(context_))) {
        ended.result = lost("the device is gone: it hung up");
      } else {
        close_bus();
        ++counting_->broken_frames;
        ended.result = LinkResult::failure(LinkResult::broken_frame,
                                           "the line of " + address_.name() + " never fell silent");
      }
      return ended;
    }
  } else {
    counting_->stale_bytes += discard_pending(modbus_get_socket(context_));
  }
  const LineClock::time_point sent = LineClock::now();
  if (!send(raw, ended)) {
    return ended;
  }
  ended.unit_untouched = false;
  ++counting_->requests;
  if (serial()) {
    line_busy_until_ = sent + wire_time(address_.line, raw.bytes.size() + kRtuCrcLength);
    ended.result = receive_rtu(unit_id, raw, reply_length, sent, timeout, timing, pdu);
  } else {
    ended.result = receive_tcp(unit_id, raw, sent, timeout, pdu, ended);
  }
  return ended;
}

bool ModbusLink::send(const RawRequest& raw, Attempt& ended) {
  bool sent = false;
  if (serial()) {
    sent = modbus_send_raw_request(context_, raw.bytes.data(),
                                   static_cast<int>(raw.bytes.size())) >= 0;
  } else {
    ++transaction_;
    const std::vector<unsigned char> adu = tcp_request(transaction_, raw);
    std::size_t done = 0;
    while (done < adu.size()) {
      const ssize_t put =
          ::send(modbus_get_socket(context_), adu.data() + done, adu.size() - done, MSG_NOSIGNAL);
      if (put < 0 && errno == EINTR) {
        continue;
      }
      if (put <= 0) {
        break;
      }
      done += static_cast<std::size_t>(put);
    }
    sent = done == adu.size();
    // Part of a request on the wire may have reached the unit.
    ended.unit_untouched = done == 0;
  }
  if (sent) {
    return true;
  }
  const int error = errno;
  ended.peer_closed = !serial() && (error == EPIPE || error == ECONNRESET);
  ended.result = lost(ended.peer_closed ? "connection closed by the peer"
                                        : "cannot send: " + std::string(std::strerror(error)));
  return false;
}

LinkResult ModbusLink::receive_rtu(int unit_id, const RawRequest& raw, std::size_t reply_length,
                                   LineClock::time_point sent, std::chrono::milliseconds timeout,
                                   const LinkTiming& timing, std::vector<unsigned char>& pdu) {
  const LineClock::time_point deadline = sent + timeout;
  RtuFramer framer(modbus_get_socket(context_), stop_.fd(), frame_end(address_.line),
                   wire_time(address_.line, MODBUS_RTU_MAX_ADU_LENGTH), unit_id);
  int other_unit = 0;
  int set_aside = 0;
  LinkResult result;
  while (true) {
    const FrameRead read = framer.next(deadline);
    if (!read.bytes.empty()) {
      line_busy_until_ = std::max(line_busy_until_, read.last_byte);
    }
    if (read.outcome == FrameRead::frame) {
      const int sender = read.bytes[0];
      const unsigned char function = read.bytes[1];
      if (sender != unit_id) {
        if (!count_if_late(sender, function, 0, read.last_byte)) {
          ++counting_->other_unit_frames;
        }
        other_unit = sender;
        ++set_aside;
        continue;
      }
      // A normal reply of another length answers another request.
      const bool fits = (function & kExceptionFlag) != 0 || read.bytes.size() == reply_length;
      if (!answers(function, raw.bytes[1]) || !fits) {
        if (count_if_late(sender, function, 0, read.last_byte)) {
          continue;
        }
        result = refuse_frame(!answers(function, raw.bytes[1])
                                  ? "a reply under function " + hex_byte(function) +
                                        " to a request of function " + hex_byte(raw.bytes[1])
                                  : "a reply of " + std::to_string(read.bytes.size()) +
                                        " bytes to a request of " + std::to_string(reply_length));
        break;
      }
      const ReplyFrame frame =
          strip_adu(Framing::rtu, read.bytes.data(), read.bytes.size(), unit_id);
      result = take_reply(frame, sent, read.last_byte, pdu);
      break;
    }
    if (read.outcome == FrameRead::silence) {
      counting_->stale_bytes += framer.dropped();
      overdue_.push_back({unit_id, raw.bytes[1], 0, deadline, timeout});
      if (timing.drain_after_silence) {
        watch_for_late(deadline + timeout);
      }
      result = timed_out(timeout, set_aside == 0 ? ""
                                                 : "; " + std::to_string(set_aside) +
                                                       (set_aside == 1 ? " frame" : " frames") +
                                                       " set aside (from unit " +
                                                       std::to_string(other_unit) + ")");
      result.other_unit = other_unit;
      return result;
    }
    result = read.outcome == FrameRead::broken    ? refuse_frame(read.why)
             : read.outcome == FrameRead::stopped ? stopped()
                                                  : lost("the device is gone: " + read.why);
    break;
  }
  counting_->stale_bytes += framer.dropped() + framer.left();
  result.other_unit = other_unit;
  return result;
}

LinkResult ModbusLink::receive_tcp(int unit_id, const RawRequest& raw, LineClock::time_point sent,
                                   std::chrono::milliseconds timeout,
                                   std::vector<unsigned char>& pdu, Attempt& ended) {
  const int fd = modbus_get_socket(context_);
  const LineClock::time_point deadline = sent + timeout;
  bool behind = false;  // the peer answered a request that timed out before
  while (true) {
    const FrameRead read = read_tcp_frame(fd, stop_.fd(), deadline, timeout);
    switch (read.outcome) {
      case FrameRead::frame:
        break;
      case FrameRead::silence:
        overdue_.push_back({unit_id, raw.bytes[1], transaction_, deadline, timeout});
        // A peer still working through requests that timed out would answer
        // this one later still: a new connection leaves that queue behind.
        if (behind) {
          close_bus();
        }
        return timed_out(timeout, "");
      case FrameRead::broken: {
        LinkResult refused = refuse_frame(read.why);
        close_bus();  // the stream's framing is lost
        return refused;
      }
      case FrameRead::stopped:
        return stopped();
      case FrameRead::closed:
      case FrameRead::gone:
        ended.peer_closed = read.bytes.empty();
        return lost(read.bytes.empty() ? "connection closed by the peer"
                                       : "connection closed by the peer during the reply");
      case FrameRead::failed:
        return lost("connection lost: " + read.why);
    }
    const std::uint16_t transaction = tcp_transaction(read.bytes.data());
    if (transaction != transaction_) {
      if (count_if_late(read.bytes[6], read.bytes[7], transaction, read.last_byte)) {
        behind = true;
      } else {
        ++counting_->other_transactions;
      }
      continue;
    }
    const ReplyFrame frame =
        strip_adu(Framing::tcp, read.bytes.data(), read.bytes.size(), unit_id, transaction);
    if (frame.ok() && !answers(frame.pdu[0], raw.bytes[1])) {
      ++counting_->broken_frames;
      return LinkResult::failure(LinkResult::broken_frame,
                                 "a reply under function " + hex_byte(frame.pdu[0]) +
                                     " to a request of function " + hex_byte(raw.bytes[1]));
    }
    if (!frame.ok()) {
      ++counting_->broken_frames;
      return LinkResult::failure(LinkResult::broken_frame, frame.error);
    }
    return take_reply(frame, sent, read.last_byte, pdu);
  }
}

LinkResult ModbusLink::take_reply(const ReplyFrame& frame, LineClock::time_point sent,
                                  LineClock::time_point last_byte,
                                  std::vector<unsigned char>& pdu) {
  if (!frame.ok()) {
    return refuse_frame(frame.error);
  }
  ++counting_->replies;
  counting_->response_times.record(
      std::chrono::duration_cast<std::chrono::microseconds>(last_byte - sent));
  pdu.assign(frame.pdu, frame.pdu + frame.length);
  if (const std::optional<unsigned> code = exception_code(pdu)) {
    ++counting_->exceptions[*code];
  }
  return LinkResult::success();
}

LinkResult ModbusLink::timed_out(std::chrono::milliseconds timeout, const std::string& set_aside) {
  ++counting_->timeouts;
  while (overdue_.size() > kOverdueKept) {
    overdue_.pop_front();
  }
  return LinkResult::failure(LinkResult::no_reply,
                             "no reply within " + milliseconds_text(timeout) + set_aside);
}

LinkResult ModbusLink::refuse_frame(const std::string& why) {
  ++counting_->broken_frames;
  resynchronise();
  return LinkResult::failure(LinkResult::broken_frame, why);
}

LinkResult ModbusLink::lost(const std::string& why) {
  close_bus();
  ++counting_->connection_losses;
  return LinkResult::failure(LinkResult::link_down, why);
}

LinkResult ModbusLink::stopped() {
  ++counting_->interrupted;
  return LinkResult::failure(LinkResult::stopped, "stopped");
}

bool ModbusLink::count_if_late(int unit_id, unsigned char function, std::uint16_t transaction,
                               LineClock::time_point arrived) {
  for (auto overdue = overdue_.begin(); overdue != overdue_.end(); ++overdue) {
    if (overdue->unit_id == unit_id && answers(function, overdue->function) &&
        overdue->transaction == transaction &&
        arrived - overdue->deadline <= kLateWithin * overdue->timeout) {
      LinkCounters& counted = counters_[unit_id];
      ++counted.late_replies;
      counted.most_late = std::max(
          counted.most_late,
          std::chrono::duration_cast<std::chrono::microseconds>(arrived - overdue->deadline));
      overdue_.erase(overdue);
      return true;
    }
  }
  return false;
}

void ModbusLink::find_late_replies(const std::vector<unsigned char>& bytes,
                                   LineClock::time_point arrived) {
  for (FoundFrame found = find_rtu_frame(bytes, 0, false); found.found();
       found = find_rtu_frame(bytes, found.at + found.length, false)) {
    count_if_late(bytes[found.at], bytes[found.at + 1], 0, arrived);
  }
}

void ModbusLink::watch_for_late(LineClock::time_point until) {
  const Quiet quiet = quiet_line(
      LineClock::now(),
      std::max<LineClock::duration>(until - LineClock::now(), drain_silence(address_.line)));
  if (!quiet.silent && !quiet.stopped) {
    close_bus();
  }
}

void ModbusLink::resynchronise() {
  if (context_ == nullptr) {
    return;
  }
  if (!serial()) {
    return;
  }
  const Quiet quiet = quiet_line(LineClock::now(), drain_silence(address_.line));
  if (!quiet.silent && !quiet.stopped) {
    close_bus();
  }
}

Quiet ModbusLink::quiet_line(LineClock::time_point since, LineClock::duration silence) {
  const LineClock::time_point from = std::max(since, LineClock::now());
  const LineClock::duration talking =
      wire_time(address_.line, kTalkingFrames * MODBUS_RTU_MAX_ADU_LENGTH);
  Quiet quiet = wait_for_silence(modbus_get_socket(context_), stop_.fd(), since, silence,
                                 from + silence + talking);
  counting_->stale_bytes += quiet.bytes.size();
  if (!quiet.bytes.empty()) {
    line_busy_until_ = std::max(line_busy_until_, quiet.last_byte);
    find_late_replies(quiet.bytes, quiet.last_byte);
  }
  return quiet;
}

void ModbusLink::refuse_reply(int unit_id) {
  LinkCounters& counted = counters_[unit_id];
  counted.replies -= counted.replies > 0 ? 1 : 0;
  ++counted.broken_frames;
  std::optional<unsigned>& code = last_exception_[unit_id];
  if (code) {
    auto refused = counted.exceptions.find(*code);
    if (refused != counted.exceptions.end() && --refused->second == 0) {
      counted.exceptions.erase(refused);
    }
    code.reset();
  }
  counting_ = &counted;
  resynchronise();
  counting_ = &outside_exchanges_;
}

void ModbusLink::count_cycle(int unit_id, bool completed) {
  LinkCounters& counted = counters_[unit_id];
  ++(completed ? counted.cycles_completed : counted.cycles_failed);
}

const LinkCounters& ModbusLink::counters(int unit_id) const {
  static const LinkCounters kNone;
  const auto found = counters_.find(unit_id);
  return found != counters_.end() ? found->second : kNone;
}

}  // namespace sitehost
