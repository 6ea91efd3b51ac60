#include "host/services/modbus_link.h"

#include <modbus.h>
#include <netdb.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <sstream>
#include <string>

#include "host/services/line_timing.h"

namespace sitehost {
namespace {

constexpr int kMicrosecondsPerMillisecond = 1000;
constexpr int kMillisecondsPerSecond = 1000;
constexpr unsigned char kExceptionFlag = 0x80;
constexpr std::size_t kExceptionPduLength = 2;
// A serial line that talks on for as long as this many frames of the
// greatest length is given up on, and opened again.
constexpr std::size_t kTalkingFrames = 2;

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

// Frames set aside during one exchange, for its result.
struct SetAside {
  int frames = 0;
  int other_unit = 0;  // the last other unit address among them

  LinkResult noted(LinkResult result) const {
    result.other_unit = other_unit;
    if (frames > 0 && !result.is_ok()) {
      result.text += "; " + std::to_string(frames) + (frames == 1 ? " frame" : " frames") +
                     " set aside" +
                     (other_unit != 0 ? " (from unit " + std::to_string(other_unit) + ")" : "");
    }
    return result;
  }
};

}  // namespace

ModbusLink::ModbusLink(BusAddress address, LinkTiming timing)
    : address_(std::move(address)), timing_(timing) {}

ModbusLink::~ModbusLink() { disconnect(); }

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
    const std::string why = std::strerror(errno);
    port_lock_.release();
    return LinkResult::failure(LinkResult::link_down, "cannot set up " + name + ": " + why);
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
    disconnect();
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
  const bool set =
      modbus_rtu_set_serial_mode(context_, MODBUS_RTU_RS485) == 0 &&
      modbus_rtu_set_rts(context_, rs485.rts_up ? MODBUS_RTU_RTS_UP : MODBUS_RTU_RTS_DOWN) == 0 &&
      (!rs485.rts_delay_us || modbus_rtu_set_rts_delay(context_, *rs485.rts_delay_us) == 0);
  if (set) {
    return LinkResult::success();
  }
  const int error = errno;
  disconnect();
  // Drivers without RS-485 support refuse its ioctl in one of these ways.
  const bool unsupported = error == ENOTTY || error == ENOSYS || error == EINVAL;
  return LinkResult::failure(
      LinkResult::mode_refused,
      "cannot put " + address_.name() + " in RS-485 mode: " +
          (unsupported ? "its driver has no RS-485 mode (" + std::string(std::strerror(error)) + ")"
                       : std::string(std::strerror(error))));
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

void ModbusLink::disconnect() {
  close_bus();
  port_lock_.release();
}

void ModbusLink::change_line(const SerialLine& line) {
  close_bus();
  address_.line = line;
  longest_exchange_ = 0;
}

std::chrono::milliseconds ModbusLink::response_timeout(const RawRequest& raw,
                                                       const ModbusRequest& request) {
  if (timing_.response_timeout) {
    return *timing_.response_timeout;
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
  LinkCounters& counted = counters_[unit_id];
  ++counted.exchanges;
  counting_ = &counted;
  const std::chrono::milliseconds timeout = response_timeout(raw, request);
  // A request whose TCP connection the peer had closed goes out once more:
  // the unit never answered it, and reads and single-register writes may be
  // repeated.
  LinkResult result;
  for (int sending = 1;; ++sending) {
    if (result = open_bus(counted); !result.is_ok()) {
      break;
    }
    bool peer_closed = false;
    result = send_and_receive(unit_id, raw, timeout, pdu, peer_closed);
    if (!peer_closed || sending == 2) {
      break;
    }
    ++counted.resends;
  }
  counting_ = &outside_exchanges_;
  return result;
}

LinkResult ModbusLink::send_and_receive(int unit_id, const RawRequest& raw,
                                        std::chrono::milliseconds timeout,
                                        std::vector<unsigned char>& pdu, bool& peer_closed) {
  if (serial() && !quiet_line(line_busy_until_, frame_silence(address_.line))) {
    disconnect();
    return LinkResult::failure(LinkResult::link_down,
                               "the line of " + address_.name() + " never fell silent");
  }
  const LineClock::time_point sent = LineClock::now();
  if (modbus_send_raw_request(context_, raw.bytes.data(), static_cast<int>(raw.bytes.size())) < 0) {
    const int error = errno;
    disconnect();
    ++counting_->connection_losses;
    peer_closed = !serial() && (error == EPIPE || error == ECONNRESET);
    return LinkResult::failure(LinkResult::link_down,
                               peer_closed ? "connection closed by the peer"
                                           : "cannot send: " + std::string(std::strerror(error)));
  }
  ++counting_->requests;
  if (serial()) {
    line_busy_until_ = sent + wire_time(address_.line, raw.bytes.size() + kRtuCrcLength);
  }
  return receive(unit_id, raw, sent, timeout, pdu, peer_closed);
}

LinkResult ModbusLink::receive(int unit_id, const RawRequest& raw, LineClock::time_point sent,
                               std::chrono::milliseconds timeout, std::vector<unsigned char>& pdu,
                               bool& peer_closed) {
  const int fd = modbus_get_socket(context_);
  const LineClock::time_point first_byte = sent + timeout;
  SetAside set_aside;
  while (true) {
    const FrameRead read = serial() ? read_rtu_frame(fd, first_byte, timeout)
                                    : read_tcp_frame(fd, first_byte, timeout);
    if (serial() && !read.bytes.empty()) {
      line_busy_until_ = std::max(line_busy_until_, read.last_byte);
    }
    switch (read.outcome) {
      case FrameRead::frame:
        break;
      case FrameRead::silence:
        ++counting_->timeouts;
        if (!serial() || timing_.drain_after_silence) {
          resynchronise();
        }
        return set_aside.noted(LinkResult::failure(
            LinkResult::no_reply, "no reply within " + milliseconds_text(timeout)));
      case FrameRead::broken:
        return set_aside.noted(refuse_frame(read.why));
      case FrameRead::closed:
        disconnect();
        ++counting_->connection_losses;
        peer_closed = !serial() && read.bytes.empty();
        return LinkResult::failure(LinkResult::link_down,
                                   serial() ? "connection lost: the line hung up"
                                   : read.bytes.empty()
                                       ? "connection closed by the peer"
                                       : "connection closed by the peer during the reply");
      case FrameRead::failed:
        disconnect();
        ++counting_->connection_losses;
        return LinkResult::failure(LinkResult::link_down, "connection lost: " + read.why);
    }
    // An RTU frame is judged whole before its address is: a frame from
    // another unit is set aside only when it is one.
    const int sender = serial() ? read.bytes[0] : unit_id;
    const ReplyFrame frame = strip_adu(framing(), read.bytes.data(), read.bytes.size(), sender);
    if (!frame.ok()) {
      return set_aside.noted(refuse_frame(frame.error));
    }
    if (sender != unit_id) {
      ++counting_->other_unit_frames;
      ++set_aside.frames;
      set_aside.other_unit = sender;
      continue;
    }
    if (serial() && !answers(frame.pdu[0], raw.bytes[1])) {
      ++counting_->stray_frames;
      ++set_aside.frames;
      continue;
    }
    ++counting_->replies;
    counting_->response_times.record(
        std::chrono::duration_cast<std::chrono::microseconds>(read.last_byte - sent));
    if ((frame.pdu[0] & kExceptionFlag) != 0 && frame.length == kExceptionPduLength) {
      ++counting_->exceptions[frame.pdu[1]];
    }
    pdu.assign(frame.pdu, frame.pdu + frame.length);
    return set_aside.noted(LinkResult::success());
  }
}

LinkResult ModbusLink::refuse_frame(const std::string& why) {
  ++counting_->broken_frames;
  resynchronise();
  return LinkResult::failure(LinkResult::broken_frame, why);
}

void ModbusLink::refuse_reply(int unit_id) {
  LinkCounters& counted = counters_[unit_id];
  counted.replies -= counted.replies > 0 ? 1 : 0;
  ++counted.broken_frames;
  counting_ = &counted;
  resynchronise();
  counting_ = &outside_exchanges_;
}

void ModbusLink::resynchronise() {
  if (context_ == nullptr) {
    return;
  }
  if (!serial() || !quiet_line(LineClock::now(), drain_silence(address_.line))) {
    disconnect();
  }
}

bool ModbusLink::quiet_line(LineClock::time_point since, LineClock::duration silence) {
  const LineClock::time_point from = std::max(since, LineClock::now());
  const LineClock::duration talking =
      wire_time(address_.line, kTalkingFrames * MODBUS_RTU_MAX_ADU_LENGTH);
  const Quiet quiet =
      wait_for_silence(modbus_get_socket(context_), since, silence, from + silence + talking);
  counting_->stale_bytes += quiet.discarded;
  if (quiet.discarded > 0) {
    line_busy_until_ = std::max(line_busy_until_, quiet.last_byte);
  }
  return quiet.silent;
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
