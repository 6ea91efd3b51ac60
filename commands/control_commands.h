#pragma once

#include <cstddef>
#include <iterator>

#include "commands/constexpr_text.h"
#include "commands/write_acknowledgement.h"
#include "device/poll_cycle_table.h"

namespace velmocair {

// Holding register a command writes.
struct RegisterNumber {
  int value;
};
constexpr RegisterNumber holding(int address) { return {address}; }

// What a command writes: a fixed value, or a set-point given in whole units
// and written in tenths.
struct WriteValue {
  bool from_set_point;
  int fixed;
};
constexpr WriteValue fixed_value(int value) { return {false, value}; }
constexpr WriteValue set_point_in_tenths() { return {true, 0}; }

struct NumericCommand {
  int code;  // also the step while the echo is awaited
  RegisterNumber reg;
  WriteValue value;
};

// Numeric control commands; the set-points arrive as an unsigned 16-bit
// number in whole units.
// clang-format off
// code  register        value written
inline constexpr NumericCommand kNumericCommands[] = {
    {100, holding(3509), fixed_value(1)},         // start
    {102, holding(3509), fixed_value(0)},         // stop
    {106, holding(3501), set_point_in_tenths()},  // return-air temperature set-point
    {110, holding(3504), set_point_in_tenths()},  // humidity set-point
};
// clang-format on
static_assert(std::size(kNumericCommands) == 4, "four numeric commands");

// JSON control commands: the text names its signal by "signal_id"; a
// set-point travels in "SetValue".
inline constexpr int kJsonSwitchCode = 320;
inline constexpr int kJsonSetPointCode = 310;

struct JsonSignal {
  const char* signal_id;
  int accepted_by;  // JSON command code
  int command;      // numeric command whose write it makes
};

// clang-format off
// signal id        accepted by         carried out as
inline constexpr JsonSignal kJsonSignals[] = {
    {"140800280010", kJsonSwitchCode,   100},
    {"140800300010", kJsonSwitchCode,   102},
    {"150800310010", kJsonSetPointCode, 106},
    {"150800340010", kJsonSetPointCode, 110},
};
// clang-format on
static_assert(std::size(kJsonSignals) == 4, "four JSON signal ids");

// Codes answered by the status document; every code named nowhere is a
// result query.
inline constexpr int kStatusTextCode = 801;
inline constexpr int kStatusReferenceCode = 803;

// Widest register value, and the JSON set-point range that the signed
// 16-bit register form can carry.
inline constexpr int kMaxRegisterValue = 65535;
inline constexpr int kMinSignedRegisterValue = -32768;
inline constexpr int kMaxSignedRegisterValue = 32767;
inline constexpr int kTenthsPerUnit = 10;

// Position of the command with `code` in kNumericCommands; the table's size
// when there is none.
constexpr std::size_t numeric_command_index(int code) {
  for (std::size_t i = 0; i < std::size(kNumericCommands); ++i) {
    if (kNumericCommands[i].code == code) {
      return i;
    }
  }
  return std::size(kNumericCommands);
}

inline const NumericCommand* find_numeric_command(int code) {
  const std::size_t index = numeric_command_index(code);
  return index < std::size(kNumericCommands) ? &kNumericCommands[index] : nullptr;
}

namespace control_command_checks {

constexpr bool is_register_the_unit_polls(RegisterNumber reg) {
  for (const PollStep& row : kPollCycle) {
    if (row.request.kind == ReadKind::registers && reg.value >= row.request.first &&
        reg.value < row.request.first + row.request.count) {
      return true;
    }
  }
  return false;
}

constexpr bool commands_are_the_acknowledged_steps() {
  if (std::size(kNumericCommands) != std::size(kWriteAcknowledgementSteps)) {
    return false;
  }
  for (std::size_t i = 0; i < std::size(kNumericCommands); ++i) {
    if (kNumericCommands[i].code != kWriteAcknowledgementSteps[i] ||
        !is_register_the_unit_polls(kNumericCommands[i].reg)) {
      return false;
    }
  }
  return true;
}

constexpr bool signals_are_well_formed() {
  for (std::size_t i = 0; i < std::size(kJsonSignals); ++i) {
    const JsonSignal& signal = kJsonSignals[i];
    const std::size_t command = numeric_command_index(signal.command);
    // A switch signal makes a fixed write, a set-point signal a set-point write.
    if (command == std::size(kNumericCommands) || kNumericCommands[command].value.from_set_point !=
                                                      (signal.accepted_by == kJsonSetPointCode)) {
      return false;
    }
    std::size_t digits = 0;
    for (const char* c = signal.signal_id; *c != '\0'; ++c, ++digits) {
      if (*c < '0' || *c > '9') {
        return false;
      }
    }
    if (digits != 12) {
      return false;
    }
    for (std::size_t j = 0; j < i; ++j) {
      if (same_text(kJsonSignals[j].signal_id, signal.signal_id)) {
        return false;
      }
    }
  }
  return true;
}

static_assert(commands_are_the_acknowledged_steps(),
              "each numeric command's code is an acknowledged step, its register a polled one");
static_assert(signals_are_well_formed(),
              "signal ids are 12 unique digits, each carried out as a numeric command of its kind");
static_assert(numeric_command_index(kJsonSwitchCode) == std::size(kNumericCommands) &&
              numeric_command_index(kJsonSetPointCode) == std::size(kNumericCommands) &&
              !is_write_acknowledgement_step(kJsonSwitchCode) &&
              !is_write_acknowledgement_step(kJsonSetPointCode));

}  // namespace control_command_checks

}  // namespace velmocair
