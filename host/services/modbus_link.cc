#include "host/services/modbus_link.h"

#include <modbus.h>
#include <netdb.h>
#include <poll.h>
#include <unistd.h>

#include <array>
#include <cerrno>
#include <string>

namespace sitehost {
namespace {

constexpr int kMicrosecondsPerMillisecond = 1000;
constexpr int kMillisecondsPerSecond = 1000;
// A line that keeps talking is given up on after this many quiet periods.
constexpr int kMaxDrainPeriods = 20;

void set_timeout(modbus_t* context, std::chrono::milliseconds timeout,
                 int (*setter)(modbus_t*, uint32_t, uint32_t)) {
  const auto ms = static_cast<uint32_t>(timeout.count());
  setter(context, ms / kMillisecondsPerSecond,
         (ms % kMillisecondsPerSecond) * kMicrosecondsPerMillisecond);
}

std::string errno_text() { return modbus_strerror(errno); }

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

}  // namespace

ModbusLink::ModbusLink(BusAddress address, LinkTiming timing)
    : address_(std::move(address)), timing_(timing) {}

ModbusLink::~ModbusLink() { disconnect(); }

LinkResult ModbusLink::connect() {
  if (address_.kind == BusAddress::tcp) {
    const std::string unresolved = resolution_failure(address_.endpoint.host);
    if (!unresolved.empty()) {
      return LinkResult::failure(
          LinkResult::link_down,
          "cannot resolve host " + address_.endpoint.host + ": " + unresolved);
    }
    // libmodbus tries every address the name resolves to.
    const std::string port = std::to_string(address_.endpoint.port);
    context_ = modbus_new_tcp_pi(address_.endpoint.host.c_str(), port.c_str());
  } else {
    const SerialLine& line = address_.line;
    context_ =
        modbus_new_rtu(line.device.c_str(), line.baud, line.parity, line.data_bits, line.stop_bits);
  }
  if (context_ == nullptr) {
    return LinkResult::failure(LinkResult::link_down,
                               "cannot set up " + address_.name() + ": " + errno_text());
  }
  set_timeout(context_, timing_.response_timeout, modbus_set_response_timeout);
  set_timeout(context_, timing_.response_timeout, modbus_set_byte_timeout);
  if (modbus_connect(context_) != 0) {
    const std::string why = errno_text();
    disconnect();
    return LinkResult::failure(LinkResult::link_down,
                               "cannot open " + address_.name() + ": " + why);
  }
  return LinkResult::success();
}

void ModbusLink::disconnect() {
  if (context_ != nullptr) {
    modbus_close(context_);
    modbus_free(context_);
    context_ = nullptr;
  }
}

LinkResult ModbusLink::exchange(int unit_id, const ModbusRequest& request,
                                std::vector<unsigned char>& pdu) {
  const RawRequest raw = raw_request(unit_id, request);
  if (!raw.error.empty()) {
    return LinkResult::failure(LinkResult::broken_frame, raw.error);
  }
  if (context_ == nullptr) {
    if (LinkResult opened = connect(); !opened.is_ok()) {
      return opened;
    }
  }
  // The RTU back end drops replies from other addresses; the slave set here is
  // the one it lets through.
  modbus_set_slave(context_, unit_id);
  if (modbus_send_raw_request(context_, raw.bytes.data(), static_cast<int>(raw.bytes.size())) < 0) {
    const std::string why = errno_text();
    disconnect();
    return LinkResult::failure(LinkResult::link_down, "cannot send: " + why);
  }
  std::array<uint8_t, MODBUS_TCP_MAX_ADU_LENGTH> adu{};
  const int received = modbus_receive_confirmation(context_, adu.data());
  if (received < 0) {
    const int error = errno;
    if (error == ETIMEDOUT) {
      resynchronise();
      return LinkResult::failure(
          LinkResult::no_reply,
          "no reply within " + std::to_string(timing_.response_timeout.count()) + " ms");
    }
    if (error == EMBBADCRC) {
      resynchronise();
      return LinkResult::failure(LinkResult::broken_frame, "bad CRC");
    }
    disconnect();
    return LinkResult::failure(LinkResult::link_down, "connection lost: " + errno_text());
  }
  const ReplyFrame frame =
      strip_adu(framing(), adu.data(), static_cast<std::size_t>(received), unit_id);
  if (!frame.ok()) {
    resynchronise();
    return LinkResult::failure(LinkResult::broken_frame, frame.error);
  }
  pdu.assign(frame.pdu, frame.pdu + frame.length);
  return LinkResult::success();
}

void ModbusLink::resynchronise() {
  if (address_.kind == BusAddress::tcp) {
    disconnect();
  } else {
    drain_serial_line();
  }
}

void ModbusLink::drain_serial_line() {
  const int fd = context_ != nullptr ? modbus_get_socket(context_) : -1;
  if (fd < 0) {
    return;
  }
  std::array<unsigned char, MODBUS_RTU_MAX_ADU_LENGTH> discard{};
  const int quiet_ms = static_cast<int>(timing_.rtu_quiet_period.count());
  for (int period = 0; period < kMaxDrainPeriods; ++period) {
    pollfd waiting{fd, POLLIN, 0};
    if (::poll(&waiting, 1, quiet_ms) <= 0 || ::read(fd, discard.data(), discard.size()) <= 0) {
      return;
    }
  }
  disconnect();  // the line never fell silent: reopen it for the next request
}

}  // namespace sitehost
