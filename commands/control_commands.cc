#include "commands/control_commands.h"

#include <json/reader.h>
#include <json/value.h>

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <exception>
#include <optional>
#include <string>

#include "commands/output_buffer.h"
#include "device/Velmocair.h"

using velmocair::JsonSignal;
using velmocair::NumericCommand;

namespace {

// Result of a JSON command whose text does not parse.
constexpr int kUnparseable = -1;

constexpr const char kSignalIdMember[] = "signal_id";
constexpr const char kSetValueMember[] = "SetValue";

// A set-point of the numeric form: an unsigned 16-bit number in whole units,
// written in tenths. Empty when the input is not exactly such a number or
// its tenths do not fit the register.
std::optional<int> numeric_set_point(const void* in, int in_len) {
  std::uint16_t units = 0;
  if (in == nullptr || in_len != static_cast<int>(sizeof units)) {
    return std::nullopt;
  }
  std::memcpy(&units, in, sizeof units);
  const int tenths = units * velmocair::kTenthsPerUnit;
  if (tenths > velmocair::kMaxRegisterValue) {
    return std::nullopt;
  }
  return tenths;
}

// The command text parsed; empty when it is no JSON, or nested deeper than
// the reader allows (the reader throws there).
std::optional<Json::Value> parse_command(const void* in, int in_len) {
  if (in_len < 0 || (in == nullptr && in_len > 0)) {
    return std::nullopt;
  }
  const std::string text =
      in_len == 0 ? std::string() : std::string(static_cast<const char*>(in), in_len);
  Json::Value root;
  Json::Reader reader;
  try {
    if (!reader.parse(text, root, /*collectComments=*/true)) {
      return std::nullopt;
    }
  } catch (const std::exception&) {
    return std::nullopt;
  }
  return root;
}

// Text form of a member of the root object. Empty when the root is no
// object, or the member is missing, null, or has no text form (an array or
// an object).
std::optional<std::string> member_text(const Json::Value& root, const char* key) {
  if (!root.isObject()) {
    return std::nullopt;
  }
  const Json::Value* member = root.find(key, key + std::strlen(key));
  if (member == nullptr || member->isNull() || member->isArray() || member->isObject()) {
    return std::nullopt;
  }
  return member->asString();
}

// A set-point of the JSON form: the leading integer of its text (as atoi
// reads it: a fractional part dropped, no digits giving 0) in tenths, as a
// signed 16-bit register value. Empty when it is missing or its tenths fall
// outside that range.
std::optional<int> json_set_point(const std::optional<std::string>& text) {
  if (!text) {
    return std::nullopt;
  }
  constexpr long kLowest = velmocair::kMinSignedRegisterValue / velmocair::kTenthsPerUnit;
  constexpr long kHighest = velmocair::kMaxSignedRegisterValue / velmocair::kTenthsPerUnit;
  // strtol saturates where atoi would be undefined.
  const long units = std::strtol(text->c_str(), nullptr, 10);
  if (units < kLowest || units > kHighest) {
    return std::nullopt;
  }
  return static_cast<int>(units) * velmocair::kTenthsPerUnit;
}

const JsonSignal* find_signal(int code, const std::string& signal_id) {
  for (const JsonSignal& signal : velmocair::kJsonSignals) {
    if (signal.accepted_by == code && signal_id == signal.signal_id) {
      return &signal;
    }
  }
  return nullptr;
}

}  // namespace

void Velmocair::BeginCommand(int code) {
  step = code;
  write_result = velmocair::kWriteResultNone;
  OpenPort();
}

void Velmocair::WriteRegister(const NumericCommand& command, int value) {
  write_value = value;
  modbus_write_register(command.reg.value, write_value);
}

int Velmocair::RunNumericCommand(const NumericCommand& command, const IoRequest& io) {
  const std::optional<int> value = command.value.from_set_point
                                       ? numeric_set_point(io.in, io.in_len)
                                       : std::optional<int>(command.value.fixed);
  if (value) {
    BeginCommand(command.code);
    WriteRegister(command, *value);
  }
  return PassToHost(io);
}

// The step, the pending result and the port are set before the text is
// looked at, and stay whatever the text holds.
int Velmocair::RunJsonCommand(const IoRequest& io) {
  BeginCommand(io.code);
  const std::optional<Json::Value> root = parse_command(io.in, io.in_len);
  if (!root) {
    return kUnparseable;
  }
  const std::optional<std::string> signal_id = member_text(*root, kSignalIdMember);
  const JsonSignal* signal = signal_id ? find_signal(io.code, *signal_id) : nullptr;
  if (signal == nullptr) {
    return PassToHost(io);
  }
  const NumericCommand& command = *velmocair::find_numeric_command(signal->command);
  const std::optional<int> value = command.value.from_set_point
                                       ? json_set_point(member_text(*root, kSetValueMember))
                                       : std::optional<int>(command.value.fixed);
  if (!value) {
    return PassToHost(io);
  }
  step = command.code;
  write_result = velmocair::kWriteResultNone;
  WriteRegister(command, *value);
  return 0;
}

int Velmocair::QueryWriteResult(const IoRequest& io) {
  const std::int32_t result = write_result;
  if (velmocair::has_room(io.out, io.out_cap, sizeof result)) {
    std::memcpy(io.out, &result, sizeof result);
    io.out_len = static_cast<int>(sizeof result);
  } else {
    io.out_len = 0;
  }
  return PassToHost(io);
}
