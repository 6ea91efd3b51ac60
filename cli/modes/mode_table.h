#pragma once

#include <cstddef>
#include <iterator>

#include "cli/modes/modes.h"
#include "cli/options/options.h"

namespace velmocair::cli {

// The exit statuses each kind of mode tells in its help.
inline constexpr char kRunExits[] =
    "exit status: 0 every cycle completed / command confirmed / record decoded;\n"
    "1 a cycle failed, the command was not confirmed, rows could not be stored, or\n"
    "the host could not run; 2 bad option, site file or unit configuration.\n";
inline constexpr char kHistoryExits[] =
    "exit status: 0 done; 1 a file could not be read or written, no rows of the\n"
    "--data-id, or nothing to plot; 2 bad option, time, key or a file that is not\n"
    "a history; 130 stopped by SIGINT (no output file left); 141 the reader of\n"
    "the output went away.\n";
inline constexpr char kScanExits[] =
    "exit status: 0 a unit answered; 1 none did, or the port could not be\n"
    "opened; 2 bad option, or a device that is no serial port.\n";

// The modes of velmocair-host, in the order of `Mode`: adding one is a row
// here and its file in cli/modes/. Poll, named by no word, runs when the
// first argument names no mode; `history` only groups the words after it.
// clang-format off
// mode               word       after      help           exits          run
inline constexpr ModeRow kModeRows[] = {
    {Mode::poll,        nullptr,   nullptr,   poll_help,     kRunExits,     run_poll   },
    {Mode::command,     "command", nullptr,   command_help,  kRunExits,     run_command},
    {Mode::decode,      "decode",  nullptr,   decode_help,   kRunExits,     run_decode },
    {Mode::history,     "history", nullptr,   history_help,  kHistoryExits, nullptr    },
    {Mode::export_rows, "export",  "history", export_help,   kHistoryExits, run_export },
    {Mode::alarms,      "alarms",  "history", alarms_help,   kHistoryExits, run_alarms },
    {Mode::plot,        "plot",    "history", plot_help,     kHistoryExits, run_plot   },
    {Mode::scan,        "scan",    nullptr,   scan_help,     kScanExits,    run_scan   },
};
// clang-format on

constexpr bool rows_in_mode_order() {
  for (std::size_t place = 0; place < std::size(kModeRows); ++place) {
    if (static_cast<std::size_t>(kModeRows[place].mode) != place) {
      return false;
    }
  }
  return true;
}
static_assert(rows_in_mode_order(), "a mode's row sits at its value, so that a mode finds its row");

inline constexpr ModeTable kModes{kModeRows, std::size(kModeRows)};

}  // namespace velmocair::cli
