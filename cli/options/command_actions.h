#pragma once

#include <cstddef>
#include <iterator>
#include <string>

#include "commands/control_commands.h"

namespace velmocair::cli {

// The control commands the host sends through DeviceIoControl: each in its
// numeric form, or in its JSON form naming the signal. Codes and signal ids
// are the plug-in's own.
struct CommandAction {
  const char* name;  // as typed after "command"
  bool takes_value;  // a set-point in whole units
  int numeric_code;
  int json_code;
  const char* signal_id;
};

// The action `name` for the plug-in's numeric command `command`, with the
// JSON signal carried out as it (none: a null signal id).
constexpr CommandAction command_action(const char* name, const NumericCommand& command) {
  for (const JsonSignal& signal : kJsonSignals) {
    if (signal.command == command.code) {
      return {name, command.value.from_set_point, command.code, signal.accepted_by,
              signal.signal_id};
    }
  }
  return {name, command.value.from_set_point, command.code, 0, nullptr};
}

// clang-format off
// action                         the plug-in's numeric command
inline constexpr CommandAction kCommandActions[] = {
    command_action("start",       kNumericCommands[0]),
    command_action("stop",        kNumericCommands[1]),
    command_action("temperature", kNumericCommands[2]),
    command_action("humidity",    kNumericCommands[3]),
};
// clang-format on
static_assert(std::size(kCommandActions) == std::size(kNumericCommands),
              "an action for each numeric command");

constexpr bool every_action_has_a_signal() {
  for (const CommandAction& action : kCommandActions) {
    if (action.signal_id == nullptr) {
      return false;
    }
  }
  return true;
}
static_assert(every_action_has_a_signal(), "each action has a JSON form");

// Any code the device does not claim answers with the outcome of the last
// write (4 bytes: kWriteConfirmed, kWriteEchoMismatch or kWriteResultNone);
// the host asks with this one.
inline constexpr int kResultQueryCode = 0;
static_assert(numeric_command_index(kResultQueryCode) == std::size(kNumericCommands) &&
                  kResultQueryCode != kJsonSwitchCode && kResultQueryCode != kJsonSetPointCode &&
                  kResultQueryCode != kStatusTextCode && kResultQueryCode != kStatusReferenceCode,
              "the result query is a code the device does not claim");

// A set-point is written in tenths into a 16-bit register.
inline constexpr int kMaxSetPoint = kMaxRegisterValue / kTenthsPerUnit;

inline const CommandAction* find_command_action(const std::string& name) {
  for (const CommandAction& action : kCommandActions) {
    if (name == action.name) {
      return &action;
    }
  }
  return nullptr;
}

}  // namespace velmocair::cli
