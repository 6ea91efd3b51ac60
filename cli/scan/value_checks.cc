#include "cli/scan/value_checks.h"

#include <iterator>

namespace velmocair::cli {
namespace {

// Registers that hold a state: the run-mode flags "stopped", "cooling" and
// "manual off" to "dry-contact off" (8001, 8002, 8008..8011; 8003..8007 hold
// measurements), unit on/off (3509) and local operation (3510).
constexpr int kStateWords[] = {8001, 8002, 8008, 8009, 8010, 8011, 3509, 3510};
static_assert(std::size(kStateWords) == 8, "six run-mode flags, on/off and local operation");

// A set-point register and the range a unit can be set to, in tenths.
struct SetPointRange {
  int address;
  int low;
  int high;
  const char* what;
};
// clang-format off
constexpr SetPointRange kSetPoints[] = {
    {3501,  50, 450, "the return-air temperature set-point (5.0..45.0 C)"},
    {3502,  50, 450, "the supply-air temperature set-point (5.0..45.0 C)"},
    {3503,  50, 450, "the remote temperature set-point (5.0..45.0 C)"},
    {3504,  50, 950, "the humidity set-point (5.0..95.0 %)"},
};
// clang-format on
static_assert(std::size(kSetPoints) == 4, "three temperature set-points and the humidity one");

// A high alarm limit and the low one below it.
struct LimitPair {
  int high;
  int low;
  const char* what;
};
constexpr LimitPair kLimitPairs[] = {
    {3505, 3506, "temperature alarm"},
    {3507, 3508, "humidity alarm"   },
    {3513, 3514, "supply-air alarm" },
};

int register_at(const CycleValues& values, int address) {
  const auto found = values.registers.find(address);
  return found == values.registers.end() ? -1 : found->second;
}

std::string register_text(int address, int value) {
  return "register " + std::to_string(address) + " = " + std::to_string(value);
}

// Each check: empty when it holds, else what fails it.
std::string coils_as_bits(const CycleValues& values) {
  return values.coil_padding_clear ? "" : "coil replies set bits beyond the coils asked for";
}

std::string state_words(const CycleValues& values) {
  for (const int address : kStateWords) {
    const int value = register_at(values, address);
    if (value != 0 && value != 1) {
      return register_text(address, value) + ", a state word (0 or 1)";
    }
  }
  return "";
}

std::string set_points(const CycleValues& values) {
  for (const SetPointRange& range : kSetPoints) {
    const int value = register_at(values, range.address);
    if (value < range.low || value > range.high) {
      return register_text(range.address, value) + ", " + range.what;
    }
  }
  return "";
}

std::string alarm_limits(const CycleValues& values) {
  for (const LimitPair& pair : kLimitPairs) {
    const int high = register_at(values, pair.high);
    const int low = register_at(values, pair.low);
    if (high <= low) {
      return register_text(pair.high, high) + " not above " + register_text(pair.low, low) +
             ", the " + pair.what + " limits";
    }
  }
  return "";
}

struct ValueCheck {
  const char* name;
  std::string (*fails)(const CycleValues&);
};
// clang-format off
constexpr ValueCheck kValueChecks[] = {
    {"coils 0/1",             coils_as_bits},
    {"state words 0/1",       state_words},
    {"set-points in range",   set_points},
    {"alarm limits in order", alarm_limits},
};
// clang-format on
static_assert(std::size(kValueChecks) == 4, "four checks");

}  // namespace

ValueVerdict check_values(const CycleValues& values) {
  ValueVerdict verdict;
  for (const ValueCheck& check : kValueChecks) {
    const std::string failure = check.fails(values);
    if (failure.empty()) {
      verdict.passed.emplace_back(check.name);
    } else {
      verdict.failed.push_back(failure);
    }
  }
  return verdict;
}

}  // namespace velmocair::cli
