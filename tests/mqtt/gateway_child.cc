// A host with the bridge, for the test of the last will: it connects to the
// broker at argv[1], publishes one unit's state and waits to be killed (it
// ends by itself after kLifetime, so that it never outlives its test).
#include <chrono>
#include <iostream>
#include <thread>

#include "cli/mqtt/gateway.h"
#include "tests/mqtt/unit_documents.h"

namespace {
constexpr std::chrono::seconds kLifetime{120};
}

int main(int argc, char** argv) {
  using namespace velmocair;
  if (argc != 2) {
    std::cerr << "usage: mqtt_gateway_child URL\n";
    return 2;
  }
  mqtt::GatewayOptions options;
  options.broker = mqtt::parse_broker_url(argv[1], "URL");
  options.units = {
      {"crac-1", 1001}
  };
  options.read_only = true;
  options.notice = [](const std::string& line) { std::cerr << line << std::endl; };
  mqtt::Gateway gateway(options);
  gateway.start();
  testing::UnitDocuments documents;
  gateway.cycle_completed(0, documents.document(testing::at_second(1)), {});
  std::this_thread::sleep_for(kLifetime);
  return 0;
}
