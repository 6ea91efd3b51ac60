#pragma once

#include <iterator>

#include "cli/runtime/link_diagnosis.h"

namespace velmocair::cli {

// What a row looks for in a failed cycle's evidence.
enum class Evidence : unsigned char {
  refused_or_lost,  // failed opens, connections lost
  gateway_codes,    // exception 0A or 0B
  map_codes,        // exception 01, 02 or 03
  other_codes,      // any other exception code
  broken_frames,
  timeouts,
  late_replies,
};

// The buses a row applies to.
enum class On : unsigned char { any, tcp, rtu };

// The likely causes of failing cycles, most telling first: a failed cycle
// is put down to the first row whose evidence it met. In the texts,
// {endpoint}, {device}, {id}, {codes}, {line} and {scan} stand for the TCP
// endpoint, the serial device, the unit address, the exception codes met,
// the line settings and the scan command for the bus; {timeout}, {late} and
// {catching} for the time-out in ms, the most a reply came late by, and a
// time-out that would have taken it.
struct CauseRow {
  Cause cause;
  On on;
  Evidence evidence;
  const char* text;
};

// clang-format off
// cause                    on       evidence                    what the line says after "unit NAME: likely cause: "
inline constexpr CauseRow kCauses[] = {
    {Cause::endpoint,        On::tcp, Evidence::refused_or_lost, "the TCP endpoint {endpoint} refuses or drops the connection: is the unit or gateway on, and its address and port right?"},
    {Cause::serial_device,   On::rtu, Evidence::refused_or_lost, "the serial device {device} is gone or cannot be opened: is it there and plugged in?"},
    {Cause::gateway,         On::any, Evidence::gateway_codes,   "a gateway answers, but not unit {id} behind it (exception {codes}): is the unit id right, the unit on and the gateway's serial side set up?"},
    {Cause::refused_map,     On::any, Evidence::map_codes,       "the unit refuses this map's addresses (exception {codes}): another device, or other firmware, answers at unit address {id}"},
    {Cause::unit_fault,      On::any, Evidence::other_codes,     "the unit reports a fault of its own (exception {codes})"},
    {Cause::late_replies,    On::any, Evidence::late_replies,    "the unit answers later than the time-out of {timeout} ms (up to {late} ms late): --timeout-ms {catching} (site file: \"timeout_ms\": {catching} in the unit) would take its replies"},
    {Cause::line_settings,   On::rtu, Evidence::broken_frames,   "broken frames: the line settings ({line}) differ from the unit's, or the line is noisy; `{scan}` finds the unit's"},
    {Cause::refused_replies, On::tcp, Evidence::broken_frames,   "replies that do not answer the requests: is {endpoint} a Modbus/TCP unit of this type?"},
    {Cause::no_reply,        On::rtu, Evidence::timeouts,        "no reply: check the wiring, the terminator, the unit address ({id}) and the line settings ({line}); `{scan}` finds units and their line settings"},
    {Cause::no_reply,        On::tcp, Evidence::timeouts,        "no reply from unit id {id}: `{scan}` finds the unit ids the endpoint serves"},
};
// clang-format on
static_assert(std::size(kCauses) == 10);

namespace diagnosis_checks {

constexpr bool has_row(Cause cause) {
  for (const CauseRow& row : kCauses) {
    if (row.cause == cause) {
      return true;
    }
  }
  return false;
}

constexpr bool every_cause_has_a_row() {
  for (Cause cause : {Cause::endpoint, Cause::serial_device, Cause::gateway, Cause::refused_map,
                      Cause::unit_fault, Cause::late_replies, Cause::line_settings,
                      Cause::refused_replies, Cause::no_reply}) {
    if (!has_row(cause)) {
      return false;
    }
  }
  return !has_row(Cause::unknown);
}

// A time-out on either kind of bus has a cause.
constexpr bool timeouts_told_on(On on) {
  for (const CauseRow& row : kCauses) {
    if (row.evidence == Evidence::timeouts && (row.on == on || row.on == On::any)) {
      return true;
    }
  }
  return false;
}

static_assert(every_cause_has_a_row(), "every cause but unknown has its line");
static_assert(timeouts_told_on(On::tcp) && timeouts_told_on(On::rtu));

}  // namespace diagnosis_checks

}  // namespace velmocair::cli
