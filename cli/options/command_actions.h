#pragma once

#include <cstddef>
#include <iterator>
#include <string>

namespace velmocair::cli {

// The control commands the host sends through DeviceIoControl: each in its
// numeric form, or in its JSON form naming the signal.
struct CommandAction {
  const char* name;  // as typed after "command"
  bool takes_value;  // a set-point in whole units
  int numeric_code;
  int json_code;
  const char* signal_id;
};

// clang-format off
// action         value  numeric code  JSON code  signal id
inline constexpr CommandAction kCommandActions[] = {
    {"start",       false, 100,          320,       "140800280010"},
    {"stop",        false, 102,          320,       "140800300010"},
    {"temperature", true,  106,          310,       "150800310010"},
    {"humidity",    true,  110,          310,       "150800340010"},
};
// clang-format on
static_assert(std::size(kCommandActions) == 4, "start, stop and two set-points");

// Any code the device does not claim answers with the outcome of the last
// write (4 bytes: 0 confirmed, 3 echo mismatch, -1 none known); the host
// asks with this one.
inline constexpr int kResultQueryCode = 0;
inline constexpr int kStatusTextCode = 801;
// The status document by reference: its address in the output buffer.
inline constexpr int kStatusReferenceCode = 803;

// Outcomes the result query reports.
inline constexpr int kWriteConfirmed = 0;
inline constexpr int kWriteEchoMismatch = 3;

// A set-point is written in tenths into a 16-bit register.
inline constexpr int kTenthsPerUnit = 10;
inline constexpr int kMaxSetPoint = 0xFFFF / kTenthsPerUnit;

inline const CommandAction* find_command_action(const std::string& name) {
  for (const CommandAction& action : kCommandActions) {
    if (name == action.name) {
      return &action;
    }
  }
  return nullptr;
}

}  // namespace velmocair::cli
