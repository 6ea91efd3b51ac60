#include "cli/runtime/command_job.h"

#include <cstdint>
#include <cstring>

#include "cli/runtime/compact_json.h"

namespace velmocair::cli {

std::vector<unsigned char> command_input(const CommandAction& action, std::optional<int> value,
                                         bool json) {
  if (json) {
    Json::Value text(Json::objectValue);
    text["signal_id"] = action.signal_id;
    if (action.takes_value) {
      text["SetValue"] = std::to_string(value.value_or(0));
    }
    const std::string written = compact_json(text, NonAscii::escaped);
    return {written.begin(), written.end()};
  }
  if (!action.takes_value) {
    return {};
  }
  const auto set_point = static_cast<std::uint16_t>(value.value_or(0));
  std::vector<unsigned char> input(sizeof set_point);
  std::memcpy(input.data(), &set_point, sizeof set_point);
  return input;
}

sitehost::BusJob command_job(const CommandAction& action, std::optional<int> value, bool json,
                             CommandOutcome& outcome) {
  const int code = json ? action.json_code : action.numeric_code;
  return [code, input = command_input(action, value, json), &outcome](
             SPModbus& device, const sitehost::CarryOut& carry_out) {
    std::int32_t ignored = 0;
    int out_len = 0;
    outcome.control_result = device.DeviceIoControl(
        code, input.data(), static_cast<int>(input.size()), &ignored, sizeof ignored, out_len);
    if (device.IsProcessing() && device.pending_request().kind == ModbusRequest::write_register) {
      outcome.write_sent = true;
      outcome.exchange = carry_out();
    }
    std::int32_t result = kWriteResultNone;
    int length = 0;
    device.DeviceIoControl(kResultQueryCode, nullptr, 0, &result, sizeof result, length);
    if (length == static_cast<int>(sizeof result)) {
      outcome.write_result = result;
    }
  };
}

bool confirmed(const CommandOutcome& outcome) {
  return outcome.write_sent && outcome.write_result == kWriteConfirmed;
}

std::string describe(const CommandOutcome& outcome) {
  if (!outcome.write_sent) {
    return "not sent: the device issued no write (result " +
           std::to_string(outcome.control_result) + ")";
  }
  const int result = outcome.write_result.value_or(kWriteResultNone);
  std::string text = result == kWriteConfirmed      ? "confirmed"
                     : result == kWriteEchoMismatch ? "echo mismatch"
                     : result == kWriteResultNone   ? "no reply"
                                                    : "unknown outcome " + std::to_string(result);
  if (!outcome.exchange.is_ok()) {
    text += ": " + outcome.exchange.text;
  }
  return text;
}

}  // namespace velmocair::cli
