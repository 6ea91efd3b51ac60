#include "simulator/session.h"

#include <modbus.h>

#include <algorithm>

namespace velmocair::sim {
namespace {

constexpr std::chrono::nanoseconds kForever(-1);

// A libmodbus context bound to a descriptor it does not own: freed, never closed.
using Context = std::unique_ptr<modbus_t, decltype(&modbus_free)>;

// Sends a reply frame starting at `start`, each byte when the line lets it
// go; false when the stop was raised or the connection failed. The line is
// timed by the RTU frame: the bytes by which the MBAP header is longer leave
// with the first.
bool send_frame(int fd, const ReplyPlan& plan, Clock::time_point start, LinePace& pace,
                const StopSignal& stop) {
  const std::vector<std::uint8_t>& frame = plan.frame;
  const std::size_t lead = frame.size() - std::min(frame.size(), plan.wire_bytes);
  const auto byte_time = [&](std::size_t index) {
    return pace.byte_time(start, index > lead ? index - lead : 0);
  };
  for (std::size_t next = 0; next < frame.size(); ++next) {
    if (!stop.sleep_until(byte_time(next))) {
      return false;
    }
    const Clock::time_point writing = Clock::now();
    std::size_t end = next + 1;
    while (end < frame.size() && byte_time(end) <= writing) {
      ++end;
    }
    if (!write_all(fd, true, frame.data() + next, end - next)) {
      return false;
    }
    pace.sent(writing);
    next = end - 1;
  }
  return true;
}

}  // namespace

ReplyPlan plan_reply(Transport transport, const std::uint8_t* adu, int length,
                     const ServeContext& context) {
  const Request request = decode_request(transport, adu, length);
  ReplyPlan plan;
  plan.unit_id = request.unit_id;
  plan.request_bytes = request.rtu_length;
  if (is_write(request.function)) {
    context.counters.writes.fetch_add(1);
  }
  const auto found = context.units.find(request.unit_id);
  if (found == context.units.end()) {
    return plan;
  }
  Unit& unit = *found->second;
  context.counters.requests.fetch_add(1);
  const FaultRule* const fault = unit.admit(request, context.plan);
  int exception = exception_for(request, unit.other_device());
  if (fault != nullptr) {
    context.counters.faults[static_cast<std::size_t>(fault->kind)].fetch_add(1);
    switch (fault->kind) {
      case FaultKind::no_reply:
        return plan;
      case FaultKind::drop_connection:
        plan.close = transport == Transport::tcp;
        return plan;
      case FaultKind::exception:
        exception = fault->exception_code;
        break;
      case FaultKind::delay:
        plan.delay = std::chrono::milliseconds(fault->delay_ms);
        break;
      default:
        break;
    }
  }
  // An exception reply leaves a write unstored.
  std::vector<std::uint8_t> pdu =
      exception != 0
          ? std::vector<std::uint8_t>{static_cast<std::uint8_t>(request.function | kExceptionFlag),
                                      static_cast<std::uint8_t>(exception)}
          : unit.reply_pdu(request);
  const FaultKind kind = fault != nullptr ? fault->kind : FaultKind::no_reply;
  if (kind == FaultKind::wrong_echo) {
    raise_echoed_value(pdu);
  }
  plan.frame = reply_frame(transport, adu, pdu);
  plan.wire_bytes = static_cast<std::size_t>(rtu_length(static_cast<int>(pdu.size())));
  if (kind == FaultKind::broken_frame) {
    break_frame(transport, plan.frame);
  } else if (kind == FaultKind::trailing_bytes) {
    plan.frame.insert(plan.frame.end(), fault->trailing_bytes.begin(), fault->trailing_bytes.end());
    plan.wire_bytes += fault->trailing_bytes.size();
  } else if (kind == FaultKind::cut_reply) {
    plan.frame.resize(plan.frame.size() / 2);
    plan.wire_bytes /= 2;
    plan.close = transport == Transport::tcp;
  }
  return plan;
}

bool flag_early_request(int unit_id, const ServeContext& context) {
  context.counters.early_requests.fetch_add(1);
  if (context.options.on_early_request) {
    context.options.on_early_request(
        "request to unit " + std::to_string(unit_id) +
        " came before the line had been silent for " +
        std::to_string(silence_nanoseconds(context.options.pace_baud) / 1000) + " us" +
        (context.options.strict_silence ? "; left unanswered" : ""));
  }
  return context.options.strict_silence;
}

void serve_tcp(const FileDescriptor& connection, const ServeContext& context) {
  const Context modbus(modbus_new_tcp(nullptr, 0), &modbus_free);
  if (!modbus) {
    return;
  }
  modbus_set_socket(modbus.get(), connection.get());
  LinePace pace(context.options.pace_baud);
  const std::chrono::nanoseconds idle_close =
      context.options.idle_close_ms > 0 ? std::chrono::milliseconds(context.options.idle_close_ms)
                                        : kForever;
  std::uint8_t adu[MODBUS_TCP_MAX_ADU_LENGTH];
  while (context.stop.wait_readable(connection.get(), idle_close) == Wait::ready) {
    // A closed connection or a broken request ends the session.
    const int length = modbus_receive(modbus.get(), adu);
    if (length <= 0) {
      return;
    }
    const Clock::time_point arrival = Clock::now();
    const ReplyPlan plan = plan_reply(Transport::tcp, adu, length, context);
    const Clock::time_point start = pace.reply_start(arrival, plan.request_bytes) + plan.delay;
    if (!plan.frame.empty() && !send_frame(connection.get(), plan, start, pace, context.stop)) {
      return;
    }
    if (plan.close) {
      return;
    }
  }
}

}  // namespace velmocair::sim
