#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace velmocair::mqtt {

// Every topic the bridge uses, under its base topic (BASE) and Home
// Assistant's discovery prefix (PREFIX). UNIT is a unit's topic id.
//   BASE/bridge/availability       "online" / "offline" (the last will), retained
//   BASE/bridge/dropped            states replaced before they could be published, retained
//   BASE/UNIT/availability         "online" / "offline", retained
//   BASE/UNIT/document             the status document of the latest record, retained
//   BASE/UNIT/value/MEMBER         one member {"value":...,"time":...}, retained
//   BASE/UNIT/alarms               the active alarms, retained
//   BASE/UNIT/link                 link statistics, retained
//   BASE/UNIT/set/WORD             commands in (power, temperature, humidity)
//   BASE/UNIT/result               the outcome of each command
//   BASE/UNIT/backfill             stored records the broker missed, oldest first
//   PREFIX/status                  Home Assistant's birth message, subscribed
//   PREFIX/COMPONENT/NODE/OBJECT/config   discovery, retained
class TopicLayout {
 public:
  TopicLayout(std::string base, std::string discovery_prefix);

  std::string bridge_availability() const { return base_ + "/bridge/availability"; }
  std::string bridge_dropped() const { return base_ + "/bridge/dropped"; }
  std::string availability(const std::string& unit) const {
    return unit_topic(unit, "availability");
  }
  std::string document(const std::string& unit) const { return unit_topic(unit, "document"); }
  std::string value(const std::string& unit, const std::string& member) const {
    return unit_topic(unit, "value/" + member);
  }
  std::string alarms(const std::string& unit) const { return unit_topic(unit, "alarms"); }
  std::string link(const std::string& unit) const { return unit_topic(unit, "link"); }
  std::string set(const std::string& unit, const char* word) const {
    return unit_topic(unit, std::string("set/") + word);
  }
  std::string result(const std::string& unit) const { return unit_topic(unit, "result"); }
  std::string backfill(const std::string& unit) const { return unit_topic(unit, "backfill"); }
  // The subscription that receives every unit's commands.
  std::string set_filter() const { return base_ + "/+/set/+"; }
  std::string birth() const { return prefix_ + "/status"; }
  std::string discovery(const char* component, const std::string& node,
                        const std::string& object) const {
    return prefix_ + "/" + component + "/" + node + "/" + object + "/config";
  }

  // The unit id and the word of a set topic; none for any other topic.
  struct SetAddress {
    std::string_view unit;
    std::string_view word;
  };
  std::optional<SetAddress> match_set(std::string_view topic) const;

 private:
  std::string unit_topic(const std::string& unit, const std::string& leaf) const {
    return base_ + "/" + unit + "/" + leaf;
  }

  std::string base_;
  std::string prefix_;
};

// A unit's topic id: its name where that is a plain word of letters,
// digits, '-' and '_' (at most 64, not "bridge"), else "unit-DATAID".
std::string unit_topic_id(const std::string& name, std::uint32_t data_id);

// A topic as a word for ids: every character but letters, digits, '-' and
// '_' becomes '_'.
std::string id_word(const std::string& topic);

}  // namespace velmocair::mqtt
