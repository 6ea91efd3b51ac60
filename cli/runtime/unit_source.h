#pragma once

#include <memory>
#include <string>
#include <vector>

#include "cli/options/options.h"
#include "cli/runtime/unit_config.h"
#include "host/services/history_retention.h"

namespace velmocair::sim {
class Server;
}

namespace velmocair::cli {

// The units the options name: those of a site file, one unit from --tcp or
// --rtu, or, when none is named, the built-in simulator started in-process
// on a free loopback port (the embedded default), which lives as long as
// this object.
class UnitSource {
 public:
  // Throws UsageError for a bad site file, RunError when the simulator
  // cannot start.
  explicit UnitSource(const HostOptions& options);
  ~UnitSource();
  UnitSource(const UnitSource&) = delete;
  UnitSource& operator=(const UnitSource&) = delete;

  const std::vector<UnitConfig>& units() const { return units_; }
  // The site file's history limits; none without a site file.
  const sitehost::Retention& retention() const { return retention_; }
  // The site file's history file and MQTT bridge; empty without them.
  const std::string& history_file() const { return history_file_; }
  const MqttRequest& mqtt() const { return mqtt_; }

 private:
  std::unique_ptr<sim::Server> simulator_;
  std::vector<UnitConfig> units_;
  sitehost::Retention retention_;
  std::string history_file_;
  MqttRequest mqtt_;
};

// The unit --tcp or --rtu names, with its configuration from the flags.
UnitConfig unit_from_flags(const UnitFlags& flags);

}  // namespace velmocair::cli
