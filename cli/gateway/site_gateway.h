#pragma once

#include <memory>
#include <string>

#include "cli/mqtt/gateway.h"
#include "cli/options/mqtt_request.h"
#include "cli/runtime/host_runtime.h"

namespace velmocair::cli {

// The host as a site gateway: the runtime's units handed to the MQTT
// bridge. Each completed cycle's status document (by reference, in turn
// with the unit's other status requests) and link counts go to the bridge
// on the bus thread; failed cycles count towards the unit going offline.
// Commands from set topics run as `velmocair-host command` runs them, as a
// job on the unit's bus, and the bus then polls again at once so that the
// new state is read back. With a history the bridge backfills from it.
class SiteGateway {
 public:
  // Throws UsageError for broker settings the bridge cannot use (one line).
  SiteGateway(HostRuntime& runtime, const MqttRequest& request, const RuntimeOptions& options);
  // Stops the buses (the exchange in progress ends first), then the bridge,
  // which publishes "offline" and disconnects.
  ~SiteGateway();
  SiteGateway(const SiteGateway&) = delete;
  SiteGateway& operator=(const SiteGateway&) = delete;

  // Connects in the background; call before the runtime starts.
  void start();

 private:
  void run_command(const mqtt::CommandRequest& request, mqtt::CommandReply reply);

  HostRuntime& runtime_;
  std::unique_ptr<mqtt::Gateway> gateway_;
};

// The link counts of a unit as the bridge shows them.
mqtt::LinkFigures link_figures(const sitehost::LinkCounters& counters);

}  // namespace velmocair::cli
