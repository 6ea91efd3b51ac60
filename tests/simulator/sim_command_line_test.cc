// The simulator's command line: what each option sets and what is refused.
#include <gtest/gtest.h>

#include <functional>
#include <iterator>
#include <stdexcept>

#include "simulator/command_line.h"

namespace velmocair::sim {
namespace {

using Arguments = std::vector<std::string>;

TEST(SimCommandLine, OptionsSetTheServerOptions) {
  struct Row {
    Arguments arguments;
    std::function<bool(const CommandLine&)> holds;
  };
  // clang-format off
  const Row rows[] = {
      {{},                                 [](const CommandLine& l) { return l.options.tcp_port == 0 && !l.options.rtu_pty && l.options.tcp_host == "127.0.0.1"; }},
      {{"--rtu"},                          [](const CommandLine& l) { return l.options.rtu_pty && l.options.tcp_port == -1; }},
      {{"--tcp", "1502"},                  [](const CommandLine& l) { return l.options.tcp_port == 1502 && l.options.tcp_host == "127.0.0.1"; }},
      {{"--tcp=0.0.0.0:0", "--rtu"},       [](const CommandLine& l) { return l.options.tcp_port == 0 && l.options.tcp_host == "0.0.0.0" && l.options.rtu_pty; }},
      {{"--unit-id", "3"},                 [](const CommandLine& l) { return l.options.unit_ids == std::vector<int>{3}; }},
      {{"--unit-id", "1,5-7", "--unit-id", "9"}, [](const CommandLine& l) { return l.options.unit_ids == std::vector<int>{1, 5, 6, 7, 9}; }},
      {{"--scenario", "s.json"},           [](const CommandLine& l) { return l.options.scenario_path == "s.json"; }},
      {{"--seed", "42"},                   [](const CommandLine& l) { return l.options.faults.seed == 42; }},
      {{"--mark-generations"},             [](const CommandLine& l) { return l.options.mark_generations; }},
      {{"--pace-baud", "9600"},            [](const CommandLine& l) { return l.options.pace_baud == 9600; }},
      {{"--rtu", "--baud", "19200"},       [](const CommandLine& l) { return l.options.line == LineFormat{19200, 'N', 8, 1}; }},
      {{"--baud=1200", "--parity", "odd"}, [](const CommandLine& l) { return l.options.line == LineFormat{1200, 'O', 8, 1}; }},
      {{"--unit-id", "2", "--other-device", "4-5"},
                                           [](const CommandLine& l) { return l.options.unit_ids == std::vector<int>{2} &&
                                                                             l.options.other_device_ids == std::vector<int>{4, 5}; }},
      {{"--help"},                         [](const CommandLine& l) { return l.help; }},
      {{"--fault", "no-reply"},            [](const CommandLine& l) { const FaultRule& r = l.options.faults.rules.at(0);
                                                                      return r.kind == FaultKind::no_reply && r.probability == 1.0 && r.unit_id == 0; }},
      {{"--fault", "delay=600,rate=0.1"},  [](const CommandLine& l) { const FaultRule& r = l.options.faults.rules.at(0);
                                                                      return r.kind == FaultKind::delay && r.delay_ms == 600 && r.probability == 0.1; }},
      {{"--unit-id", "1-2", "--fault", "exception=6,cycles=3-5,unit=2,request=registers"},
                                           [](const CommandLine& l) { const FaultRule& r = l.options.faults.rules.at(0);
                                                                      return r.kind == FaultKind::exception && r.exception_code == 6 && r.first_cycle == 3 &&
                                                                             r.last_cycle == 5 && r.unit_id == 2 && r.request == RequestKind::read_registers; }},
      {{"--fault", "wrong-echo", "--fault", "drop,cycles=4"},
                                           [](const CommandLine& l) { const auto& r = l.options.faults.rules;
                                                                      return r.size() == 2 && r[0].kind == FaultKind::wrong_echo &&
                                                                             r[1].kind == FaultKind::drop_connection && r[1].first_cycle == 4 && r[1].last_cycle == 4; }},
      {{"--fault", "broken-frame,request=write"},
                                           [](const CommandLine& l) { const FaultRule& r = l.options.faults.rules.at(0);
                                                                      return r.kind == FaultKind::broken_frame && r.request == RequestKind::write_register; }},
  };
  // clang-format on
  for (std::size_t i = 0; i < std::size(rows); ++i) {
    EXPECT_TRUE(rows[i].holds(parse_command_line(rows[i].arguments))) << "row " << i;
  }
}

TEST(SimCommandLine, BadOptionsAreRefusedWithAReason) {
  struct Row {
    Arguments arguments;
    const char* message;
  };
  // clang-format off
  const Row rows[] = {
      {{"--bogus"},                        "unknown option \"--bogus\""},
      {{"--tcp"},                          "--tcp needs a value"},
      {{"--tcp", "70000"},                 "outside 0..65535"},
      {{"--tcp", ":502"},                  "empty host"},
      {{"--tcp", "host:port"},             "not a whole number"},
      {{"--rtu=yes"},                      "--rtu takes no value"},
      {{"--unit-id", "0"},                 "outside 1..247"},
      {{"--unit-id", "5-3"},               "runs backwards"},
      {{"--unit-id", "1,1"},               "given twice"},
      {{"--pace-baud", "0"},               "outside 1.."},
      {{"--seed", "-1"},                   "not a whole number"},
      {{"--fault", "explode"},             "unknown fault \"explode\""},
      {{"--fault", "delay"},               "--fault delay: needs =MS, the delay in milliseconds"},
      {{"--fault", "exception"},           "--fault exception: needs =CODE, the exception code"},
      {{"--fault", "no-reply=3"},          "takes no =value"},
      {{"--fault", "exception=7"},         "exception code must be one of"},
      {{"--fault", "drop,rate=2"},         "must be a number in 0..1"},
      {{"--fault", "drop,rate=half"},      "must be a number in 0..1"},
      {{"--fault", "drop,cycles=9-2"},     "runs backwards"},
      {{"--fault", "drop,request=reads"},  "request must be any, coils, registers or write"},
      {{"--fault", "drop,speed=3"},        "unknown setting \"speed=3\""},
      {{"--fault", "drop,unit=2"},         "unit 2 is not served"},
      {{"--baud", "12345"},                "12345 is no rate a serial line is set to"},
      {{"--parity", "even"},               "--parity needs --baud"},
      {{"--baud", "9600", "--parity", "mark"}, "none of none, even and odd"},
      {{"--unit-id", "2", "--other-device", "2"}, "--other-device: unit 2 is given twice"},
      {{"--other-device", "1"},            "served as a unit of this type"},
  };
  // clang-format on
  for (std::size_t i = 0; i < std::size(rows); ++i) {
    try {
      parse_command_line(rows[i].arguments);
      ADD_FAILURE() << "row " << i << ": accepted";
    } catch (const std::invalid_argument& error) {
      EXPECT_NE(std::string(error.what()).find(rows[i].message), std::string::npos)
          << "row " << i << ": " << error.what();
    }
  }
}

}  // namespace
}  // namespace velmocair::sim
