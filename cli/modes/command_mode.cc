#include <chrono>
#include <future>

#include "cli/modes/modes.h"
#include "cli/options/command_actions.h"
#include "cli/options/exit_status.h"
#include "cli/runtime/command_job.h"
#include "cli/runtime/interrupt.h"
#include "cli/runtime/unit_source.h"

namespace velmocair::cli {
namespace {

constexpr std::chrono::milliseconds kWakeInterval{100};

// The unit a command goes to: the only one, or the site-file unit named.
UnitConfig target_unit(const HostOptions& options, const std::vector<UnitConfig>& units) {
  if (options.units.unit_name.empty()) {
    if (units.size() != 1) {
      throw UsageError("the site file has " + std::to_string(units.size()) +
                       " units: name one with --unit NAME");
    }
    return units.front();
  }
  for (const UnitConfig& unit : units) {
    if (unit.name == options.units.unit_name) {
      return unit;
    }
  }
  throw UsageError("no unit named " + options.units.unit_name + " in the site file");
}

// Waits for the command's job; false when the host is interrupted first.
bool ran(std::future<void>& done) {
  while (!interrupted()) {
    if (done.wait_for(kWakeInterval) == std::future_status::ready) {
      return true;
    }
  }
  return false;
}

}  // namespace

int run_command(const HostOptions& options) {
  const CommandAction& action = *find_command_action(options.action);
  const UnitSource source(options);
  HostRuntime runtime(runtime_options(options, source, options.cycles.value_or(0)),
                      {target_unit(options, source.units())});
  EventPrinter printer(runtime, status_output(options));
  runtime.reload_history();
  printer.print_queued();

  CommandOutcome outcome;
  // Queued before the bus starts, so the command goes out before any poll.
  std::future<void> done =
      runtime.submit(0, command_job(action, options.value, options.json, outcome));
  runtime.start();
  // Events wait until the outcome is printed: they come after the command.
  if (!ran(done)) {
    runtime.stop();
    print_error("command " + options.action + ": interrupted before it was sent");
    return kExitFailed;
  }
  done.get();
  std::string line = "command " + options.action;
  if (options.value) {
    line += " " + std::to_string(*options.value);
  }
  print_out(line + ": " + describe(outcome) + "\n");
  print_until_done(runtime, printer, options.stats);
  return confirmed(outcome) && printer.failed_cycles() == 0 && runtime.lost_history_rows() == 0
             ? kExitOk
             : kExitFailed;
}

std::string command_help() {
  return std::string(
             "usage: velmocair-host command start|stop|temperature VALUE|humidity VALUE "
             "[--json] [UNITS] [OPTIONS]\n\n"
             "Sends one control command (numeric codes 100, 102, 106, 110; with --json\n"
             "codes 320, 310), waits for the unit's echo and prints the outcome the device\n"
             "reports: confirmed, echo mismatch or no reply. VALUE is a set-point in whole\n"
             "units, 0..") +
         std::to_string(kMaxSetPoint) + ". --cycles N polls N cycles afterwards.\n";
}

}  // namespace velmocair::cli
