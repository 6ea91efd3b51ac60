#pragma once

#include <json/value.h>

#include <chrono>
#include <memory>
#include <string>
#include <vector>

#include "simulator/server.h"
#include "tests/support/child_process.h"

namespace velmocair::testing {

inline constexpr std::chrono::seconds kHostTimeLimit{180};

// What one run of velmocair-host printed and how it ended.
struct HostRun {
  int status = -1;  // exit status; -1 when it had to be killed
  std::vector<std::string> out;
  std::vector<std::string> err;

  std::vector<std::string> out_starting(const std::string& prefix) const;
  std::vector<std::string> err_containing(const std::string& part) const;
  // The --status lines (every line that is a JSON object), parsed.
  std::vector<Json::Value> status_documents() const;
  // For failure messages.
  std::string transcript() const;
};

// Runs the built velmocair-host with `arguments`, its output in `folder`,
// killing it past kHostTimeLimit.
HostRun run_host(const ScratchFolder& folder, const std::vector<std::string>& arguments);

// The --trace file: one JSON object per line.
std::vector<Json::Value> read_trace(const std::string& path);
// Calls of one name, in order.
std::vector<Json::Value> calls_named(const std::vector<Json::Value>& trace,
                                     const std::string& name);
std::vector<unsigned char> from_hex(const std::string& hex);

// A simulated unit (or several unit addresses) on a bus of its own, served
// in-process over Modbus/TCP on loopback or Modbus RTU on a pseudo-terminal.
enum class Transport { tcp, rtu };
std::string transport_name(Transport transport);

class SimulatedBus {
 public:
  SimulatedBus(Transport transport, sim::ServerOptions options);
  sim::Server& server() { return *server_; }
  // The velmocair-host options naming the bus: --tcp HOST:PORT or --rtu DEVICE.
  std::vector<std::string> host_options() const;
  // The site-file transport object of the bus.
  Json::Value site_transport() const;
  // Writes a site file of units on the bus, each a name and a unit address
  // (its data id too), and returns its path.
  std::string write_site(const ScratchFolder& folder,
                         const std::vector<std::pair<std::string, int>>& units) const;

 private:
  Transport transport_;
  std::unique_ptr<sim::Server> server_;
};

// Bytes 4..433 of the record a cycle of the unit at `unit_id` fills, built
// from the simulator's image along the poll table.
std::vector<unsigned char> expected_record_body(const sim::Server& server, int unit_id);
inline constexpr std::size_t kRecordSize = 441;
inline constexpr std::size_t kBodyFirst = 4;
inline constexpr std::size_t kBodyEnd = 434;

// A scenario file for the simulator.
std::string write_scenario(const ScratchFolder& folder, const Json::Value& scenario);

// pymodbus_unit.py, a unit served by pymodbus (an implementation independent
// of ours) at unit address 1 on a free loopback port, for as long as the
// object lives.
class PymodbusUnit {
 public:
  explicit PymodbusUnit(const ScratchFolder& folder);
  ~PymodbusUnit();
  PymodbusUnit(const PymodbusUnit&) = delete;
  PymodbusUnit& operator=(const PymodbusUnit&) = delete;
  // HOST:PORT; empty when it did not start.
  const std::string& endpoint() const { return endpoint_; }
  // What it said on standard error, for failure messages.
  std::string errors() const;

 private:
  const ScratchFolder& folder_;
  ChildProcess process_;
  std::string endpoint_;
};

// Appends `second` to `first`.
std::vector<std::string> joined(std::vector<std::string> first,
                                const std::vector<std::string>& second);

}  // namespace velmocair::testing
