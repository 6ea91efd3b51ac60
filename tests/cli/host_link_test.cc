// velmocair-host's link statistics and its diagnosis of failing cycles,
// against the simulator with faults struck at known cycles: the --stats
// table and the summary count what was injected, each likely cause is named
// once and again only when it changes, and the recovery once.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <functional>
#include <iterator>
#include <map>

#include "device/poll_cycle_table.h"
#include "tests/support/host_run.h"

namespace velmocair::testing {
namespace {

constexpr int kReads = static_cast<int>(std::size(kPollCycle));

// Reads of a cycle up to and including its first register read, where the
// faults below strike.
constexpr int reads_to_first_register_read() {
  int reads = 0;
  for (const PollStep& step : kPollCycle) {
    ++reads;
    if (step.request.kind == ReadKind::registers) {
      break;
    }
  }
  return reads;
}

sim::FaultRule on_register_reads(sim::FaultKind kind, int first_cycle, int last_cycle,
                                 const std::function<void(sim::FaultRule&)>& set = {}) {
  sim::FaultRule rule;
  rule.kind = kind;
  rule.request = sim::RequestKind::read_registers;
  rule.first_cycle = first_cycle;
  rule.last_cycle = last_cycle;
  if (set) {
    set(rule);
  }
  return rule;
}

// A table line's columns: the texts between runs of two or more spaces.
std::vector<std::string> columns_of(const std::string& line) {
  std::vector<std::string> columns;
  std::size_t at = line.find_first_not_of(' ');
  while (at != std::string::npos) {
    const std::size_t gap = line.find("  ", at);
    columns.push_back(line.substr(at, gap == std::string::npos ? gap : gap - at));
    at = gap == std::string::npos ? gap : line.find_first_not_of(' ', gap);
  }
  return columns;
}

// The --stats table's row of the one unit, by heading.
std::map<std::string, std::string> stats_row(const HostRun& run) {
  std::map<std::string, std::string> row;
  for (std::size_t i = 0; i + 1 < run.out.size(); ++i) {
    if (run.out[i].rfind("unit ", 0) != 0) {
      continue;
    }
    const std::vector<std::string> headings = columns_of(run.out[i]);
    const std::vector<std::string> values = columns_of(run.out[i + 1]);
    for (std::size_t column = 0; column < headings.size() && column < values.size(); ++column) {
      row[headings[column]] = values[column];
    }
  }
  return row;
}

class HostLink : public ::testing::TestWithParam<Transport> {
 protected:
  ScratchFolder folder_;
};

// Cycle 2 gets no reply, cycle 3 exception 02, cycle 4 a broken frame, and
// cycle 5 a reply 150 ms late; each strikes the first register read.
TEST_P(HostLink, CountsWhatTheLineMet) {
  constexpr int kCycles = 6;
  constexpr int kFailed = 3;
  constexpr int kDelayMs = 150;
  sim::ServerOptions options;
  options.faults.rules = {
      on_register_reads(sim::FaultKind::no_reply, 2, 2),
      on_register_reads(sim::FaultKind::exception, 3, 3,
                        [](sim::FaultRule& r) { r.exception_code = 2; }),
      on_register_reads(sim::FaultKind::broken_frame, 4, 4),
      on_register_reads(sim::FaultKind::delay, 5, 5,
                        [](sim::FaultRule& r) { r.delay_ms = kDelayMs; }),
  };
  SimulatedBus bus(GetParam(), options);
  const HostRun run = run_host(
      folder_, joined(bus.host_options(), {"--cycles", std::to_string(kCycles), "--interval", "0",
                                           "--timeout-ms", "400", "--retries", "0", "--stats"}));
  EXPECT_EQ(run.status, 1) << run.transcript();
  const int exchanges = (kCycles - kFailed) * kReads + kFailed * reads_to_first_register_read();
  const int replies = exchanges - 2;  // the time-out and the broken frame
  // Neither a time-out nor a reply under the wrong function drops a TCP
  // connection.
  const int reconnects = 0;
  char ok[16];
  std::snprintf(ok, sizeof ok, "%.1f", 100.0 * (replies - 1) / exchanges);
  std::map<std::string, std::string> row = stats_row(run);
  const std::map<std::string, std::string> expected = {
      {"unit",       bus.host_options()[1]            },
      {"exchanges",  std::to_string(exchanges)        },
      {"ok %",       ok                               },
      {"replies",    std::to_string(replies)          },
      {"time-outs",  "1"                              },
      {"exceptions", "02 x1"                          },
      {"broken",     "1"                              },
      {"reconnects", std::to_string(reconnects)       },
      {"cycles ok",  std::to_string(kCycles - kFailed)},
      {"failed",     std::to_string(kFailed)          },
  };
  for (const auto& [heading, value] : expected) {
    EXPECT_EQ(row[heading], value) << heading << "\n" << run.transcript();
  }
  EXPECT_GE(std::stod(row["max ms"]), kDelayMs) << "the late reply";
  // The summary of the last cycle says the same share.
  const std::vector<std::string> cycles = run.out_starting("cycle ");
  ASSERT_FALSE(cycles.empty()) << run.transcript();
  EXPECT_NE(cycles.back().find(std::string("; link ") + ok + " % ok, p99 "), std::string::npos)
      << cycles.back();
}

INSTANTIATE_TEST_SUITE_P(Transports, HostLink, ::testing::Values(Transport::tcp, Transport::rtu),
                         [](const ::testing::TestParamInfo<Transport>& info) {
                           return transport_name(info.param);
                         });

// The whole chain from the link's counts to the lines on standard error,
// over both kinds of bus; each cause's line is checked in-process
// (link_diagnosis_test).
TEST(HostDiagnosis, NamesEachLikelyCauseOnceAndTheRecovery) {
  struct Row {
    const char* name;
    Transport transport;
    std::vector<sim::FaultRule> faults;  // over cycles 1..4, then none
    std::vector<std::string> says;       // the likely causes, in order
  };
  // clang-format off
  const Row rows[] = {
      {"no reply", Transport::rtu, {on_register_reads(sim::FaultKind::no_reply, 1, 4)},
       {"likely cause: no reply: check the wiring, the terminator, the unit address (1) and the line settings (9600 8N1); `velmocair-host scan --rtu "}},
      // Replies 500 ms after the request: seen late within the watch after
      // each time-out of 300 ms.
      {"late replies", Transport::rtu, {on_register_reads(sim::FaultKind::delay, 1, 4, [](sim::FaultRule& r) { r.delay_ms = 500; })},
       {"likely cause: the unit answers later than the time-out of 300 ms (up to "}},
      // Two cycles without a reply, then refusals: a cause is named once
      // most of the last three failed cycles met it.
      {"a cause that changes", Transport::tcp,
       {on_register_reads(sim::FaultKind::no_reply, 1, 2),
        on_register_reads(sim::FaultKind::exception, 3, 4, [](sim::FaultRule& r) { r.exception_code = 3; })},
       {"likely cause: no reply from unit id 1: `velmocair-host scan --tcp 127.0.0.1:",
        "likely cause: the unit refuses this map's addresses (exception 03)"}},
  };
  // clang-format on
  ScratchFolder folder;
  for (const Row& row : rows) {
    sim::ServerOptions options;
    options.faults.rules = row.faults;
    SimulatedBus bus(row.transport, options);
    const HostRun run = run_host(folder, joined(bus.host_options(), {"--cycles", "5", "--interval",
                                                                     "0", "--timeout-ms", "300"}));
    const std::vector<std::string> causes = run.err_containing("likely cause: ");
    ASSERT_EQ(causes.size(), row.says.size()) << row.name << "\n" << run.transcript();
    for (std::size_t i = 0; i < causes.size(); ++i) {
      EXPECT_NE(
          causes[i].find("velmocair-host: unit " + bus.host_options()[1] + ": " + row.says[i]),
          std::string::npos)
          << row.name << "\n"
          << causes[i];
    }
    EXPECT_EQ(run.err_containing(": recovered: a cycle completed after 4 failed cycles").size(), 1u)
        << row.name << "\n"
        << run.transcript();
  }
}

}  // namespace
}  // namespace velmocair::testing
