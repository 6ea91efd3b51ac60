// velmocair-host sending control commands to the simulator in both forms:
// the outcome comes from the device's result query, and a confirmed
// set-point shows in the next cycle's status document.
#include <gtest/gtest.h>

#include <algorithm>

#include "tests/support/host_run.h"

namespace velmocair::testing {
namespace {

constexpr const char* kSettingsGroup = "参数设定";

struct CommandCase {
  const char* action;
  const char* value;  // null for start and stop
  bool json;
  int reg;
  int before;       // register value the simulator starts with
  int after;        // register value the command writes
  const char* key;  // member of the settings group showing the register
  Json::Value shown;
};

// clang-format off
const CommandCase kCommands[] = {
    {"temperature", "26", false, 3501, 240, 260, "回风温度设定值", Json::Value(26.0)},
    {"temperature", "21", true,  3501, 240, 210, "回风温度设定值", Json::Value(21.0)},
    {"humidity",    "55", false, 3504, 500, 550, "设定湿度",       Json::Value(55.0)},
    {"humidity",    "45", true,  3504, 500, 450, "设定湿度",       Json::Value(45.0)},
    {"stop",        nullptr, false, 3509, 1, 0,  "开/关机",        Json::Value("关机")},
    {"stop",        nullptr, true,  3509, 1, 0,  "开/关机",        Json::Value("关机")},
    {"start",       nullptr, false, 3509, 0, 1,  "开/关机",        Json::Value("开机")},
    {"start",       nullptr, true,  3509, 0, 1,  "开/关机",        Json::Value("开机")},
};
// clang-format on

std::string command_line(const CommandCase& command) {
  return std::string("command ") + command.action +
         (command.value != nullptr ? std::string(" ") + command.value : "");
}

std::vector<std::string> command_arguments(const CommandCase& command,
                                           const std::vector<std::string>& bus) {
  std::vector<std::string> arguments{"command", command.action};
  if (command.value != nullptr) {
    arguments.push_back(command.value);
  }
  if (command.json) {
    arguments.push_back("--json");
  }
  arguments.insert(arguments.end(), bus.begin(), bus.end());
  return arguments;
}

sim::ServerOptions starting_with(const ScratchFolder& folder, int reg, int value) {
  Json::Value unit(Json::objectValue);
  unit["unit_id"] = 1;
  unit["registers"][std::to_string(reg)] = value;
  Json::Value scenario(Json::objectValue);
  scenario["units"].append(unit);
  sim::ServerOptions options;
  options.scenario_path = write_scenario(folder, scenario);
  return options;
}

class HostCommand : public ::testing::TestWithParam<Transport> {};

TEST_P(HostCommand, IsConfirmedAndShowsInTheNextCyclesStatus) {
  for (const CommandCase& command : kCommands) {
    SCOPED_TRACE(command_line(command) + (command.json ? " --json" : ""));
    ScratchFolder folder;
    SimulatedBus bus(GetParam(), starting_with(folder, command.reg, command.before));
    const std::string trace_path = folder.path("trace.jsonl");
    std::vector<std::string> arguments = command_arguments(command, bus.host_options());
    arguments.insert(arguments.end(), {"--cycles", "1", "--status", "--trace", trace_path});
    const HostRun run = run_host(folder, arguments);

    ASSERT_EQ(run.status, 0) << run.transcript();
    EXPECT_EQ(run.out_starting("command ").front(), command_line(command) + ": confirmed");
    EXPECT_EQ(bus.server().registers(1, command.reg, 1)[0], command.after);
    const std::vector<Json::Value> writes = read_trace(trace_path);
    const auto written = calls_named(writes, "modbus_write_register");
    ASSERT_EQ(written.size(), 1u);
    EXPECT_EQ(written[0]["args"][0].asInt(), command.reg);
    EXPECT_EQ(written[0]["args"][1].asInt(), command.after);
    const std::vector<Json::Value> documents = run.status_documents();
    ASSERT_EQ(documents.size(), 1u) << run.transcript();
    EXPECT_EQ(documents[0][kSettingsGroup][command.key], command.shown);
  }
}

TEST_P(HostCommand, ReportsAWrongEchoAsAMismatch) {
  ScratchFolder folder;
  sim::ServerOptions options;
  sim::FaultRule wrong_echo;
  wrong_echo.kind = sim::FaultKind::wrong_echo;
  wrong_echo.request = sim::RequestKind::write_register;
  options.faults.rules = {wrong_echo};
  SimulatedBus bus(GetParam(), options);
  std::vector<std::string> arguments{"command", "temperature", "24"};
  const std::vector<std::string> bus_options = bus.host_options();
  arguments.insert(arguments.end(), bus_options.begin(), bus_options.end());
  const HostRun run = run_host(folder, arguments);
  EXPECT_EQ(run.status, 1) << run.transcript();
  EXPECT_EQ(run.out_starting("command "),
            std::vector<std::string>{"command temperature 24: echo mismatch"});
}

TEST_P(HostCommand, ReportsAMissingEchoAsNoReply) {
  ScratchFolder folder;
  sim::ServerOptions options;
  sim::FaultRule silent;
  silent.kind = sim::FaultKind::no_reply;
  silent.request = sim::RequestKind::write_register;
  options.faults.rules = {silent};
  SimulatedBus bus(GetParam(), options);
  std::vector<std::string> arguments{"command", "humidity", "40", "--json", "--timeout-ms", "200"};
  const std::vector<std::string> bus_options = bus.host_options();
  arguments.insert(arguments.end(), bus_options.begin(), bus_options.end());
  const HostRun run = run_host(folder, arguments);
  EXPECT_EQ(run.status, 1) << run.transcript();
  EXPECT_EQ(run.out_starting("command "),
            std::vector<std::string>{"command humidity 40: no reply: no reply within 200 ms"});
}

INSTANTIATE_TEST_SUITE_P(Transports, HostCommand, ::testing::Values(Transport::tcp, Transport::rtu),
                         [](const auto& info) { return transport_name(info.param); });

}  // namespace
}  // namespace velmocair::testing
