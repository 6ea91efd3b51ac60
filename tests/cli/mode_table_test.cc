// The modes' table as option parsing and the help walk it, in-process.
#include "cli/modes/mode_table.h"

#include <gtest/gtest.h>

#include <iterator>
#include <string>
#include <vector>

#include "cli/options/exit_status.h"
#include "cli/options/options.h"

namespace velmocair::cli {
namespace {

// Each mode's words, and the heads of its usage and of its exit statuses in
// its --help.
TEST(ModeTable, WordsNameTheirModeWhoseHelpTellsItsUsageAndExits) {
  // clang-format off
  struct Case { std::vector<std::string> words; Mode mode; const char* usage; const char* exits; };
  const Case cases[] = {
      {{},                    Mode::poll,        "usage: velmocair-host [UNITS]",          "exit status: 0 every cycle"},
      {{"command"},           Mode::command,     "usage: velmocair-host command start",    "exit status: 0 every cycle"},
      {{"decode"},            Mode::decode,      "usage: velmocair-host decode FILE",      "exit status: 0 every cycle"},
      {{"history"},           Mode::history,     "usage: velmocair-host history export",   "exit status: 0 done;"},
      {{"history", "export"}, Mode::export_rows, "usage: velmocair-host history export",   "exit status: 0 done;"},
      {{"history", "alarms"}, Mode::alarms,      "usage: velmocair-host history alarms",   "exit status: 0 done;"},
      {{"history", "plot"},   Mode::plot,        "usage: velmocair-host history plot",     "exit status: 0 done;"},
      {{"scan"},              Mode::scan,        "usage: velmocair-host scan --rtu",       "exit status: 0 a unit answered"},
  };
  // clang-format on
  static_assert(std::size(cases) == std::size(kModeRows), "a case per mode");
  for (const Case& c : cases) {
    std::vector<std::string> arguments = c.words;
    arguments.emplace_back("--help");
    const HostOptions options = parse_options(arguments, kModes);
    EXPECT_EQ(options.mode, c.mode) << arguments.front();
    EXPECT_TRUE(options.help);
    const std::string help = help_text(kModes, c.mode);
    EXPECT_EQ(help.rfind(c.usage, 0), 0U) << arguments.front();
    EXPECT_NE(help.find(std::string("\n\n") + c.exits), std::string::npos) << arguments.front();
  }
}

TEST(ModeTable, AGroupingWordNeedsOneOfTheWordsAfterIt) {
  // clang-format off
  struct Case { std::vector<std::string> arguments; const char* error; };
  const Case cases[] = {
      {{"history"},         "history: give export, alarms or plot (see --help)"},
      {{"history", "plot2"}, "history: unknown command 'plot2' (expected export, alarms or plot)"},
      {{"export"},          "unexpected argument 'export'"},
  };
  // clang-format on
  for (const Case& c : cases) {
    try {
      parse_options(c.arguments, kModes);
      ADD_FAILURE() << c.error;
    } catch (const UsageError& error) {
      EXPECT_STREQ(error.what(), c.error);
    }
  }
}

}  // namespace
}  // namespace velmocair::cli
