// velmocair-host scan against the simulator on a pseudo-terminal at its own
// line settings and over Modbus/TCP, and against pymodbus: the units found
// and their line settings, silence told from garble, another Modbus device
// told from a unit of this type, nothing written, a site-file entry that
// polls, SIGINT, and ports it cannot use.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <json/reader.h>
#include <json/writer.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <algorithm>
#include <csignal>
#include <cstdlib>
#include <iterator>
#include <map>
#include <sstream>

#include "device/poll_cycle_table.h"
#include "simulator/address_map.h"
#include "tests/support/host_run.h"

namespace velmocair::testing {
namespace {

constexpr std::chrono::seconds kRunLimit{120};
constexpr int kReads = static_cast<int>(std::size(kPollCycle));
constexpr int kOtherDeviceAnswers = sim::reads_another_device_answers();
const std::string kPlausible =
    ", values plausible (coils 0/1, state words 0/1, set-points in range, alarm limits in order)";

Json::Value parsed(const std::string& text) {
  Json::Value value;
  std::istringstream stream(text);
  stream >> value;
  return value;
}

// The digits after the decimal point of the number that follows `key`.
std::size_t decimals_of(const std::string& line, const std::string& key) {
  const std::size_t at = line.find(key);
  if (at == std::string::npos) {
    return std::string::npos;
  }
  const std::size_t end = line.find_first_of(",}", at);
  const std::size_t point = line.find('.', at);
  return point < end ? end - point - 1 : 0;
}

// The found lines without their response times.
std::vector<std::string> found_units(const HostRun& run) {
  std::vector<std::string> found;
  for (const std::string& line : run.out_starting("found unit ")) {
    found.push_back(line.substr(0, line.find(", response ")));
  }
  return found;
}

// The site-file entry printed for a unit: the line after its heading.
std::string site_entry(const HostRun& run, int unit_id) {
  const std::string heading = "unit " + std::to_string(unit_id) + " at ";
  for (std::size_t i = 0; i + 1 < run.out.size(); ++i) {
    if (run.out[i].rfind(heading, 0) == 0 &&
        run.out[i].find("a site-file entry") != std::string::npos) {
      return run.out[i + 1];
    }
  }
  return "";
}

class HostScan : public ::testing::Test {
 protected:
  ScratchFolder folder_;
};

// Units 3 and 7 and another device at 5, on a line at 19200 8N1: the scan
// tries 9600 and 19200, no parity and even. At 9600 the units hear no valid
// request (silence); at 19200 8E1 they hear it but their replies reach the
// master broken by its parity checks (garble).
TEST_F(HostScan, FindsUnitsAndTheirLineSettingsAndTellsGarbleFromSilence) {
  sim::ServerOptions options;
  options.unit_ids = {3, 7};
  options.other_device_ids = {5};
  options.line = sim::LineFormat{19200, 'N', 8, 1};
  SimulatedBus bus(Transport::rtu, options);
  const HostRun run =
      run_host(folder_, joined({"scan", "--baud", "9600,19200", "--parity", "none,even",
                                "--unit-ids", "1-8", "--timeout-ms", "300"},
                               bus.host_options()));
  ASSERT_EQ(run.status, 0) << run.transcript();
  const std::string reads = " of " + std::to_string(kReads) + " reads answered";
  EXPECT_EQ(found_units(run), (std::vector<std::string>{
                                  "found unit 3 at 19200 8N1: a unit of this type, " +
                                      std::to_string(kReads) + reads + kPlausible,
                                  "found unit 5 at 19200 8N1: another Modbus device, " +
                                      std::to_string(kOtherDeviceAnswers) + reads + ", " +
                                      std::to_string(kReads - kOtherDeviceAnswers) +
                                      " refused (exception 02: illegal data address)",
                                  "found unit 7 at 19200 8N1: a unit of this type, " +
                                      std::to_string(kReads) + reads + kPlausible,
                              }))
      << run.transcript();
  EXPECT_EQ(run.out_starting("bytes at "),
            std::vector<std::string>{"bytes at 19200 8E1 but no valid frame (unit addresses 3, 5, "
                                     "7): something answers with other line settings"})
      << run.transcript();
  EXPECT_EQ(bus.server().writes(), 0u);
  EXPECT_TRUE(site_entry(run, 5).empty()) << "another device gets no entry";

  Json::Value site(Json::objectValue);
  site["units"].append(parsed(site_entry(run, 7)));
  const std::string site_path = folder_.path("found.json");
  write_file(site_path, Json::writeString(Json::StreamWriterBuilder(), site));
  const HostRun poll = run_host(folder_, {"--site", site_path, "--cycles", "1", "--status"});
  EXPECT_EQ(poll.status, 0) << site_entry(run, 7) << "\n" << poll.transcript();
  EXPECT_EQ(poll.status_documents().size(), 1u);
}

// The command line printed for the line's last address, a unit that answers
// in 700 ms (after the probe's and the poll's time-outs), polls it.
TEST_F(HostScan, PrintsACommandThatPollsASlowUnit) {
  sim::ServerOptions options;
  options.unit_ids = {4};
  options.line = sim::LineFormat{19200, 'N', 8, 1};
  sim::FaultRule slow;
  slow.kind = sim::FaultKind::delay;
  slow.delay_ms = 700;
  options.faults.rules = {slow};
  SimulatedBus bus(Transport::rtu, options);
  const HostRun run =
      run_host(folder_, joined({"scan", "--baud", "19200", "--parity", "NONE", "--unit-ids", "2,4"},
                               bus.host_options()));
  ASSERT_EQ(run.status, 0) << run.transcript();
  const auto heading =
      std::find(run.out.begin(), run.out.end(), "and the command line that polls it:");
  ASSERT_NE(heading, run.out.end()) << run.transcript();
  std::istringstream words(heading[1]);
  std::vector<std::string> command{std::istream_iterator<std::string>(words), {}};
  ASSERT_EQ(command.front(), "velmocair-host") << heading[1];
  EXPECT_NE(heading[1].find(" --timeout-ms "), std::string::npos) << heading[1];
  command.erase(command.begin());
  command.insert(command.end(), {"--cycles", "1", "--status"});
  const HostRun poll = run_host(folder_, command);
  EXPECT_EQ(poll.status, 0) << heading[1] << "\n" << poll.transcript();
  EXPECT_EQ(poll.status_documents().size(), 1u);
}

TEST_F(HostScan, FindsTheUnitIdsAnEndpointServes) {
  sim::ServerOptions options;
  options.unit_ids = {2, 4};
  options.other_device_ids = {6};
  SimulatedBus bus(Transport::tcp, options);
  const HostRun run = run_host(
      folder_,
      joined({"scan", "--unit-ids", "1-6", "--timeout-ms", "300", "--json"}, bus.host_options()));
  ASSERT_EQ(run.status, 0) << run.transcript();
  std::map<int, Json::Value> found;
  for (const std::string& line : run.out) {
    // Times as the text shows them: at most two decimals.
    EXPECT_LE(decimals_of(line, "\"response_ms\":"), 2u) << line;
    const Json::Value unit = parsed(line);
    found[unit["unit_id"].asInt()] = unit;
  }
  ASSERT_EQ(found.size(), 3u) << run.transcript();
  EXPECT_TRUE(found[2]["this_type"].asBool());
  EXPECT_TRUE(found[4]["this_type"].asBool());
  EXPECT_EQ(found[4]["command"].asString(), "velmocair-host " + bus.host_options()[0] + " " +
                                                bus.host_options()[1] + " --unit-id 4");
  EXPECT_FALSE(found[6]["this_type"].asBool());
  EXPECT_EQ(found[6]["refused"]["02"].asInt(), kReads - kOtherDeviceAnswers);
  EXPECT_FALSE(found[6].isMember("site_entry"));
  EXPECT_EQ(bus.server().writes(), 0u);
}

// pymodbus answers exception 0B (gateway target failed to respond) for the
// unit ids it does not serve: nothing is there.
TEST_F(HostScan, FindsTheUnitAnIndependentImplementationServes) {
  const PymodbusUnit unit(folder_);
  ASSERT_FALSE(unit.endpoint().empty()) << unit.errors();
  const HostRun run =
      run_host(folder_, {"scan", "--tcp", unit.endpoint(), "--unit-ids", "1-3", "--json"});
  ASSERT_EQ(run.status, 0) << run.transcript();
  ASSERT_EQ(run.out.size(), 1u) << run.transcript();
  const Json::Value found = parsed(run.out[0]);
  EXPECT_EQ(found["unit_id"].asInt(), 1);
  EXPECT_EQ(found["answered"].asInt(), kReads) << run.out[0];
}

// On a terminal of 60 columns the progress line is cut to 59, so that it
// never wraps and each refresh overwrites the last.
TEST_F(HostScan, KeepsItsProgressLineWithinTheTerminalsWidth) {
  constexpr unsigned short kColumns = 60;
  SimulatedBus bus(Transport::tcp, sim::ServerOptions{});
  const int terminal = posix_openpt(O_RDWR | O_NOCTTY);
  ASSERT_GE(terminal, 0);
  ASSERT_EQ(grantpt(terminal), 0);
  ASSERT_EQ(unlockpt(terminal), 0);
  winsize size{};
  size.ws_col = kColumns;
  ASSERT_EQ(ioctl(terminal, TIOCSWINSZ, &size), 0);
  ChildProcess scan(
      joined({VELMOCAIR_HOST_PATH, "scan", "--unit-ids", "1-4", "--timeout-ms", "100"},
             bus.host_options()),
      folder_.path("scan.out"), ptsname(terminal));
  EXPECT_EQ(scan.wait(kRunLimit), 0) << read_file(folder_.path("scan.out"));
  std::string shown;
  char buffer[4096];
  pollfd readable{terminal, POLLIN, 0};
  while (poll(&readable, 1, 0) > 0) {
    const ssize_t got = read(terminal, buffer, sizeof buffer);
    if (got <= 0) {
      break;
    }
    shown.append(buffer, static_cast<std::size_t>(got));
  }
  close(terminal);
  const std::string clear = "\r\033[K";
  std::size_t lines = 0;
  for (std::size_t at = shown.find(clear); at != std::string::npos;) {
    const std::size_t next = shown.find(clear, at + clear.size());
    const std::string line = shown.substr(at + clear.size(), next - at - clear.size());
    EXPECT_LT(line.size(), kColumns) << line;
    lines += line.empty() ? 0 : 1;
    at = next;
  }
  EXPECT_GT(lines, 0u) << shown;
}

TEST_F(HostScan, EndsOnSigintWithWhatItFound) {
  SimulatedBus bus(Transport::tcp, sim::ServerOptions{});
  const std::string out = folder_.path("scan.out");
  ChildProcess scan(
      joined({VELMOCAIR_HOST_PATH, "scan", "--timeout-ms", "1000"}, bus.host_options()), out,
      folder_.path("scan.err"));
  ASSERT_FALSE(wait_for_line(scan, out, "found unit 1 ", kRunLimit).empty())
      << read_file(folder_.path("scan.err"));
  scan.signal(SIGINT);
  EXPECT_EQ(scan.wait(kRunLimit), 0) << read_file(folder_.path("scan.err"));
  HostRun run;
  run.out = lines_of(read_file(out));
  EXPECT_EQ(run.out_starting("stopped after ").size(), 1u) << read_file(out);
  EXPECT_FALSE(site_entry(run, 1).empty()) << read_file(out);
}

TEST_F(HostScan, RefusesAPortItCannotUseWithOneLineAndSendsNothing) {
  SimulatedBus bus(Transport::rtu, sim::ServerOptions{});
  const std::string port = bus.server().pty_path();
  const std::string closed = "127.0.0.1:" + std::to_string(closed_tcp_port());
  struct Row {
    std::vector<std::string> arguments;
    std::string says;
  };
  // clang-format off
  const Row rows[] = {
      {{"scan", "--rtu", "/dev/velmocair-no-such-line"}, "cannot open rtu /dev/velmocair-no-such-line: No such file or directory"},
      {{"scan", "--tcp", closed},                        "cannot open tcp " + closed + ": Connection refused"},
  };
  // clang-format on
  for (const Row& row : rows) {
    const HostRun run = run_host(folder_, row.arguments);
    EXPECT_EQ(run.status, 1) << run.transcript();
    ASSERT_EQ(run.err.size(), 1u) << run.transcript();
    EXPECT_EQ(run.err[0].rfind("velmocair-host: " + row.says, 0), 0u) << run.err[0];
  }
  EXPECT_EQ(bus.server().requests(), 0u);
}

}  // namespace
}  // namespace velmocair::testing
