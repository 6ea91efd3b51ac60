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

TEST(Gateway, LateSubscriberSeesValidDiscoveryAndStateAndEveryCommandTopicAnswers) {
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

}  // namespace
}  // namespace velmocair::mqtt
