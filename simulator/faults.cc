#include "simulator/faults.h"

#include <iterator>

namespace velmocair::sim {
namespace {

struct FaultName {
  FaultKind kind;
  const char* name;
};

struct RequestName {
  RequestKind kind;
  const char* name;
};

// clang-format off
// kind                         name
constexpr FaultName kFaultNames[] = {
    {FaultKind::no_reply,        "no-reply"},
    {FaultKind::delay,           "delay"},
    {FaultKind::exception,       "exception"},
    {FaultKind::wrong_echo,      "wrong-echo"},
    {FaultKind::broken_frame,    "broken-frame"},
    {FaultKind::drop_connection, "drop"},
    {FaultKind::trailing_bytes,  "trailing"},
    {FaultKind::cut_reply,       "cut"},
};

// kind                         name
constexpr RequestName kRequestNames[] = {
    {RequestKind::any,            "any"},
    {RequestKind::read_coils,     "coils"},
    {RequestKind::read_registers, "registers"},
    {RequestKind::write_register, "write"},
};
// clang-format on
static_assert(std::size(kFaultNames) == kFaultKinds);
static_assert(std::size(kRequestNames) == 4);

// Exception codes a Modbus server may send.
constexpr int kExceptionCodes[] = {1, 2, 3, 4, 5, 6, 8, 10, 11};

constexpr bool names_follow_kinds() {
  for (std::size_t i = 0; i < std::size(kFaultNames); ++i) {
    if (static_cast<std::size_t>(kFaultNames[i].kind) != i) {
      return false;
    }
  }
  for (std::size_t i = 0; i < std::size(kRequestNames); ++i) {
    if (static_cast<std::size_t>(kRequestNames[i].kind) != i) {
      return false;
    }
  }
  return true;
}
static_assert(names_follow_kinds(), "each name row sits at its kind's index");

bool is_exception_code(int code) {
  for (int known : kExceptionCodes) {
    if (known == code) {
      return true;
    }
  }
  return false;
}

}  // namespace

const char* fault_name(FaultKind kind) { return kFaultNames[static_cast<std::size_t>(kind)].name; }

const char* request_name(RequestKind kind) {
  return kRequestNames[static_cast<std::size_t>(kind)].name;
}

bool parse_fault_name(const std::string& name, FaultKind& kind) {
  for (const FaultName& row : kFaultNames) {
    if (name == row.name) {
      kind = row.kind;
      return true;
    }
  }
  return false;
}

bool parse_request_name(const std::string& name, RequestKind& kind) {
  for (const RequestName& row : kRequestNames) {
    if (name == row.name) {
      kind = row.kind;
      return true;
    }
  }
  return false;
}

std::string check_fault_rule(const FaultRule& rule) {
  const std::string prefix = std::string("fault ") + fault_name(rule.kind) + ": ";
  if (!(rule.probability >= 0.0 && rule.probability <= 1.0)) {
    return prefix + "probability must lie in 0..1";
  }
  if (rule.first_cycle < 0 || rule.first_cycle > rule.last_cycle) {
    return prefix + "cycles must be A..B with 0 <= A <= B";
  }
  if (rule.unit_id < 0) {
    return prefix + "unit id must be 0 (every unit) or a served unit";
  }
  if (rule.kind == FaultKind::delay && rule.delay_ms <= 0) {
    return prefix + "delay must be a positive number of milliseconds";
  }
  if (rule.kind == FaultKind::exception && !is_exception_code(rule.exception_code)) {
    return prefix + "exception code must be one of 1, 2, 3, 4, 5, 6, 8, 10, 11";
  }
  if (rule.kind == FaultKind::trailing_bytes &&
      (rule.trailing_bytes.empty() || rule.trailing_bytes.size() > kMaxTrailingBytes)) {
    return prefix + "give 1 to " + std::to_string(kMaxTrailingBytes) + " trailing bytes";
  }
  return {};
}

}  // namespace velmocair::sim
