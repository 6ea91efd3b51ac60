#include "cli/mqtt/discovery.h"

#include <json/value.h>
#include <json/writer.h>

#include "cli/mqtt/document_members.h"
#include "cli/mqtt/entity_table.h"
#include "cli/mqtt/link_figures.h"
#include "cli/mqtt/set_topics.h"

namespace velmocair::mqtt {
namespace {

using status::Rule;

constexpr char kValueTemplate[] = "{{ value_json.value }}";
constexpr char kProblemTemplate[] = "{{ 'ON' if value_json.value else 'OFF' }}";
constexpr char kClimateOn[] = "auto";
constexpr char kClimateOff[] = "off";
constexpr char kDiagnostic[] = "diagnostic";
constexpr char kDeviceModel[] = "Velmocair precision air-conditioning unit";
constexpr char kOrigin[] = "velmocair-host";
constexpr int kQos = 1;
constexpr double kTenthsPrecision = 0.1;
constexpr int kWholeStep = 1;
constexpr int kDecimalDigits = 15;

// What every entity of a unit shares.
class UnitEntities {
 public:
  UnitEntities(const TopicLayout& topics, const std::string& base_topic, const DiscoveredUnit& unit)
      : topics_(topics),
        unit_(unit),
        node_(id_word(base_topic) + "_" + std::to_string(unit.data_id)) {
    builder_["indentation"] = "";
    builder_["emitUTF8"] = true;
    // 0.1, not the 17 digits of the double nearest to it.
    builder_["precision"] = kDecimalDigits;
    Json::Value bridge(Json::objectValue);
    bridge["topic"] = topics.bridge_availability();
    Json::Value own(Json::objectValue);
    own["topic"] = topics.availability(unit.topic_id);
    availability_.append(bridge);
    availability_.append(own);
    device_["identifiers"].append(node_);
    device_["name"] = unit.name;
    device_["model"] = kDeviceModel;
  }

  // A configuration with the shared members filled in.
  Json::Value entity(const Json::Value& name, const std::string& object) const {
    Json::Value config(Json::objectValue);
    config["name"] = name;
    config["unique_id"] = node_ + "_" + object;
    config["availability"] = availability_;
    config["availability_mode"] = "all";
    config["device"] = device_;
    config["origin"]["name"] = kOrigin;
    config["qos"] = kQos;
    return config;
  }

  void add(std::vector<DiscoveryMessage>& out, const char* component, const std::string& object,
           const Json::Value& config) const {
    out.push_back(
        {topics_.discovery(component, node_, object), Json::writeString(builder_, config)});
  }

  std::string value_topic(std::size_t member) const {
    return topics_.value(unit_.topic_id, member_id(member));
  }
  const TopicLayout& topics() const { return topics_; }
  const DiscoveredUnit& unit() const { return unit_; }

 private:
  const TopicLayout& topics_;
  const DiscoveredUnit& unit_;
  std::string node_;
  Json::StreamWriterBuilder builder_;
  Json::Value availability_{Json::arrayValue};
  Json::Value device_{Json::objectValue};
};

// The name an entity is shown with: the key, after its group but in the
// indoor unit's group.
std::string member_name(std::size_t member) {
  const status::Member& row = document_member(member);
  return same_text(row.group, status::kIndoor) ? std::string(row.key)
                                               : std::string(row.group) + " " + row.key;
}

void set_unless_null(Json::Value& config, const char* key, const char* value) {
  if (value != nullptr) {
    config[key] = value;
  }
}

const SetTopic& set_topic_of(SetKind kind, const char* word) {
  for (const SetTopic& topic : kSetTopics) {
    if (topic.kind == kind && same_text(topic.word, word)) {
      return topic;
    }
  }
  return kSetTopics[0];
}

void add_climate(std::vector<DiscoveryMessage>& out, const UnitEntities& entities,
                 const DiscoveryOptions& options) {
  const SetTopic& power = set_topic_of(SetKind::on_off, "power");
  const SetTopic& temperature = set_topic_of(SetKind::set_point, "temperature");
  const SetTopic& humidity = set_topic_of(SetKind::set_point, "humidity");
  const std::string& unit = entities.unit().topic_id;

  Json::Value config = entities.entity(Json::Value(Json::nullValue), "climate");
  config["modes"].append(kClimateOff);
  config["modes"].append(kClimateOn);
  config["mode_state_topic"] = entities.value_topic(kRunningState);
  config["mode_state_template"] = std::string("{{ '") + kClimateOn + "' if value_json.value == '" +
                                  document_member(kRunningState).texts.for1 + "' else '" +
                                  kClimateOff + "' }}";
  config["temperature_state_topic"] = entities.value_topic(set_point_member(temperature));
  config["temperature_state_template"] = kValueTemplate;
  config["min_temp"] = kLeastSetPoint;
  config["max_temp"] = temperature.most;
  config["temp_step"] = kWholeStep;
  config["precision"] = kTenthsPrecision;
  config["temperature_unit"] = "C";
  config["current_temperature_topic"] = entities.value_topic(kReturnAirTemperature);
  config["current_temperature_template"] = kValueTemplate;
  config["current_humidity_topic"] = entities.value_topic(kReturnAirHumidity);
  config["current_humidity_template"] = kValueTemplate;
  config["target_humidity_state_topic"] = entities.value_topic(set_point_member(humidity));
  config["target_humidity_state_template"] = kValueTemplate;
  config["min_humidity"] = kLeastSetPoint;
  config["max_humidity"] = humidity.most;
  if (!options.read_only) {
    config["mode_command_topic"] = entities.topics().set(unit, power.word);
    config["temperature_command_topic"] = entities.topics().set(unit, temperature.word);
    config["target_humidity_command_topic"] = entities.topics().set(unit, humidity.word);
  }
  entities.add(out, "climate", "climate", config);
}

void add_number(std::vector<DiscoveryMessage>& out, const UnitEntities& entities,
                std::size_t member) {
  const status::Member& row = document_member(member);
  const QuantityClass& quantity = quantity_class(number_quantity(member));
  Json::Value config = entities.entity(member_name(member), member_id(member));
  config["state_topic"] = entities.value_topic(member);
  config["value_template"] = kValueTemplate;
  set_unless_null(config, "device_class", quantity.device_class);
  set_unless_null(config, "unit_of_measurement", quantity.unit);
  config["state_class"] = quantity.state_class;
  config["suggested_display_precision"] = row.scale == status::kTenths ? 1 : 0;
  if (same_text(row.group, status::kSettings)) {
    config["entity_category"] = kDiagnostic;
  }
  entities.add(out, "sensor", member_id(member), config);
}

void add_state_text(std::vector<DiscoveryMessage>& out, const UnitEntities& entities,
                    std::size_t member) {
  const status::StateTexts& texts = document_member(member).texts;
  Json::Value config = entities.entity(member_name(member), member_id(member));
  config["state_topic"] = entities.value_topic(member);
  config["value_template"] = kValueTemplate;
  config["device_class"] = "enum";
  for (const char* text : {texts.for0, texts.for1, texts.for2, status::kInvalid}) {
    if (text != nullptr) {
      config["options"].append(text);
    }
  }
  if (same_text(document_member(member).group, status::kSettings)) {
    config["entity_category"] = kDiagnostic;
  }
  entities.add(out, "sensor", member_id(member), config);
}

void add_alarm(std::vector<DiscoveryMessage>& out, const UnitEntities& entities,
               std::size_t member) {
  Json::Value config = entities.entity(member_name(member), member_id(member));
  config["state_topic"] = entities.value_topic(member);
  config["value_template"] = kProblemTemplate;
  config["device_class"] = "problem";
  if (!alarm_enabled_by_default(member)) {
    config["enabled_by_default"] = false;
  }
  entities.add(out, "binary_sensor", member_id(member), config);
}

void add_active_alarms(std::vector<DiscoveryMessage>& out, const UnitEntities& entities) {
  Json::Value config = entities.entity("active alarms", "alarms");
  config["state_topic"] = entities.topics().alarms(entities.unit().topic_id);
  config["value_template"] = "{{ value_json.count }}";
  config["json_attributes_topic"] = config["state_topic"];
  config["json_attributes_template"] = "{{ {'active': value_json.active} | tojson }}";
  config["state_class"] = "measurement";
  entities.add(out, "sensor", "alarms", config);
}

void add_link(std::vector<DiscoveryMessage>& out, const UnitEntities& entities) {
  const std::string topic = entities.topics().link(entities.unit().topic_id);
  for (const LinkFigure& figure : kLinkFigures) {
    const std::string object = std::string("link-") + figure.field;
    Json::Value config = entities.entity(figure.name, object);
    config["state_topic"] = topic;
    config["value_template"] = std::string("{{ value_json.") + figure.field + " }}";
    set_unless_null(config, "device_class", figure.device_class);
    set_unless_null(config, "unit_of_measurement", figure.unit);
    config["state_class"] = figure.state_class;
    config["entity_category"] = kDiagnostic;
    entities.add(out, "sensor", object, config);
  }
}

}  // namespace

std::vector<DiscoveryMessage> discovery_messages(const TopicLayout& topics,
                                                 const std::string& base_topic,
                                                 const DiscoveredUnit& unit,
                                                 const DiscoveryOptions& options) {
  const UnitEntities entities(topics, base_topic, unit);
  std::vector<DiscoveryMessage> out;
  add_climate(out, entities, options);
  for (std::size_t member = 0; member < kMemberCount; ++member) {
    switch (document_member(member).rule) {
      case Rule::number:
        add_number(out, entities, member);
        break;
      case Rule::state_text:
        add_state_text(out, entities, member);
        break;
      case Rule::alarm:
        break;
    }
  }
  add_active_alarms(out, entities);
  for (std::size_t member = 0; member < kMemberCount; ++member) {
    if (document_member(member).rule == Rule::alarm) {
      add_alarm(out, entities, member);
    }
  }
  add_link(out, entities);
  return out;
}

}  // namespace velmocair::mqtt
