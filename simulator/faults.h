#pragma once

#include <climits>
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace velmocair::sim {

enum class FaultKind : unsigned char {
  no_reply,         // the request is dropped unanswered and not carried out
  delay,            // the reply leaves delay_ms later than it would
  exception,        // an exception reply with exception_code; a write is not stored
  wrong_echo,       // a write is stored but echoed with value + 1 (writes only)
  broken_frame,     // RTU: bad CRC; TCP: reply under a wrong function code
  drop_connection,  // TCP: the connection is closed instead of a reply; RTU: as no_reply
  trailing_bytes,   // the reply is followed at once by trailing_bytes, as some line drivers do
  cut_reply,        // only the first half of the reply is sent; TCP: then the connection closes
};
inline constexpr int kFaultKinds = 8;
inline constexpr std::size_t kMaxTrailingBytes = 16;

enum class RequestKind : unsigned char { any, read_coils, read_registers, write_register };

// One fault and the requests it strikes: those of the given kind to the given
// unit whose unit is in cycle first_cycle..last_cycle (cycle 0 is before the
// first poll), each with the given probability.
struct FaultRule {
  FaultKind kind = FaultKind::no_reply;
  double probability = 1.0;
  int first_cycle = 0;
  int last_cycle = INT_MAX;
  int unit_id = 0;  // 0: every unit
  RequestKind request = RequestKind::any;
  int delay_ms = 0;                          // delay only
  int exception_code = 4;                    // exception only
  std::vector<std::uint8_t> trailing_bytes;  // trailing_bytes only: 1..kMaxTrailingBytes
};

// Rules are tried in order; the first that strikes a request applies. Draws
// come from one generator per unit seeded from `seed`, so a run repeats.
struct FaultOptions {
  std::vector<FaultRule> rules;
  std::uint64_t seed = 1;
};

// Empty when the rule is sound, else a one-line reason.
std::string check_fault_rule(const FaultRule& rule);

// Names used on the command line and in messages: "no-reply", "delay", ...
const char* fault_name(FaultKind kind);
const char* request_name(RequestKind kind);
// Sets `kind` and returns true when `name` is one of those names.
bool parse_fault_name(const std::string& name, FaultKind& kind);
bool parse_request_name(const std::string& name, RequestKind& kind);

}  // namespace velmocair::sim
