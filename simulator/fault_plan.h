#pragma once

#include <cstdint>
#include <random>
#include <vector>

#include "simulator/faults.h"

namespace velmocair::sim {

// What a fault rule looks at in a request.
struct RequestTraits {
  int unit_id;
  RequestKind kind;  // any for a function the unit does not support
  int cycle;         // the unit's cycle when the request arrived
  bool valid_write;  // a write the unit would store: the only target of a wrong echo
};

// Decides which fault, if any, strikes a request.
class FaultPlan {
 public:
  explicit FaultPlan(std::vector<FaultRule> rules);

  // The first rule that strikes the request, or null. Rules are tried in
  // order; each one that matches the request draws one number from `random`.
  const FaultRule* pick(const RequestTraits& request, std::mt19937_64& random) const;

 private:
  std::vector<FaultRule> rules_;
};

// The generator of one unit: the same seed and unit give the same draws.
std::mt19937_64 unit_random(std::uint64_t seed, int unit_id);

}  // namespace velmocair::sim
