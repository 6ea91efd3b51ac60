#pragma once

#include <array>
#include <atomic>
#include <cstdint>
#include <map>
#include <memory>

#include "simulator/fault_plan.h"
#include "simulator/io.h"
#include "simulator/unit.h"

namespace velmocair::sim {

struct Counters {
  std::atomic<std::uint64_t> requests{0};
  std::array<std::atomic<std::uint64_t>, kFaultKinds> faults{};
};

// Everything a serving thread shares with the others.
struct ServeContext {
  const std::map<int, std::unique_ptr<Unit>>& units;
  const FaultPlan& plan;
  const StopSignal& stop;
  const int pace_baud;
  Counters& counters;
};

// Serves one accepted TCP connection until the master closes it, a fault
// drops it, or the stop is raised.
void serve_tcp(const FileDescriptor& connection, const ServeContext& context);

// Serves RTU frames on a pseudo-terminal master until the stop is raised.
void serve_rtu(const FileDescriptor& master, const std::string& path, const ServeContext& context);

}  // namespace velmocair::sim
