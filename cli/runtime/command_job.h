#pragma once

#include <optional>
#include <string>
#include <vector>

#include "cli/options/command_actions.h"
#include "host/services/bus_worker.h"

namespace velmocair::cli {

// What happened to one control command.
struct CommandOutcome {
  int control_result = 0;           // DeviceIoControl's result for the command
  bool write_sent = false;          // the device issued a register write
  sitehost::LinkResult exchange;    // of that write
  std::optional<int> write_result;  // the result query's answer
};

// The DeviceIoControl input of a command: nothing (start, stop), the
// set-point as a native 16-bit number, or with `json` the JSON text.
std::vector<unsigned char> command_input(const CommandAction& action, std::optional<int> value,
                                         bool json);

// The job the unit's bus runs: the command, the write it issues and its
// echo, then the result query. `outcome` is filled before the job's future
// is ready.
sitehost::BusJob command_job(const CommandAction& action, std::optional<int> value, bool json,
                             CommandOutcome& outcome);

bool confirmed(const CommandOutcome& outcome);
// "confirmed", "echo mismatch", "no reply", each with the bus's reason where
// the exchange failed.
std::string describe(const CommandOutcome& outcome);

}  // namespace velmocair::cli
