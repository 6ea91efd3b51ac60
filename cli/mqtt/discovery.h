#pragma once

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

#include "cli/mqtt/topic_layout.h"

namespace velmocair::mqtt {

// The unit as Home Assistant's MQTT discovery sees it.
struct DiscoveredUnit {
  std::string name;       // the device's name
  std::uint32_t data_id;  // stable identity: ids are made from it
  std::string topic_id;   // its level in the topics
};

struct DiscoveryOptions {
  bool read_only = false;  // no command topics
};

struct DiscoveryMessage {
  std::string topic;
  std::string payload;  // JSON, UTF-8
};

// The retained configurations of one unit's device, in this order: the
// climate entity, a sensor per number and per state text, the active
// alarms, a binary sensor per alarm point, the link diagnostics.
std::vector<DiscoveryMessage> discovery_messages(const TopicLayout& topics,
                                                 const std::string& base_topic,
                                                 const DiscoveredUnit& unit,
                                                 const DiscoveryOptions& options);

}  // namespace velmocair::mqtt
