// velmocair-host polling the simulator over Modbus/TCP on loopback and
// Modbus RTU on a pseudo-terminal, with the built plug-in loaded through
// dlopen: the published record, alarms, and a bus shared with a dead unit.
#include <gtest/gtest.h>
#include <json/writer.h>

#include <algorithm>
#include <cstring>
#include <map>

#include "tests/support/host_run.h"

namespace velmocair::testing {
namespace {

constexpr std::uint32_t kDataId = 0x01020304;
constexpr int kPublicationId = 5156;
constexpr int kAlarmPoints = 149;

// Record bytes and the coil or register they image, read off the record
// layout independently of the poll table.
struct SpotCheck {
  std::size_t offset;
  bool coil;
  int address;
};

// clang-format off
// offset  coil   address
constexpr SpotCheck kSpotChecks[] = {
    {  4,  true,  8001},   // first coil of the indoor block
    { 20,  true,  8017},   // power failure alarm
    { 55,  true,  8052},   // block of 4 after the block of 3
    { 79,  false, 8001},   // first indoor register
    {153,  false, 8038},   // last indoor register
    {185,  true,  8131},   // system 1 compressor
    {322,  false, 8509},   // outdoor unit 2 registers start at 8509
    {350,  false, 3509},   // remote on/off
    {360,  false, 3514},   // last set-point register
    {394,  false, 8205},   // pump cabinet 1 registers
    {429,  true,  8264},   // last coil of pump cabinet 2
    {432,  false, 8222},   // last register of the record
};
// clang-format on

Json::Value distinctive_scenario() {
  Json::Value unit(Json::objectValue);
  unit["unit_id"] = 1;
  for (const char* coil : {"8017", "8052", "8131", "8232", "8264"}) {
    unit["coils"][coil] = 1;
  }
  // clang-format off
  const std::pair<const char*, int> registers[] = {
      {"8001", 0x0102}, {"8038", 0x1234}, {"8509", 0x0201}, {"3509", 1},
      {"3514", 0x0101}, {"8205", 0xBEEF}, {"8222", 0xFFFF},
  };
  // clang-format on
  for (const auto& [address, value] : registers) {
    unit["registers"][address] = value;
  }
  Json::Value scenario(Json::objectValue);
  scenario["units"].append(unit);
  return scenario;
}

class HostPoll : public ::testing::TestWithParam<Transport> {
 protected:
  sim::ServerOptions options_with_scenario(const Json::Value& scenario) {
    sim::ServerOptions options;
    options.scenario_path = write_scenario(folder_, scenario);
    return options;
  }

  ScratchFolder folder_;
};

TEST_P(HostPoll, PublishesTheRecordTheSimulatorHolds) {
  SimulatedBus bus(GetParam(), options_with_scenario(distinctive_scenario()));
  const std::string trace_path = folder_.path("trace.jsonl");
  const HostRun run = run_host(
      folder_,
      joined(bus.host_options(), {"--cycles", "2", "--interval", "0", "--status", "--data-id",
                                  std::to_string(kDataId), "--trace", trace_path}));
  ASSERT_EQ(run.status, 0) << run.transcript();
  EXPECT_EQ(run.status_documents().size(), 2u) << run.transcript();

  const std::vector<Json::Value> trace = read_trace(trace_path);
  const std::vector<Json::Value> published = calls_named(trace, "SendSP");
  ASSERT_EQ(published.size(), 2u);
  const std::vector<unsigned char> expected_body = expected_record_body(bus.server(), 1);
  for (const Json::Value& call : published) {
    EXPECT_EQ(call["device"].asUInt(), kDataId);
    ASSERT_EQ(call["args"].size(), 4u);
    EXPECT_EQ(call["args"][0].asInt(), kPublicationId);
    EXPECT_EQ(call["args"][2].asUInt(), kRecordSize);
    EXPECT_FALSE(call["args"][3].asBool());
    const std::vector<unsigned char> record = from_hex(call["args"][1].asString());
    ASSERT_EQ(record.size(), kRecordSize);
    std::uint32_t header = 0;
    std::memcpy(&header, record.data(), sizeof header);
    EXPECT_EQ(header, kDataId);
    EXPECT_EQ(std::vector<unsigned char>(record.begin() + kBodyFirst, record.begin() + kBodyEnd),
              expected_body);
    for (const SpotCheck& spot : kSpotChecks) {
      const int expected = spot.coil ? bus.server().coils(1, spot.address, 1)[0]
                                     : bus.server().registers(1, spot.address, 1)[0];
      const int actual =
          spot.coil ? record[spot.offset] : record[spot.offset] | (record[spot.offset + 1] << 8);
      EXPECT_EQ(actual, expected) << "offset " << spot.offset << ", address " << spot.address;
    }
  }
}

TEST_P(HostPoll, TracesEveryCallThePlugInMakesInOrder) {
  SimulatedBus bus(GetParam(), sim::ServerOptions{});
  const std::string trace_path = folder_.path("trace.jsonl");
  const HostRun run = run_host(
      folder_, joined(bus.host_options(), {"--cycles", "1", "--status", "--trace", trace_path}));
  ASSERT_EQ(run.status, 0) << run.transcript();
  const std::vector<Json::Value> trace = read_trace(trace_path);
  ASSERT_GE(trace.size(), 3u);
  for (const Json::Value& call : trace) {
    EXPECT_TRUE(call["call"].isString() && call["args"].isArray() && call.isMember("result"))
        << Json::writeString(Json::StreamWriterBuilder(), call);
  }
  EXPECT_EQ(trace[0]["call"].asString(), "InitSetting");
  EXPECT_EQ(trace[1]["call"].asString(), "RefreshStatus");
  EXPECT_EQ(trace[2]["call"].asString(), "modbus_read_bits");
  EXPECT_EQ(trace[2]["args"][0].asInt(), 8001);
  EXPECT_EQ(trace[2]["args"][1].asInt(), 32);
  EXPECT_EQ(calls_named(trace, "modbus_read_bits").size(), 12u);
  EXPECT_EQ(calls_named(trace, "modbus_read_registers").size(), 8u);
  EXPECT_EQ(calls_named(trace, "CheckThresholdBool").size(), std::size_t{kAlarmPoints});
  EXPECT_EQ(calls_named(trace, "DoBatchCheckThreshold").size(), 1u);
  EXPECT_EQ(trace.back()["call"].asString(), "SaveDeviceHistory");
}

TEST_P(HostPoll, ReportsAnAlarmRaisedAndClearedInTheSimulatorOnceEachWay) {
  Json::Value unit(Json::objectValue);
  unit["unit_id"] = 1;
  Json::Value raise(Json::objectValue);
  raise["cycle"] = 2;
  raise["coils"]["8043"] = 1;  // 高温报警, alarm index 25
  Json::Value clear(Json::objectValue);
  clear["cycle"] = 4;
  clear["coils"]["8043"] = 0;
  unit["timeline"].append(raise);
  unit["timeline"].append(clear);
  Json::Value scenario(Json::objectValue);
  scenario["units"].append(unit);
  SimulatedBus bus(GetParam(), options_with_scenario(scenario));

  const HostRun run = run_host(
      folder_, joined(bus.host_options(), {"--cycles", "5", "--interval", "0", "--status"}));
  ASSERT_EQ(run.status, 0) << run.transcript();
  const std::string name = bus.host_options()[1];
  const auto raised =
      std::find(run.out.begin(), run.out.end(), "alarm raised: unit " + name + " #25 高温报警");
  const auto cleared =
      std::find(run.out.begin(), run.out.end(), "alarm cleared: unit " + name + " #25 高温报警");
  ASSERT_NE(raised, run.out.end()) << run.transcript();
  ASSERT_NE(cleared, run.out.end()) << run.transcript();
  EXPECT_EQ(std::count(run.out.begin(), run.out.end(), *raised), 1);
  EXPECT_EQ(std::count(run.out.begin(), run.out.end(), *cleared), 1);
  EXPECT_LT(raised, cleared);
  // The simulator's standing alarms are raised once, at the first cycle.
  EXPECT_EQ(run.out_starting("alarm raised:").size(), 4u) << run.transcript();
  EXPECT_EQ(run.out_starting("alarm cleared:").size(), 1u);
  EXPECT_EQ(run.status_documents().size(), 5u);
}

TEST_P(HostPoll, KeepsTheLiveUnitsCycleWhenAnotherUnitOnTheBusIsDead) {
  SimulatedBus bus(GetParam(), sim::ServerOptions{});  // serves unit address 1 only
  const std::string site_path = bus.write_site(folder_, {
                                                            {"live", 1},
                                                            {"dead", 2}
  });
  const std::string trace_path = folder_.path("trace.jsonl");
  const HostRun run = run_host(folder_, {"--site", site_path, "--cycles", "3", "--interval", "0",
                                         "--status", "--timeout-ms", "200", "--trace", trace_path});

  EXPECT_EQ(run.status, 1) << "a failed cycle fails the run\n" << run.transcript();
  EXPECT_EQ(run.status_documents().size(), 3u) << run.transcript();
  for (int cycle = 1; cycle <= 3; ++cycle) {
    EXPECT_EQ(
        run.err_containing("cycle " + std::to_string(cycle) + " unit dead: no reply within 200 ms")
            .size(),
        1u)
        << run.transcript();
  }
  const std::vector<Json::Value> trace = read_trace(trace_path);
  int live_published = 0;
  int dead_requests = 0;
  for (const Json::Value& call : trace) {
    const std::string name = call["call"].asString();
    live_published += name == "SendSP" && call["device"].asInt() == 1;
    dead_requests += name.rfind("modbus_read", 0) == 0 && call["device"].asInt() == 2;
    EXPECT_FALSE(name == "SendSP" && call["device"].asInt() == 2);
  }
  EXPECT_EQ(live_published, 3);
  EXPECT_EQ(dead_requests, 3) << "the dead unit costs one time-out per cycle";
}

// The scenario file example of docs/simulator.md: coil 8022, alarm point #6
// 烟雾报警, is active in cycles 3 and 4. The status document takes its own
// "烟雾报警" flag from register 8002, so the view and the summary must show
// the alarm points as the host's threshold rules last saw them.
Json::Value readme_scenario() {
  Json::Value unit(Json::objectValue);
  unit["unit_id"] = 1;
  unit["coils"]["8043"] = 1;
  unit["registers"]["3501"] = 230;
  unit["registers"]["8022"] = 261;
  Json::Value raise(Json::objectValue);
  raise["cycle"] = 3;
  raise["coils"]["8022"] = 1;
  Json::Value clear(Json::objectValue);
  clear["cycle"] = 5;
  clear["coils"]["8022"] = 0;
  clear["registers"]["8022"] = 255;
  unit["timeline"].append(raise);
  unit["timeline"].append(clear);
  Json::Value scenario(Json::objectValue);
  scenario["units"].append(unit);
  return scenario;
}

constexpr const char* kSmokeAlarmPoint = "#6 烟雾报警";

TEST_F(HostPoll, SummarisesTheAlarmPointsTheHostRaisedAndHasNotCleared) {
  SimulatedBus bus(Transport::tcp, options_with_scenario(readme_scenario()));
  const HostRun run =
      run_host(folder_, joined(bus.host_options(), {"--cycles", "5", "--interval", "0"}));
  ASSERT_EQ(run.status, 0) << run.transcript();
  const std::string unit = "unit " + bus.host_options()[1];
  const std::string raised = "alarm raised: " + unit + " ";
  const std::string cleared = "alarm cleared: " + unit + " ";
  // The alarm lines of a cycle come before its summary: replay them.
  std::map<int, std::string> standing;
  int cycle = 0;
  for (const std::string& line : run.out) {
    if (line.rfind(raised, 0) == 0 || line.rfind(cleared, 0) == 0) {
      const bool raise = line.rfind(raised, 0) == 0;
      const std::string point = line.substr((raise ? raised : cleared).size());
      const int index = std::stoi(point.substr(1));
      if (raise) {
        standing[index] = point;
      } else {
        standing.erase(index);
      }
      continue;
    }
    if (line.rfind("cycle ", 0) != 0) {
      continue;  // the plug-in's own lines
    }
    ++cycle;
    std::string expected = "cycle " + std::to_string(cycle) + " " + unit + ": updated ";
    ASSERT_EQ(line.rfind(expected, 0), 0u) << line << "\n" << run.transcript();
    expected = ", " + std::to_string(standing.size()) +
               (standing.size() == 1 ? " active alarm point" : " active alarm points");
    for (auto point = standing.begin(); point != standing.end(); ++point) {
      expected += (point == standing.begin() ? ": " : ", ") + point->second;
    }
    EXPECT_NE(line.find(expected), std::string::npos) << line << "\n  lacks: " << expected;
    EXPECT_EQ(line.find(kSmokeAlarmPoint) != std::string::npos, cycle == 3 || cycle == 4) << line;
  }
  EXPECT_EQ(cycle, 5) << run.transcript();
}

TEST_F(HostPoll, ListsTheActiveAlarmPointsInTheView) {
  SimulatedBus bus(Transport::tcp, options_with_scenario(readme_scenario()));
  const HostRun run =
      run_host(folder_, joined(bus.host_options(), {"--cycles", "3", "--interval", "0", "--view"}));
  ASSERT_EQ(run.status, 0) << run.transcript();
  // Per cycle: the lines of its "active alarm points" section.
  std::vector<std::string> sections;
  bool in_section = false;
  for (const std::string& line : run.out) {
    if (line.rfind("active alarm points: ", 0) == 0) {
      sections.emplace_back();
      in_section = true;
    } else if (in_section && line.rfind("  ", 0) == 0) {
      sections.back() += line + "\n";
    } else {
      in_section = false;
    }
  }
  ASSERT_EQ(sections.size(), 3u) << run.transcript();
  EXPECT_EQ(sections[1].find(kSmokeAlarmPoint), std::string::npos) << sections[1];
  EXPECT_NE(sections[2].find(kSmokeAlarmPoint), std::string::npos) << sections[2];
  EXPECT_NE(sections[2].find("#25 高温报警"), std::string::npos) << sections[2];
}

INSTANTIATE_TEST_SUITE_P(Transports, HostPoll, ::testing::Values(Transport::tcp, Transport::rtu),
                         [](const auto& info) { return transport_name(info.param); });

TEST(HostPollUnreachable, PrintsAnErrorLinePerFailedCycleAndKeepsPolling) {
  ScratchFolder folder;
  const std::string missing_line = folder.path("no-such-serial-line");
  struct Unreachable {
    std::vector<std::string> bus;
    std::string says;  // the reason each failed cycle gives
  };
  // clang-format off
  const Unreachable cases[] = {
      {{"--tcp", "127.0.0.1:" + std::to_string(closed_tcp_port())}, "cannot open"},
      {{"--tcp", "nosuchhost.invalid:502"},                         "cannot resolve host nosuchhost.invalid: "},
      {{"--rtu", missing_line},                                     "cannot open"},
  };
  // clang-format on
  for (const Unreachable& test : cases) {
    const HostRun run =
        run_host(folder, joined(test.bus, {"--cycles", "3", "--interval", "0", "--status"}));
    EXPECT_EQ(run.status, 1) << run.transcript();
    EXPECT_TRUE(run.status_documents().empty());
    for (int cycle = 1; cycle <= 3; ++cycle) {
      EXPECT_EQ(run.err_containing("cycle " + std::to_string(cycle) + " unit " + test.bus[1] +
                                   ": " + test.says)
                    .size(),
                1u)
          << run.transcript();
    }
  }
}

}  // namespace
}  // namespace velmocair::testing
