// The bridge against Debian's mosquitto: what a Home Assistant-shaped
// subscriber sees, commands carried out on the plug-in's device, the last
// will, broker restarts and outages, and connections that fail.
#include "cli/mqtt/gateway.h"

#include <gtest/gtest.h>
#include <json/reader.h>
#include <signal.h>

#include <atomic>
#include <deque>
#include <map>
#include <mutex>
#include <set>
#include <sstream>
#include <thread>

#include "cli/mqtt/discovery.h"
#include "cli/mqtt/document_members.h"
#include "cli/mqtt/entity_table.h"
#include "cli/mqtt/link_figures.h"
#include "cli/mqtt/set_topics.h"
#include "cli/mqtt/topic_layout.h"
#include "commands/control_commands.h"
#include "tests/mqtt/broker_process.h"
#include "tests/mqtt/mqtt_listener.h"
#include "tests/mqtt/unit_documents.h"

namespace velmocair::mqtt {
namespace {

using testing::at_second;
using testing::BrokerProcess;
using testing::kBrokerWait;
using testing::MqttListener;
using testing::UnitDocuments;

constexpr int kResultQuery = 0;
constexpr std::uint32_t kFirstDataId = 1001;

Json::Value parsed(const std::string& text) {
  Json::CharReaderBuilder builder;
  Json::Value value;
  std::string errors;
  std::istringstream stream(text);
  if (!Json::parseFromStream(builder, stream, &value, &errors)) {
    ADD_FAILURE() << "not JSON: " << text;
  }
  return value;
}

// Home Assistant's units for the device classes the bridge uses.
const std::map<std::string, std::set<std::string>>& accepted_units() {
  static const std::map<std::string, std::set<std::string>> units = {
      {"temperature", {"°C", "°F", "K"}         },
      {"humidity",    {"%"}                       },
      {"voltage",     {"V", "mV", "kV"}           },
      {"frequency",   {"Hz", "kHz", "MHz", "GHz"} },
      {"duration",    {"d", "h", "min", "s", "ms"}},
  };
  return units;
}

// A host's part around the bridge: the units' documents come from the
// plug-in's device, commands queue for the test to carry out.
class Site {
 public:
  struct Options {
    std::size_t units = 1;
    bool read_only = false;
    bool fake_clock = false;
    bool history = false;
  };

  Site(const std::string& url, Options options) : documents_(options.units) {
    GatewayOptions gateway;
    gateway.broker = parse_broker_url(url, "URL");
    for (std::size_t i = 0; i < options.units; ++i) {
      // The second unit's name is no topic word: it gets the data id's.
      gateway.units.push_back({i == 1 ? "机房 2" : "crac-" + std::to_string(i + 1),
                               static_cast<std::uint32_t>(kFirstDataId + i)});
    }
    gateway.read_only = options.read_only;
    gateway.notice = [this](const std::string& line) {
      const std::lock_guard<std::mutex> lock(mutex_);
      notices_.push_back(line);
    };
    if (!options.read_only) {
      gateway.on_command = [this](const CommandRequest& request, CommandReply reply) {
        const std::lock_guard<std::mutex> lock(mutex_);
        requests_.push_back({request, std::move(reply)});
      };
    }
    if (options.fake_clock) {
      gateway.clock = [this] {
        return SteadyClock::time_point(SteadyClock::duration(now_.load()));
      };
    }
    if (options.history) {
      gateway.history = [this](std::uint32_t data_id, const RecordTime& from,
                               const RecordTime& before, const StoredRecordVisit& visit) {
        std::vector<std::pair<RecordTime, Json::Value>> rows;
        {
          const std::lock_guard<std::mutex> lock(mutex_);
          rows = stored_[data_id];
        }
        for (const auto& [time, document] : rows) {
          if (!(time < from) && time < before && !visit(time, document)) {
            return;
          }
        }
      };
    }
    topics_ =
        std::make_unique<TopicLayout>(gateway.broker.base_topic, gateway.broker.discovery_prefix);
    for (const UnitIdentity& unit : gateway.units) {
      topic_ids_.push_back(unit_topic_id(unit.name, unit.data_id));
    }
    gateway_ = std::make_unique<Gateway>(gateway);
    gateway_->start();
  }

  Gateway& gateway() { return *gateway_; }
  const TopicLayout& topics() const { return *topics_; }
  const std::string& topic_id(std::size_t unit) const { return topic_ids_.at(unit); }
  UnitDocuments& documents(std::size_t unit) { return documents_.at(unit); }

  // A completed cycle of `unit` at `second`, stored as the history would.
  Json::Value cycle(std::size_t unit, int second, const UnitDocuments::Raw& raw = {}) {
    const Json::Value document = documents_.at(unit).document(at_second(second), raw);
    {
      const std::lock_guard<std::mutex> lock(mutex_);
      stored_[kFirstDataId + static_cast<std::uint32_t>(unit)].emplace_back(at_second(second),
                                                                            document);
    }
    gateway_->cycle_completed(unit, document, {});
    return document;
  }

  std::vector<std::string> notices() const {
    const std::lock_guard<std::mutex> lock(mutex_);
    return notices_;
  }
  bool wait_for_notice(const std::string& part) const {
    const auto deadline = std::chrono::steady_clock::now() + kBrokerWait;
    while (std::chrono::steady_clock::now() < deadline) {
      for (const std::string& line : notices()) {
        if (line.find(part) != std::string::npos) {
          return true;
        }
      }
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return false;
  }

  struct Pending {
    CommandRequest request;
    CommandReply reply;
  };
  std::deque<Pending> take_requests() {
    const std::lock_guard<std::mutex> lock(mutex_);
    std::deque<Pending> taken;
    taken.swap(requests_);
    return taken;
  }
  bool wait_for_requests(std::size_t count) {
    const auto deadline = std::chrono::steady_clock::now() + kBrokerWait;
    while (std::chrono::steady_clock::now() < deadline) {
      {
        const std::lock_guard<std::mutex> lock(mutex_);
        if (requests_.size() >= count) {
          return true;
        }
      }
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return false;
  }

  void advance(std::chrono::seconds by) {
    now_ += std::chrono::duration_cast<SteadyClock::duration>(by).count();
  }

 private:
  std::vector<UnitDocuments> documents_;
  std::unique_ptr<TopicLayout> topics_;
  std::vector<std::string> topic_ids_;
  mutable std::mutex mutex_;
  std::vector<std::string> notices_;
  std::deque<Pending> requests_;
  std::map<std::uint32_t, std::vector<std::pair<RecordTime, Json::Value>>> stored_;
  std::atomic<SteadyClock::duration::rep> now_{0};
  std::unique_ptr<Gateway> gateway_;
};

// The arguments of a register write as the trace records them.
Json::Value testing_args(int address, int value) { return args(address, value); }

std::size_t entities_per_unit() {
  // The climate, a sensor per number and state text, the active alarms, a
  // binary sensor per alarm point, the link figures.
  return 1 + kMemberCount + 1 + std::size(kLinkFigures);
}

bool is_config(const std::string& topic) {
  return topic.rfind("homeassistant/", 0) == 0 && topic.size() > 7 &&
         topic.compare(topic.size() - 7, 7, "/config") == 0;
}

std::size_t count_configs(const std::vector<MqttListener::Message>& messages) {
  std::set<std::string> topics;
  for (const auto& message : messages) {
    if (is_config(message.topic)) {
      topics.insert(message.topic);
    }
  }
  return topics.size();
}

// Carries out each queued command on the unit's device as the host does
// (DeviceIoControl, the unit's echo, the result query), then reads the
// state back: a cycle whose record holds the written register. Returns the
// register writes the device made, as [register, value].
std::vector<Json::Value> carry_out(Site& site, int second) {
  std::vector<Json::Value> writes;
  for (Site::Pending& pending : site.take_requests()) {
    const CommandRequest& request = pending.request;
    TestUnit& unit = site.documents(request.unit).unit();
    const auto input = static_cast<std::uint16_t>(request.value.value_or(0));
    std::int32_t ignored = 0;
    int length = 0;
    unit.device.DeviceIoControl(request.command, &input, request.value ? sizeof input : 0, &ignored,
                                sizeof ignored, length);
    for (const Json::Value& call : unit.host.calls_named("modbus_write_register")) {
      writes.push_back(call["args"]);
    }
    const NumericCommand& command = *find_numeric_command(request.command);
    const int written = command.value.from_set_point ? input * kTenthsPerUnit : command.value.fixed;
    unit.reply_registers({static_cast<std::uint16_t>(written)});
    std::int32_t result = -1;
    unit.device.DeviceIoControl(kResultQuery, nullptr, 0, &result, sizeof result, length);
    pending.reply({result == 0, result == 0 ? "confirmed" : "echo mismatch"});
    // The register as the next cycle reads it back.
    UnitDocuments::Raw raw;
    for (std::size_t member = 0; member < kMemberCount; ++member) {
      const status::Source& source = document_member(member).source;
      if (source.kind == ReadKind::registers && source.address == command.reg.value) {
        raw[member] = static_cast<std::uint16_t>(written);
      }
    }
    site.cycle(request.unit, second++, raw);
  }
  return writes;
}

TEST(MqttGateway, LateSubscriberSeesValidDiscoveryAndStateAndEveryCommandTopicAnswers) {
  BrokerProcess broker;
  Site site(broker.url(), {2});
  const std::size_t return_air = member_index(status::kIndoor, "回风温度");
  const std::size_t smoke = member_index(status::kIndoor, "烟雾报警");
  site.cycle(0, 1,
             {
                 {return_air, 253}
  });
  site.cycle(1, 1,
             {
                 {return_air, 198},
                 {smoke,      1  }
  });
  {
    MqttListener early(broker.port());
    ASSERT_TRUE(early.wait_for(site.topics().document(site.topic_id(1)), "", kBrokerWait));
  }

  MqttListener late(broker.port());
  ASSERT_TRUE(late.wait_until(
      [](const auto& messages) { return count_configs(messages) == 2 * entities_per_unit(); },
      kBrokerWait))
      << count_configs(late.messages());
  const auto retained = late.latest();
  EXPECT_EQ(retained.at(site.topics().bridge_availability()), "online");
  EXPECT_EQ(site.topic_id(1), "unit-1002");

  std::set<std::string> unique_ids;
  std::vector<std::string> command_topics;
  std::size_t enabled_alarms = 0;
  for (const auto& [topic, payload] : retained) {
    if (!is_config(topic)) {
      continue;
    }
    SCOPED_TRACE(topic);
    const Json::Value config = parsed(payload);
    EXPECT_TRUE(unique_ids.insert(config["unique_id"].asString()).second) << "repeated unique id";
    ASSERT_EQ(config["availability"].size(), 2U);
    for (const Json::Value& availability : config["availability"]) {
      EXPECT_EQ(retained.count(availability["topic"].asString()), 1U)
          << availability["topic"].asString();
    }
    const std::string device_class = config["device_class"].asString();
    const std::string unit = config["unit_of_measurement"].asString();
    if (topic.find("/sensor/") != std::string::npos && !device_class.empty()) {
      if (device_class == "enum") {
        EXPECT_GE(config["options"].size(), 3U);
        EXPECT_TRUE(unit.empty() && !config.isMember("state_class"));
      } else {
        ASSERT_EQ(accepted_units().count(device_class), 1U) << device_class;
        EXPECT_EQ(accepted_units().at(device_class).count(unit), 1U) << device_class << " " << unit;
      }
    }
    EXPECT_NE(unit, "C");
    if (topic.find("/binary_sensor/") != std::string::npos) {
      EXPECT_EQ(device_class, "problem");
      enabled_alarms += config.get("enabled_by_default", true).asBool() ? 1 : 0;
    }
    for (const std::string& key : config.getMemberNames()) {
      const bool state = key.size() > 6 && key.compare(key.size() - 6, 6, "_topic") == 0 &&
                         key.find("command") == std::string::npos;
      if (state) {
        EXPECT_EQ(retained.count(config[key].asString()), 1U) << key << " has no retained state";
      } else if (key.find("_command_topic") != std::string::npos) {
        command_topics.push_back(config[key].asString());
      }
    }
  }
  EXPECT_EQ(unique_ids.size(), 2 * entities_per_unit());
  EXPECT_EQ(enabled_alarms, 2 * std::size(kAlarmsEnabledByDefault));

  const Json::Value value =
      parsed(retained.at(site.topics().value(site.topic_id(0), member_id(return_air))));
  EXPECT_EQ(static_cast<float>(value["value"].asDouble()), 25.3F);
  EXPECT_EQ(value["time"].asString().substr(0, 19), "2026-12-08T14:00:01");
  const Json::Value document = parsed(retained.at(site.topics().document(site.topic_id(1))));
  EXPECT_EQ(static_cast<float>(document[status::kIndoor]["回风温度"].asDouble()), 19.8F);
  EXPECT_EQ(document[status::kUpdateTime].asString(), "2026-12-8 14:0:1");
  const Json::Value alarms = parsed(retained.at(site.topics().alarms(site.topic_id(1))));
  EXPECT_EQ(alarms["count"].asInt(), 1);
  EXPECT_EQ(alarms["active"][0].asString(), std::string(status::kIndoor) + "/烟雾报警");

  // Every command topic of the discovery: a command reaches the device,
  // its result is published and the state read back.
  ASSERT_EQ(command_topics.size(), 2 * std::size(kSetTopics));
  const std::map<std::string, std::string> payload_for = {
      {"power",       "auto"},
      {"temperature", "24"  },
      {"humidity",    "45"  }
  };
  const std::size_t before = late.count();
  for (const std::string& topic : command_topics) {
    late.publish(topic, payload_for.at(topic.substr(topic.rfind('/') + 1)));
  }
  ASSERT_TRUE(site.wait_for_requests(command_topics.size()));
  const std::vector<Json::Value> writes = carry_out(site, 10);
  EXPECT_EQ(writes.size(), command_topics.size());
  const NumericCommand& temperature = *find_numeric_command(find_set_topic("temperature")->command);
  EXPECT_NE(std::find(writes.begin(), writes.end(),
                      testing_args(temperature.reg.value, 24 * kTenthsPerUnit)),
            writes.end());
  for (std::size_t unit = 0; unit < 2; ++unit) {
    ASSERT_TRUE(late.wait_until(
        [&](const auto& messages) {
          std::size_t results = 0;
          for (std::size_t i = before; i < messages.size(); ++i) {
            results += messages[i].topic == site.topics().result(site.topic_id(unit)) ? 1 : 0;
          }
          return results == std::size(kSetTopics);
        },
        kBrokerWait));
    for (const std::string& result : late.payloads(site.topics().result(site.topic_id(unit)))) {
      EXPECT_TRUE(parsed(result)["confirmed"].asBool()) << result;
    }
  }
  const std::size_t set_point = set_point_member(*find_set_topic("temperature"));
  const std::string set_point_topic = site.topics().value(site.topic_id(0), member_id(set_point));
  ASSERT_TRUE(late.wait_until(
      [&](const auto& messages) {
        for (const auto& message : messages) {
          if (message.topic == set_point_topic &&
              parsed(message.payload)["value"].asDouble() == 24) {
            return true;
          }
        }
        return false;
      },
      kBrokerWait));
  EXPECT_EQ(site.gateway().counts().commands, command_topics.size());
  EXPECT_EQ(site.gateway().counts().refused, 0U);
}

// The time stamp a payload carries: the document's "更新时间".
std::string document_time(const std::string& payload) {
  return parsed(payload)[status::kUpdateTime].asString();
}

std::size_t count_on(const std::vector<MqttListener::Message>& messages, const std::string& topic,
                     std::size_t from = 0) {
  std::size_t count = 0;
  for (std::size_t i = from; i < messages.size(); ++i) {
    count += messages[i].topic == topic ? 1 : 0;
  }
  return count;
}

// Waits until a republish that began after message `from` has ended for
// unit 0 of `site`: its every configuration, then its link statistics.
bool wait_republished(const MqttListener& listener, const Site& site, std::size_t from) {
  const std::string link = site.topics().link(site.topic_id(0));
  return listener.wait_until(
      [&](const auto& messages) {
        std::set<std::string> configs;
        std::size_t last_config = from;
        for (std::size_t i = from; i < messages.size(); ++i) {
          if (is_config(messages[i].topic)) {
            configs.insert(messages[i].topic);
            last_config = i;
          }
        }
        return configs.size() == entities_per_unit() && count_on(messages, link, last_config) > 0;
      },
      kBrokerWait);
}

struct SetCase {
  bool read_only;
  const char* word;
  const char* payload;
  bool request;        // handed to the host
  const char* result;  // the start of the published result
};

TEST(MqttGateway, RefusedCommandsMakeNoRequestAndAreAnswered) {
  // clang-format off
  const SetCase cases[] = {
      {false, "temperature", "6554",   false, "refused: outside 0..6553"},
      {false, "humidity",    "101",    false, "refused: outside 0..100"},
      {false, "temperature", "23.5",   false, "refused: not a whole number"},
      {false, "power",       "toggle", false, "refused: not ON, OFF"},
      {false, "fan",         "1",      false, "refused: no such command"},
      {false, "temperature", "24",     true,  "confirmed"},
      {true,  "power",       "ON",     false, "refused: the bridge is read-only"},
      {true,  "temperature", "24",     false, "refused: the bridge is read-only"},
  };
  // clang-format on
  BrokerProcess broker;
  MqttListener listener(broker.port());
  for (const bool read_only : {false, true}) {
    const std::size_t start = listener.count();
    Site site(broker.url(), {1, read_only});
    site.cycle(0, 1);
    // Published after the gateway subscribed to its set topics.
    ASSERT_TRUE(
        listener.wait_for(site.topics().document(site.topic_id(0)), "", kBrokerWait, start));
    const std::string result_topic = site.topics().result(site.topic_id(0));
    for (const SetCase& row : cases) {
      if (row.read_only != read_only) {
        continue;
      }
      SCOPED_TRACE(std::string(row.word) + " " + row.payload);
      const std::size_t from = listener.count();
      listener.publish(site.topics().set(site.topic_id(0), row.word), row.payload);
      if (row.request) {
        ASSERT_TRUE(site.wait_for_requests(1));
        for (Site::Pending& pending : site.take_requests()) {
          pending.reply({true, "confirmed"});
        }
      }
      ASSERT_TRUE(listener.wait_for(result_topic, "", kBrokerWait, from));
      const auto results = listener.payloads(result_topic);
      EXPECT_EQ(parsed(results.back())["result"].asString().rfind(row.result, 0), 0U)
          << results.back();
      EXPECT_TRUE(site.take_requests().empty());
    }
    const GatewayCounts counts = site.gateway().counts();
    EXPECT_EQ(counts.commands, read_only ? 0U : 1U);
    if (read_only) {
      const auto retained = listener.latest();
      const auto climate = std::find_if(retained.begin(), retained.end(), [](const auto& entry) {
        return entry.first.find("/climate/") != std::string::npos;
      });
      ASSERT_NE(climate, retained.end());
      for (const std::string& key : parsed(climate->second).getMemberNames()) {
        EXPECT_EQ(key.find("command_topic"), std::string::npos) << key;
      }
    }
  }
}

TEST(MqttGateway, AnAbruptEndPublishesTheLastWill) {
  BrokerProcess broker;
  MqttListener listener(broker.port());
  const TopicLayout topics(kDefaultBaseTopic, kDefaultDiscoveryPrefix);
  testing::ChildProcess host({VELMOCAIR_MQTT_GATEWAY_CHILD, broker.url()}, broker.path("host.out"),
                             broker.path("host.err"));
  ASSERT_TRUE(listener.wait_for(topics.document("crac-1"), "", kBrokerWait))
      << testing::read_file(broker.path("host.err"));
  ASSERT_EQ(listener.latest().at(topics.bridge_availability()), "online");
  const std::size_t from = listener.count();
  host.signal(SIGKILL);
  EXPECT_TRUE(listener.wait_for(topics.bridge_availability(), "offline", kBrokerWait, from));
}

TEST(MqttGateway, ABrokerRestartBringsEverythingBack) {
  BrokerProcess broker;
  Site site(broker.url(), {1});
  site.cycle(0, 1);
  {
    MqttListener listener(broker.port());
    ASSERT_TRUE(listener.wait_for(site.topics().document(site.topic_id(0)), "", kBrokerWait));
  }
  broker.restart();
  MqttListener listener(broker.port());
  ASSERT_TRUE(listener.wait_until(
      [&](const auto& messages) {
        return count_configs(messages) == entities_per_unit() &&
               count_on(messages, site.topics().document(site.topic_id(0))) > 0;
      },
      kBrokerWait));
  const auto retained = listener.latest();
  EXPECT_EQ(retained.at(site.topics().bridge_availability()), "online");
  EXPECT_EQ(retained.at(site.topics().availability(site.topic_id(0))), "online");
  EXPECT_EQ(document_time(retained.at(site.topics().document(site.topic_id(0)))),
            "2026-12-8 14:0:1");
  EXPECT_EQ(site.gateway().counts().connections, 2U);
  EXPECT_TRUE(site.wait_for_notice("mqtt: lost the connection to " + broker.url()));
}

TEST(MqttGateway, HomeAssistantsBirthMessageRepublishes) {
  BrokerProcess broker;
  Site site(broker.url(), {1});
  site.cycle(0, 1);
  MqttListener listener(broker.port());
  ASSERT_TRUE(listener.wait_until(
      [&](const auto& messages) { return count_configs(messages) == entities_per_unit(); },
      kBrokerWait));
  const std::size_t from = listener.count();
  listener.publish("homeassistant/status", "online");
  const std::string return_air =
      site.topics().value(site.topic_id(0), member_id(member_index(status::kIndoor, "回风温度")));
  EXPECT_TRUE(listener.wait_until(
      [&](const auto& messages) {
        std::set<std::string> configs;
        for (std::size_t i = from; i < messages.size(); ++i) {
          if (is_config(messages[i].topic)) {
            configs.insert(messages[i].topic);
          }
        }
        return configs.size() == entities_per_unit() && count_on(messages, return_air, from) > 0 &&
               count_on(messages, site.topics().availability(site.topic_id(0)), from) > 0;
      },
      kBrokerWait));
}

TEST(MqttGateway, AUnitFailingPastItsAgeGoesOfflineAndItsValuesAreNotPublishedAsFresh) {
  BrokerProcess broker;
  MqttListener listener(broker.port());
  Site site(broker.url(), {1, false, true});
  const std::string availability = site.topics().availability(site.topic_id(0));
  const std::string value_prefix = site.topics().value(site.topic_id(0), "");
  site.cycle(0, 1);
  ASSERT_TRUE(wait_republished(listener, site, 0));
  ASSERT_TRUE(listener.wait_for(availability, "online", kBrokerWait));

  site.advance(kDefaultOfflineAfter);
  LinkFigures failing;
  failing.cycles_failed = 1;
  site.gateway().cycle_failed(0, failing);
  const std::size_t at_age = listener.count();
  site.advance(std::chrono::seconds(1));
  failing.cycles_failed = 2;
  site.gateway().cycle_failed(0, failing);
  ASSERT_TRUE(listener.wait_for(availability, "offline", kBrokerWait, at_age));
  // Within the age the unit had stayed online.
  EXPECT_EQ(count_on(listener.messages(), availability, at_age), 1U);

  const std::size_t from = listener.count();
  listener.publish("homeassistant/status", "online");
  ASSERT_TRUE(wait_republished(listener, site, from));
  const auto messages = listener.messages();
  for (std::size_t i = from; i < messages.size(); ++i) {
    EXPECT_NE(messages[i].topic.rfind(value_prefix, 0), 0U) << messages[i].topic;
    EXPECT_NE(messages[i].topic, site.topics().document(site.topic_id(0)));
    if (messages[i].topic == availability) {
      EXPECT_EQ(messages[i].payload, "offline");
    }
  }

  const std::size_t back = listener.count();
  site.cycle(0, 50);
  ASSERT_TRUE(listener.wait_for(site.topics().document(site.topic_id(0)), "", kBrokerWait, back));
  const auto after = listener.messages();
  EXPECT_EQ(count_on(after, availability, back), 1U);
  std::size_t values = 0;
  for (std::size_t i = back; i < after.size(); ++i) {
    values += after[i].topic.rfind(value_prefix, 0) == 0 ? 1 : 0;
  }
  EXPECT_EQ(values, kMemberCount);  // every value, fresh
}

TEST(MqttGateway, AnOutageKeepsTheLatestStateAndBackfillsExactlyTheMissedRecords) {
  BrokerProcess broker({false, false, true});
  // A session that outlasts the broker's restart, as a recorder's would.
  MqttListener watcher(broker.port(), "#", "recorder");
  Site site(broker.url(), {1, false, false, true});
  const std::string document = site.topics().document(site.topic_id(0));
  const std::string backfill = site.topics().backfill(site.topic_id(0));
  site.cycle(0, 1);
  ASSERT_TRUE(watcher.wait_for(document, "", kBrokerWait));

  broker.stop();
  ASSERT_TRUE(site.wait_for_notice("mqtt: lost the connection"));
  for (int second = 2; second <= 6; ++second) {
    site.cycle(0, second);
  }
  broker.start();
  ASSERT_TRUE(watcher.wait_until(
      [&](const auto& messages) { return count_on(messages, backfill) == 4; }, kBrokerWait));
  ASSERT_TRUE(watcher.wait_until(
      [&](const auto& messages) {
        for (const auto& message : messages) {
          if (message.topic == document && document_time(message.payload) == "2026-12-8 14:0:6") {
            return true;
          }
        }
        return false;
      },
      kBrokerWait));
  std::vector<std::string> times;
  for (const std::string& payload : watcher.payloads(backfill)) {
    times.push_back(document_time(payload));
  }
  EXPECT_EQ(times, (std::vector<std::string>{"2026-12-8 14:0:2", "2026-12-8 14:0:3",
                                             "2026-12-8 14:0:4", "2026-12-8 14:0:5"}));
  std::vector<std::string> live;
  for (const std::string& payload : watcher.payloads(document)) {
    live.push_back(document_time(payload));
  }
  EXPECT_EQ(live.front(), "2026-12-8 14:0:1");
  EXPECT_EQ(live.back(), "2026-12-8 14:0:6");
  EXPECT_EQ(std::count(live.begin(), live.end(), "2026-12-8 14:0:3"), 0);
  EXPECT_TRUE(watcher.wait_for(site.topics().bridge_dropped(), "{\"dropped\":4}", kBrokerWait));
  EXPECT_EQ(site.gateway().counts().backfilled, 4U);
}

struct ConnectCase {
  const char* name;
  bool tls;
  const char* password;
  bool other_ca;
  const char* reason;  // empty: it connects
};

TEST(MqttGateway, AFailingConnectionSaysWhyOnceAndKeepsTrying) {
  // clang-format off
  const ConnectCase cases[] = {
      {"right password",   false, BrokerProcess::kPassword, false, ""},
      {"wrong password",   false, "guess",                  false, "not authorised"},
      {"right CA",         true,  BrokerProcess::kPassword, false, ""},
      {"another CA",       true,  BrokerProcess::kPassword, true,  "certificate verify failed"},
  };
  // clang-format on
  BrokerProcess broker({true, true, false});
  for (const ConnectCase& row : cases) {
    SCOPED_TRACE(row.name);
    GatewayOptions options;
    const std::string port = std::to_string(row.tls ? broker.tls_port() : broker.port());
    const std::string url =
        std::string(row.tls ? "mqtts" : "mqtt") + "://" + BrokerProcess::kUser +
        "@127.0.0.1:" + port +
        (row.tls ? "?ca=" + (row.other_ca ? broker.other_ca_file() : broker.ca_file()) : "");
    options.broker = parse_broker_url(url, "URL");
    options.password = row.password;
    options.units = {
        {"crac-1", kFirstDataId}
    };
    options.read_only = true;
    std::mutex mutex;
    std::vector<std::string> notices;
    options.notice = [&](const std::string& line) {
      const std::lock_guard<std::mutex> lock(mutex);
      notices.push_back(line);
    };
    Gateway gateway(options);
    gateway.start();
    const auto deadline = std::chrono::steady_clock::now() + kBrokerWait;
    const bool connects = *row.reason == '\0';
    while (std::chrono::steady_clock::now() < deadline &&
           (connects ? gateway.counts().connections == 0 : gateway.counts().attempts < 3)) {
      std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    gateway.stop();
    const std::lock_guard<std::mutex> lock(mutex);
    ASSERT_EQ(notices.size(), 1U) << (notices.empty() ? "" : notices.back());
    if (connects) {
      EXPECT_EQ(gateway.counts().connections, 1U);
      EXPECT_EQ(notices.front(), "mqtt: connected to " + options.broker.where());
      continue;
    }
    EXPECT_GE(gateway.counts().attempts, 3U);
    EXPECT_EQ(gateway.counts().connections, 0U);
    EXPECT_EQ(notices.front().rfind("mqtt: cannot connect to " + options.broker.where() + ": ", 0),
              0U)
        << notices.front();
    EXPECT_NE(notices.front().find(row.reason), std::string::npos) << notices.front();
  }
}

}  // namespace
}  // namespace velmocair::mqtt
