#include "cli/runtime/unit_source.h"

#include <iostream>
#include <stdexcept>

#include "cli/options/exit_status.h"
#include "cli/options/value_parsing.h"
#include "cli/runtime/site_file.h"
#include "simulator/server.h"

namespace velmocair::cli {
namespace {

constexpr const char* kLoopback = "127.0.0.1";
constexpr const char* kSimulatorName = "simulator";
constexpr int kAnyFreePort = 0;

}  // namespace

UnitConfig unit_from_flags(const UnitFlags& flags) {
  UnitConfig unit;
  sitehost::BusAddress bus;
  if (!flags.tcp.empty()) {
    bus.kind = sitehost::BusAddress::tcp;
    bus.endpoint = parse_endpoint(flags.tcp, "--tcp");
    unit.name = flags.tcp;
  } else {
    bus.kind = sitehost::BusAddress::rtu;
    bus.line.device = flags.rtu;
    bus.line.parity = flags.parity.value_or(bus.line.parity);
    bus.line.data_bits = flags.data_bits.value_or(bus.line.data_bits);
    bus.line.stop_bits = flags.stop_bits.value_or(bus.line.stop_bits);
    bus.line.rs485 = {flags.rs485, flags.rts_up.value_or(true), flags.rts_delay_us};
    unit.name = flags.rtu;
  }
  unit.bus = bus;
  unit.data_id = flags.data_id.value_or(unit.data_id);
  // Unit address and baud rate go through the device's configuration, so
  // that SPModbus resolves them (and their presets) as for any unit.
  if (flags.unit_id) {
    unit.setting["modbus"]["unit_id"] = *flags.unit_id;
  }
  if (flags.baud) {
    unit.setting["modbus"]["baud"] = *flags.baud;
  }
  return unit;
}

UnitSource::UnitSource(const HostOptions& options) {
  const UnitFlags& flags = options.units;
  if (!flags.site_file.empty()) {
    SiteFile site = load_site_file(flags.site_file);
    units_ = std::move(site.units);
    retention_ = site.history;
    history_file_ = site.history_file;
    mqtt_ = site.mqtt;
    return;
  }
  if (!flags.tcp.empty() || !flags.rtu.empty()) {
    units_.push_back(unit_from_flags(flags));
    return;
  }
  sim::ServerOptions simulated;
  simulated.tcp_host = kLoopback;
  simulated.tcp_port = kAnyFreePort;
  try {
    simulator_ = std::make_unique<sim::Server>(simulated);
    simulator_->start();
  } catch (const std::runtime_error& error) {
    throw RunError(std::string("cannot start the built-in simulator: ") + error.what());
  }
  UnitConfig unit;
  unit.name = kSimulatorName;
  unit.data_id = flags.data_id.value_or(unit.data_id);
  unit.bus = sitehost::BusAddress{
      sitehost::BusAddress::tcp, {kLoopback, simulator_->tcp_port()},
       {         }
  };
  std::cerr << "velmocair-host: no unit given: polling the built-in simulator at "
            << unit.bus->name() << "\n";
  units_.push_back(std::move(unit));
}

UnitSource::~UnitSource() = default;

}  // namespace velmocair::cli
