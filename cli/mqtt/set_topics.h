#pragma once

#include <algorithm>
#include <cstddef>
#include <iterator>
#include <optional>
#include <string>
#include <string_view>

#include "commands/control_commands.h"

// The commands a broker may send a unit: one set topic per control, its
// payload parsed and range-checked into a numeric control command.
namespace velmocair::mqtt {

enum class SetKind : unsigned char { on_off, set_point };

struct SetTopic {
  const char* word;  // BASE/UNIT/set/WORD
  SetKind kind;
  int command;      // on_off: the start command; set_point: its command
  int off_command;  // on_off: the stop command
  int most;         // set_point: the largest value accepted, whole units
};

// A set-point travels as an unsigned 16-bit number of whole units and is
// written in tenths into a 16-bit register.
inline constexpr int kMaxSetPoint = kMaxRegisterValue / kTenthsPerUnit;
// A relative humidity is a percentage.
inline constexpr int kMaxPercent = 100;
inline constexpr int kLeastSetPoint = 0;

// clang-format off
// word           kind                 command  off   most
inline constexpr SetTopic kSetTopics[] = {
    {"power",       SetKind::on_off,     100,     102,  0},
    {"temperature", SetKind::set_point,  106,     0,    kMaxSetPoint},
    {"humidity",    SetKind::set_point,  110,     0,    std::min(kMaxSetPoint, kMaxPercent)},
};
// clang-format on
static_assert(std::size(kSetTopics) == 3, "on/off and the two set-points");

// Payloads of the on/off topic, compared without regard to case: Home
// Assistant's defaults ("ON"/"OFF"), its climate modes ("auto"/"off") and
// the command line's words.
struct OnOffWord {
  const char* word;
  bool on;
};
inline constexpr OnOffWord kOnOffWords[] = {
    {"on",    true },
    {"off",   false},
    {"auto",  true },
    {"start", true },
    {"stop",  false},
};

namespace set_topic_checks {

constexpr bool writes_fixed(int code, int value) {
  const std::size_t index = numeric_command_index(code);
  return index < std::size(kNumericCommands) && !kNumericCommands[index].value.from_set_point &&
         kNumericCommands[index].value.fixed == value;
}

constexpr bool rows_are_commands() {
  for (const SetTopic& topic : kSetTopics) {
    const std::size_t index = numeric_command_index(topic.command);
    if (index == std::size(kNumericCommands)) {
      return false;
    }
    if (topic.kind == SetKind::on_off) {
      const std::size_t off = numeric_command_index(topic.off_command);
      if (!writes_fixed(topic.command, 1) || !writes_fixed(topic.off_command, 0) ||
          kNumericCommands[off].reg.value != kNumericCommands[index].reg.value) {
        return false;
      }
    } else if (!kNumericCommands[index].value.from_set_point || topic.most > kMaxSetPoint) {
      return false;
    }
  }
  return true;
}
static_assert(rows_are_commands(),
              "on/off writes 1 and 0 to one register; set-points are set-point commands");

}  // namespace set_topic_checks

const SetTopic* find_set_topic(std::string_view word);

// A command asked for by a set topic: the numeric DeviceIoControl code and,
// for a set-point, its value in whole units.
struct SetRequest {
  int command = 0;
  std::optional<int> value;
};

// The payload of `topic` as a command, or why it is refused ("not a whole
// number: 23.5", "outside 0..100: 120"); nothing of the payload is trusted.
struct SetParse {
  std::optional<SetRequest> request;
  std::string refusal;
};
SetParse parse_set_payload(const SetTopic& topic, std::string_view payload);

}  // namespace velmocair::mqtt
