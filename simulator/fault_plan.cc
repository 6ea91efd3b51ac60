#include "simulator/fault_plan.h"

#include <utility>

namespace velmocair::sim {
namespace {

constexpr int kMantissaBits = 53;
constexpr double kUnitInterval = 1.0 / static_cast<double>(std::uint64_t{1} << kMantissaBits);
constexpr std::uint64_t kSeedSpread = 0x9E3779B97F4A7C15u;  // golden-ratio increment

// Uniform in [0, 1) from the top bits of one draw, the same on every platform.
double draw(std::mt19937_64& random) {
  return static_cast<double>(random() >> (64 - kMantissaBits)) * kUnitInterval;
}

bool matches(const FaultRule& rule, const RequestTraits& request) {
  if (rule.unit_id != 0 && rule.unit_id != request.unit_id) {
    return false;
  }
  if (rule.request != RequestKind::any && rule.request != request.kind) {
    return false;
  }
  if (request.cycle < rule.first_cycle || request.cycle > rule.last_cycle) {
    return false;
  }
  return rule.kind != FaultKind::wrong_echo || request.valid_write;
}

}  // namespace

FaultPlan::FaultPlan(std::vector<FaultRule> rules) : rules_(std::move(rules)) {}

const FaultRule* FaultPlan::pick(const RequestTraits& request, std::mt19937_64& random) const {
  for (const FaultRule& rule : rules_) {
    if (matches(rule, request) && draw(random) < rule.probability) {
      return &rule;
    }
  }
  return nullptr;
}

std::mt19937_64 unit_random(std::uint64_t seed, int unit_id) {
  return std::mt19937_64(seed + kSeedSpread * static_cast<std::uint64_t>(unit_id));
}

}  // namespace velmocair::sim
