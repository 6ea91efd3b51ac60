#pragma once

#include <string>

namespace velmocair::cli {

// What the MQTT bridge is asked for: --mqtt and --mqtt-read-only, or the
// site file's "mqtt" object.
struct MqttRequest {
  std::string url;  // empty: no bridge
  bool read_only = false;
};

}  // namespace velmocair::cli
