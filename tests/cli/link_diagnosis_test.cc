// The diagnosis table in-process: which cause a failed cycle's evidence is
// put down to on each kind of bus, the first row it meets winning, and the
// line that names it with the unit's endpoint, device, address, codes and
// line. host_link_test runs the whole chain against the simulator.
#include "cli/runtime/link_diagnosis.h"

#include <gtest/gtest.h>

#include <string>

namespace velmocair::cli {
namespace {

DiagnosedUnit unit_on(sitehost::BusAddress::Kind kind) {
  DiagnosedUnit unit{"crac-2", 3, {}};
  unit.bus.kind = kind;
  unit.bus.endpoint = {"10.0.0.5", 502};
  unit.bus.line.device = "/dev/ttyUSB0";
  unit.bus.line.baud = 19200;
  unit.bus.line.parity = 'E';
  return unit;
}

CycleEvidence with_timeouts(CycleEvidence evidence) {
  evidence.timeouts = 2;
  return evidence;
}

TEST(LinkDiagnosis, PutsACycleDownToTheFirstCauseItsEvidenceMeets) {
  constexpr auto tcp = sitehost::BusAddress::tcp;
  constexpr auto rtu = sitehost::BusAddress::rtu;
  struct Row {
    const char* name;
    sitehost::BusAddress::Kind kind;
    CycleEvidence evidence;
    Cause cause;
    const char* says;  // after "unit crac-2: likely cause: "
  };
  // clang-format off
  const Row rows[] = {
      {"lost connections", tcp, {0, 0, 0, 2, {}},            Cause::endpoint,        "the TCP endpoint 10.0.0.5:502 refuses or drops the connection"},
      {"refused opens",    tcp, {0, 0, 1, 0, {}},            Cause::endpoint,        "the TCP endpoint 10.0.0.5:502 refuses"},
      {"failed opens",     rtu, {0, 0, 1, 0, {}},            Cause::serial_device,   "the serial device /dev/ttyUSB0 is gone or cannot be opened"},
      {"gateway codes",    tcp, {0, 0, 0, 0, {{0x0A, 1}, {0x0B, 2}}}, Cause::gateway, "a gateway answers, but not unit 3 behind it (exception 0A, 0B)"},
      {"map codes",        rtu, {0, 0, 0, 0, {{0x02, 4}}},   Cause::refused_map,     "the unit refuses this map's addresses (exception 02): another device, or other firmware, answers at unit address 3"},
      {"other codes",      tcp, {0, 0, 0, 0, {{0x04, 1}, {0x02, 1}}}, Cause::refused_map, "(exception 02)"},
      {"a fault code",     tcp, {0, 0, 0, 0, {{0x06, 1}}},   Cause::unit_fault,      "the unit reports a fault of its own (exception 06)"},
      {"broken frames",    rtu, {0, 3, 0, 0, {}},            Cause::line_settings,   "broken frames: the line settings (19200 8E1) differ from the unit's, or the line is noisy; `velmocair-host scan --rtu /dev/ttyUSB0"},
      {"broken replies",   tcp, {0, 3, 0, 0, {}},            Cause::refused_replies, "replies that do not answer the requests: is 10.0.0.5:502 a Modbus/TCP unit of this type?"},
      {"serial time-outs", rtu, {2, 0, 0, 0, {}},            Cause::no_reply,        "no reply: check the wiring, the terminator, the unit address (3) and the line settings (19200 8E1); `velmocair-host scan --rtu /dev/ttyUSB0"},
      {"TCP time-outs",    tcp, {2, 0, 0, 0, {}},            Cause::no_reply,        "no reply from unit id 3: `velmocair-host scan --tcp 10.0.0.5:502"},
      {"codes over time-outs", tcp, with_timeouts({0, 0, 0, 0, {{0x0B, 1}}}), Cause::gateway, "(exception 0B)"},
      {"frames over time-outs", rtu, with_timeouts({0, 1, 0, 0, {}}),         Cause::line_settings, "broken frames"},
      {"lost TCP over codes", tcp, {0, 0, 0, 1, {{0x02, 1}}}, Cause::endpoint,       "the TCP endpoint"},
      {"lost serial connections", rtu, with_timeouts({0, 0, 0, 1, {}}), Cause::serial_device, "is gone or cannot be opened"},
  };
  // clang-format on
  for (const Row& row : rows) {
    const Cause cause = cause_of(row.evidence, row.kind);
    EXPECT_EQ(cause, row.cause) << row.name;
    const std::string line = cause_line(cause, unit_on(row.kind), row.evidence);
    const std::string head = "unit crac-2: likely cause: ";
    EXPECT_EQ(line.rfind(head, 0), 0u) << row.name << ": " << line;
    EXPECT_NE(line.find(row.says, head.size()), std::string::npos)
        << row.name << ": \"" << line << "\" lacks \"" << row.says << "\"";
  }
}

TEST(LinkDiagnosis, NamesNoCauseWhereNothingCountedTells) {
  for (const auto kind : {sitehost::BusAddress::tcp, sitehost::BusAddress::rtu}) {
    EXPECT_EQ(cause_of(CycleEvidence{}, kind), Cause::unknown);
    EXPECT_EQ(cause_line(Cause::unknown, unit_on(kind), CycleEvidence{}), "");
  }
}

}  // namespace
}  // namespace velmocair::cli
