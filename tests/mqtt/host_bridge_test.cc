// velmocair-host with the MQTT bridge, end to end: the host polls the
// simulator and publishes to Debian's mosquitto, a Home Assistant-shaped
// subscriber sees discovery and state, commands reach the unit's registers
// and are read back, the bridge goes offline with the host, and an outage
// is backfilled from the history. The bridge's own behaviour is tested
// in-process in gateway_test.cc.
#include <gtest/gtest.h>
#include <json/writer.h>
#include <signal.h>
#include <sqlite3.h>

#include <algorithm>
#include <set>

#include "tests/mqtt/broker_process.h"
#include "tests/mqtt/mqtt_listener.h"
#include "tests/support/host_run.h"
#include "tests/support/scripted_host.h"

namespace velmocair::testing {
namespace {

constexpr char kDocument[] = "velmocair/crac-1/document";
constexpr char kResult[] = "velmocair/crac-1/result";
constexpr char kBackfill[] = "velmocair/crac-1/backfill";
constexpr char kBridgeAvailability[] = "velmocair/bridge/availability";
constexpr char kClimate[] = "homeassistant/climate/velmocair_1/climate/config";
constexpr char kUpdateTime[] = "更新时间";
constexpr int kTemperatureSetPoint = 3501;
constexpr int kStartingSetPoint = 240;  // 24.0 in tenths

// The simulator's unit 1 with its temperature set-point at 24.
sim::ServerOptions unit_with_set_point(const ScratchFolder& folder) {
  Json::Value unit(Json::objectValue);
  unit["unit_id"] = 1;
  unit["registers"][std::to_string(kTemperatureSetPoint)] = kStartingSetPoint;
  Json::Value scenario(Json::objectValue);
  scenario["units"].append(unit);
  sim::ServerOptions options;
  options.scenario_path = write_scenario(folder, scenario);
  return options;
}

// velmocair-host polling the unit "crac-1" (data id 1) on a simulated bus,
// with the bridge to `broker` from --mqtt or from the site file.
class BridgedHost {
 public:
  struct Options {
    bool read_only = false;
    bool in_site_file = false;  // the site file's "mqtt" instead of --mqtt
    const char* interval = "1";
    bool history = false;
  };

  BridgedHost(const BrokerProcess& broker, Options options)
      : bus_(Transport::tcp, unit_with_set_point(folder_)) {
    Json::Value site = parse_json(read_file(bus_.write_site(folder_, {
                                                                         {"crac-1", 1}
    })));
    std::vector<std::string> argv{VELMOCAIR_HOST_PATH, "--site", folder_.path("site.json"),
                                  "--interval", options.interval};
    if (options.in_site_file) {
      site["mqtt"]["url"] = broker.url();
      site["mqtt"]["read_only"] = options.read_only;
    } else {
      argv.insert(argv.end(), {"--mqtt", broker.url()});
      if (options.read_only) {
        argv.push_back("--mqtt-read-only");
      }
    }
    if (options.history) {
      argv.insert(argv.end(), {"--history", history_path()});
    }
    write_file(folder_.path("site.json"), Json::writeString(Json::StreamWriterBuilder(), site));
    host_ = std::make_unique<ChildProcess>(argv, out_path(), err_path());
  }

  ChildProcess& process() { return *host_; }
  sim::Server& unit() { return bus_.server(); }
  std::string out_path() const { return folder_.path("host.out"); }
  std::string err_path() const { return folder_.path("host.err"); }
  std::string history_path() const { return folder_.path("history.sqlite"); }
  std::string transcript() const {
    return "stdout:\n" + read_file(out_path()) + "stderr:\n" + read_file(err_path());
  }
  int set_point() { return bus_.server().registers(1, kTemperatureSetPoint, 1).at(0); }

 private:
  ScratchFolder folder_;
  SimulatedBus bus_;
  std::unique_ptr<ChildProcess> host_;
};

std::vector<MqttListener::Message> on_topic(const MqttListener& listener,
                                            const std::string& topic) {
  std::vector<MqttListener::Message> found;
  for (const MqttListener::Message& message : listener.messages()) {
    if (message.topic == topic) {
      found.push_back(message);
    }
  }
  return found;
}

// A result on the unit's result topic whose text starts with `result`.
bool wait_for_result(const MqttListener& listener, const std::string& result) {
  return listener.wait_until(
      [&](const std::vector<MqttListener::Message>& messages) {
        return std::any_of(messages.begin(), messages.end(), [&](const auto& message) {
          return message.topic == kResult &&
                 parse_json(message.payload)["result"].asString().rfind(result, 0) == 0;
        });
      },
      kBrokerWait);
}

TEST(MqttHost, ALateSubscriberSeesTheRetainedDiscoveryAndTheUnitsState) {
  BrokerProcess broker;
  BridgedHost host(broker, {});
  MqttListener early(broker.port(), kDocument);
  ASSERT_TRUE(early.wait_for(kDocument, "", kBrokerWait)) << host.transcript();

  MqttListener late(broker.port());
  const std::string return_air = "velmocair/crac-1/value/number-r8005";
  for (const std::string& topic : {std::string(kClimate), std::string(kDocument), return_air,
                                   std::string("velmocair/crac-1/availability")}) {
    SCOPED_TRACE(topic);
    ASSERT_TRUE(late.wait_for(topic, "", kBrokerWait));
  }
  EXPECT_TRUE(late.wait_for(kBridgeAvailability, "online", kBrokerWait));
  EXPECT_EQ(late.latest().at("velmocair/crac-1/availability"), "online");
  for (const MqttListener::Message& message : late.messages()) {
    EXPECT_TRUE(message.retained) << message.topic;
  }
  const Json::Value climate = parse_json(late.latest().at(kClimate));
  EXPECT_EQ(climate["temperature_command_topic"].asString(), "velmocair/crac-1/set/temperature");
  EXPECT_EQ(climate["device"]["name"].asString(), "crac-1");
  // The value is the unit's register, in tenths.
  const double shown = parse_json(late.latest().at(return_air))["value"].asDouble();
  EXPECT_NEAR(shown, host.unit().registers(1, 8005, 1).at(0) / 10.0, 0.01);
  EXPECT_EQ(parse_json(late.latest().at(kDocument))["参数设定"]["回风温度设定值"].asDouble(), 24.0);
}

TEST(MqttHost, ASetPointRoundTripsThroughTheUnitAndIsReadBackAtOnce) {
  BrokerProcess broker;
  // An hour between cycles: only the cycle the command starts reads it back.
  BridgedHost host(broker, {false, false, "3600"});
  MqttListener listener(broker.port());
  ASSERT_TRUE(listener.wait_for(kDocument, "", kBrokerWait)) << host.transcript();
  const std::size_t before = listener.count();

  listener.publish("velmocair/crac-1/set/temperature", "19");
  ASSERT_TRUE(wait_for_result(listener, "confirmed")) << host.transcript();
  EXPECT_EQ(host.set_point(), 190);
  const Json::Value result = parse_json(on_topic(listener, kResult).back().payload);
  EXPECT_TRUE(result["confirmed"].asBool());
  EXPECT_EQ(result["value"].asInt(), 19);
  EXPECT_TRUE(listener.wait_for("velmocair/crac-1/value/number-r3501", "", kBrokerWait, before))
      << host.transcript();
  EXPECT_EQ(
      parse_json(listener.latest().at("velmocair/crac-1/value/number-r3501"))["value"].asDouble(),
      19.0);
}

struct RefusedCommand {
  bool read_only;
  const char* word;
  const char* payload;
  const char* result;
};

// clang-format off
const RefusedCommand kRefusedCommands[] = {
    {false, "temperature", "7000", "refused: outside 0..6553"},
    {false, "humidity",    "120",  "refused: outside 0..100"},
    {false, "temperature", "23.5", "refused: not a whole number"},
    {true,  "temperature", "19",   "refused: the bridge is read-only"},
    {true,  "power",       "OFF",  "refused: the bridge is read-only"},
};
// clang-format on

TEST(MqttHost, OutOfRangeAndReadOnlyCommandsWriteNothing) {
  for (const bool read_only : {false, true}) {
    SCOPED_TRACE(read_only ? "read-only, from the site file" : "taking commands");
    BrokerProcess broker;
    BridgedHost host(broker, {read_only, read_only});
    MqttListener listener(broker.port());
    ASSERT_TRUE(listener.wait_for(kDocument, "", kBrokerWait)) << host.transcript();
    for (const RefusedCommand& command : kRefusedCommands) {
      if (command.read_only != read_only) {
        continue;
      }
      SCOPED_TRACE(std::string(command.word) + " " + command.payload);
      listener.publish(std::string("velmocair/crac-1/set/") + command.word, command.payload);
      EXPECT_TRUE(wait_for_result(listener, command.result)) << host.transcript();
    }
    EXPECT_EQ(host.unit().writes(), 0U);
    EXPECT_EQ(host.set_point(), kStartingSetPoint);
  }
}

TEST(MqttHost, TheBridgeGoesOfflineWhenTheHostEndsEitherWay) {
  for (const int signal : {SIGKILL, SIGTERM}) {
    SCOPED_TRACE(signal == SIGKILL ? "kill -9: the last will" : "SIGTERM: a clean stop");
    BrokerProcess broker;
    BridgedHost host(broker, {});
    MqttListener listener(broker.port(), kBridgeAvailability);
    ASSERT_TRUE(listener.wait_for(kBridgeAvailability, "online", kBrokerWait)) << host.transcript();
    const std::size_t online = listener.count();
    host.process().signal(signal);
    EXPECT_TRUE(listener.wait_for(kBridgeAvailability, "offline", kBrokerWait, online));
    const int status = host.process().wait(kBrokerWait);
    if (signal == SIGTERM) {
      EXPECT_EQ(status, 0) << host.transcript();
    }
  }
}

// The time stamps of the records the history holds for data id 1, in order.
std::vector<std::string> stored_times(const std::string& path) {
  sqlite3* db = nullptr;
  std::vector<std::string> times;
  if (sqlite3_open_v2(path.c_str(), &db, SQLITE_OPEN_READONLY, nullptr) != SQLITE_OK) {
    ADD_FAILURE() << "cannot open " << path;
    sqlite3_close(db);
    return times;
  }
  sqlite3_stmt* rows = nullptr;
  sqlite3_prepare_v2(db, "SELECT record FROM history WHERE data_id = 1 ORDER BY id", -1, &rows,
                     nullptr);
  while (sqlite3_step(rows) == SQLITE_ROW) {
    const auto* record = static_cast<const unsigned char*>(sqlite3_column_blob(rows, 0));
    EXPECT_EQ(static_cast<std::size_t>(sqlite3_column_bytes(rows, 0)), kRecordSize);
    const unsigned char* stamp = record + kBodyEnd;
    times.push_back(std::to_string(stamp[0] | (stamp[1] << 8)) + "-" + std::to_string(stamp[2]) +
                    "-" + std::to_string(stamp[3]) + " " + std::to_string(stamp[4]) + ":" +
                    std::to_string(stamp[5]) + ":" + std::to_string(stamp[6]));
  }
  sqlite3_finalize(rows);
  sqlite3_close(db);
  return times;
}

// The summary line of a cycle the host completed: "cycle N unit crac-1: ...".
int last_cycle(const std::string& out) {
  int last = 0;
  for (const std::string& line : lines_of(out)) {
    if (line.rfind("cycle ", 0) == 0) {
      last = std::stoi(line.substr(std::string("cycle ").size()));
    }
  }
  return last;
}

TEST(MqttHost, AnOutageWithAHistoryIsBackfilledWithExactlyTheMissingRecords) {
  BrokerProcess broker({false, false, true});
  // A session that outlasts the broker's restart, as a recorder's would.
  MqttListener recorder(broker.port(), "velmocair/crac-1/+", "recorder");
  // Two seconds between cycles: each record has a second of its own.
  BridgedHost host(broker, {false, false, "2", true});
  ASSERT_TRUE(recorder.wait_for(kDocument, "", kBrokerWait)) << host.transcript();

  broker.stop();
  ASSERT_FALSE(
      wait_for_line(host.process(), host.err_path(), "velmocair-host: mqtt: lost", kBrokerWait)
          .empty())
      << host.transcript();
  const int missed_from = last_cycle(read_file(host.out_path())) + 1;
  ASSERT_FALSE(wait_for_line(host.process(), host.out_path(),
                             "cycle " + std::to_string(missed_from + 2) + " ", kBrokerWait)
                   .empty());
  broker.start();
  // Three records missed: the newest goes out live, the two before it are
  // backfilled.
  ASSERT_TRUE(recorder.wait_until(
      [](const auto& messages) {
        return std::count_if(messages.begin(), messages.end(),
                             [](const auto& m) { return m.topic == kBackfill; }) >= 2;
      },
      kBrokerWait))
      << host.transcript();
  host.process().terminate(kBrokerWait);

  std::vector<std::string> live;
  std::vector<std::string> backfilled;
  // The simulator's readings stay: every document is the first but for
  // its time, whether the bridge had it from the device or the history.
  Json::Value first = parse_json(recorder.payloads(kDocument).front());
  first.removeMember(kUpdateTime);
  for (const MqttListener::Message& message : recorder.messages()) {
    if (message.topic != kBackfill && (message.topic != kDocument || message.retained)) {
      continue;
    }
    Json::Value document = parse_json(message.payload);
    (message.topic == kBackfill ? backfilled : live).push_back(document[kUpdateTime].asString());
    document.removeMember(kUpdateTime);
    EXPECT_EQ(document, first) << message.topic;
  }
  // Every stored record up to the last one published reached the broker:
  // live (where a connection publishes the latest state again), or
  // afterwards on the backfill topic, each once and oldest first, none of
  // them one the broker had live.
  const std::vector<std::string> stored = stored_times(host.history_path());
  const auto last_published = std::find(stored.begin(), stored.end(), live.back());
  ASSERT_NE(last_published, stored.end()) << host.transcript();
  std::set<std::string> published(live.begin(), live.end());
  for (const std::string& time : backfilled) {
    EXPECT_TRUE(published.insert(time).second) << time << " published twice";
  }
  EXPECT_EQ(std::set<std::string>(stored.begin(), last_published + 1), published);
  EXPECT_TRUE(std::is_sorted(backfilled.begin(), backfilled.end(),
                             [&](const std::string& a, const std::string& b) {
                               return std::find(stored.begin(), stored.end(), a) <
                                      std::find(stored.begin(), stored.end(), b);
                             }));
}

}  // namespace
}  // namespace velmocair::testing
