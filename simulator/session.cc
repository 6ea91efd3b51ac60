#include "simulator/session.h"

#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <vector>

#include "simulator/pacing.h"

namespace velmocair::sim {
namespace {

// A silence this long ends a partial RTU frame; its bytes are dropped.
constexpr std::chrono::milliseconds kFrameGap(100);
constexpr std::chrono::nanoseconds kForever(-1);
// libmodbus wants line settings for an RTU context; a pty ignores them.
constexpr int kLineBaud = 9600;
constexpr char kLineParity = 'N';
constexpr int kLineDataBits = 8;
constexpr int kLineStopBits = 1;

enum class Next : unsigned char { serve, close, stop };

// A libmodbus context bound to a descriptor it does not own: freed, never closed.
using Context = std::unique_ptr<modbus_t, decltype(&modbus_free)>;

bool alters_reply(const FaultRule* fault) {
  return fault != nullptr &&
         (fault->kind == FaultKind::wrong_echo || fault->kind == FaultKind::broken_frame);
}

// Sends a reply that libmodbus would not send: an altered echo or a broken frame.
bool send_altered(Transport transport, int fd, Unit& unit, const Request& request,
                  const std::uint8_t* adu, int exception, FaultKind kind) {
  std::vector<std::uint8_t> pdu =
      exception != 0
          ? std::vector<std::uint8_t>{static_cast<std::uint8_t>(request.function | kExceptionFlag),
                                      static_cast<std::uint8_t>(exception)}
          : unit.reply_pdu(request);
  if (kind == FaultKind::wrong_echo) {
    raise_echoed_value(pdu);
  }
  std::vector<std::uint8_t> frame = reply_frame(transport, adu, pdu);
  if (kind == FaultKind::broken_frame) {
    break_frame(transport, frame);
  }
  return write_all(fd, transport == Transport::tcp, frame.data(), frame.size());
}

// Carries out one request that arrived whole at `arrival`.
Next answer(Transport transport, modbus_t* modbus, int fd, const std::uint8_t* adu, int length,
            Clock::time_point arrival, const ServeContext& context) {
  const Request request = decode_request(transport, adu, length);
  const auto found = context.units.find(request.unit_id);
  if (found == context.units.end()) {
    return Next::serve;
  }
  Unit& unit = *found->second;
  context.counters.requests.fetch_add(1);
  const FaultRule* const fault = unit.admit(request, context.plan);
  int exception = exception_for(request);
  Clock::time_point deadline = arrival;
  if (fault != nullptr) {
    context.counters.faults[static_cast<std::size_t>(fault->kind)].fetch_add(1);
    switch (fault->kind) {
      case FaultKind::no_reply:
        return Next::serve;
      case FaultKind::drop_connection:
        return transport == Transport::tcp ? Next::close : Next::serve;
      case FaultKind::exception:
        exception = fault->exception_code;
        break;
      case FaultKind::delay:
        deadline += std::chrono::milliseconds(fault->delay_ms);
        break;
      default:
        break;
    }
  }
  if (context.pace_baud > 0) {
    const int reply_pdu = exception != 0 ? kExceptionPduLength : reply_pdu_length(request);
    deadline += exchange_time(request.rtu_length, rtu_length(reply_pdu), context.pace_baud);
  }
  if (!context.stop.sleep_until(deadline)) {
    return Next::stop;
  }
  bool sent = false;
  if (alters_reply(fault)) {
    sent = send_altered(transport, fd, unit, request, adu, exception, fault->kind);
  } else if (exception != 0) {
    sent = modbus_reply_exception(modbus, adu, static_cast<unsigned>(exception)) >= 0;
  } else {
    sent = unit.reply(modbus, adu, length) >= 0;
  }
  return sent || transport == Transport::rtu ? Next::serve : Next::close;
}

}  // namespace

void serve_tcp(const FileDescriptor& connection, const ServeContext& context) {
  const Context modbus(modbus_new_tcp(nullptr, 0), &modbus_free);
  if (!modbus) {
    return;
  }
  modbus_set_socket(modbus.get(), connection.get());
  std::uint8_t adu[MODBUS_TCP_MAX_ADU_LENGTH];
  while (context.stop.wait_readable(connection.get(), kForever) == Wait::ready) {
    // A closed connection or a broken request ends the session.
    const int length = modbus_receive(modbus.get(), adu);
    if (length <= 0) {
      return;
    }
    const Clock::time_point arrival = Clock::now();
    if (answer(Transport::tcp, modbus.get(), connection.get(), adu, length, arrival, context) !=
        Next::serve) {
      return;
    }
  }
}

void serve_rtu(const FileDescriptor& master, const std::string& path, const ServeContext& context) {
  const Context modbus(
      modbus_new_rtu(path.c_str(), kLineBaud, kLineParity, kLineDataBits, kLineStopBits),
      &modbus_free);
  if (!modbus) {
    return;
  }
  modbus_set_socket(modbus.get(), master.get());
  std::uint8_t buffer[kMaxAduLength];
  int filled = 0;
  while (true) {
    const Wait wait = context.stop.wait_readable(
        master.get(), filled > 0 ? std::chrono::nanoseconds(kFrameGap) : kForever);
    if (wait == Wait::stopped) {
      return;
    }
    if (wait == Wait::timed_out) {
      filled = 0;
      continue;
    }
    const ssize_t got =
        ::read(master.get(), buffer + filled, sizeof buffer - static_cast<std::size_t>(filled));
    if (got < 0 && (errno == EINTR || errno == EAGAIN)) {
      continue;
    }
    if (got <= 0) {
      return;
    }
    filled += static_cast<int>(got);
    const Clock::time_point arrival = Clock::now();
    while (filled > 0) {
      const int length = rtu_request_length(buffer, filled);
      if (length == 0 || length > filled) {
        // Wait for the rest, unless it can never fit.
        filled = filled == static_cast<int>(sizeof buffer) ? 0 : filled;
        break;
      }
      if (!rtu_crc_matches(buffer, length)) {
        filled = 0;  // a real unit ignores the frame; the next silence realigns
        break;
      }
      if (answer(Transport::rtu, modbus.get(), master.get(), buffer, length, arrival, context) ==
          Next::stop) {
        return;
      }
      std::memmove(buffer, buffer + length, static_cast<std::size_t>(filled - length));
      filled -= length;
    }
  }
}

}  // namespace velmocair::sim
