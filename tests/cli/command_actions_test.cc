// The host's command actions agree with the codes and signal ids the plug-in
// dispatches on, and the host's inputs are the ones the device expects.
#include "cli/options/command_actions.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "cli/runtime/command_job.h"
#include "commands/control_commands.h"

namespace velmocair::cli {
namespace {

TEST(CommandActions, NamesTheDevicesCodesAndSignalIds) {
  for (const CommandAction& action : kCommandActions) {
    const NumericCommand* numeric = find_numeric_command(action.numeric_code);
    ASSERT_NE(numeric, nullptr) << action.name;
    EXPECT_EQ(numeric->value.from_set_point, action.takes_value) << action.name;
    bool signal_found = false;
    for (const JsonSignal& signal : kJsonSignals) {
      if (std::string(signal.signal_id) == action.signal_id) {
        signal_found = true;
        EXPECT_EQ(signal.accepted_by, action.json_code) << action.name;
        EXPECT_EQ(signal.command, action.numeric_code) << action.name;
      }
    }
    EXPECT_TRUE(signal_found) << action.name;
  }
}

TEST(CommandInput, IsANative16BitSetPointOrTheJsonText) {
  const CommandAction& temperature = *find_command_action("temperature");
  const std::vector<unsigned char> numeric = command_input(temperature, 24, false);
  ASSERT_EQ(numeric.size(), 2u);
  std::uint16_t value = 0;
  std::memcpy(&value, numeric.data(), sizeof value);
  EXPECT_EQ(value, 24);

  const std::vector<unsigned char> json = command_input(temperature, 24, true);
  EXPECT_EQ(std::string(json.begin(), json.end()),
            R"({"SetValue":"24","signal_id":"150800310010"})");
  const CommandAction& start = *find_command_action("start");
  EXPECT_TRUE(command_input(start, std::nullopt, false).empty());
  const std::vector<unsigned char> start_json = command_input(start, std::nullopt, true);
  EXPECT_EQ(std::string(start_json.begin(), start_json.end()), R"({"signal_id":"140800280010"})");
}

}  // namespace
}  // namespace velmocair::cli
