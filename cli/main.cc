// velmocair-host: the command-line host. Loads the plug-in, drives one
// device per unit over Modbus RTU or TCP, and prints records, alarms, status
// and command outcomes. See --help.
#include <exception>
#include <iostream>
#include <string>
#include <vector>

#include "cli/modes/mode_table.h"
#include "cli/options/exit_status.h"
#include "cli/runtime/interrupt.h"

int main(int argc, char** argv) {
  using namespace velmocair::cli;
  const std::vector<std::string> arguments(argv + 1, argv + argc);
  try {
    const HostOptions options = parse_options(arguments, kModes);
    if (options.help) {
      std::cout << help_text(kModes, options.mode);
      return kExitOk;
    }
    if (options.version) {
      std::cout << version_line();
      return kExitOk;
    }
    install_signal_handlers();
    if (const ModeRow& mode = kModes[options.mode]; mode.run != nullptr) {
      return mode.run(options);
    }
  } catch (const Interrupted&) {
    return kExitInterrupted;
  } catch (const OutputClosed&) {
    return kExitOutputClosed;
  } catch (const UsageError& error) {
    print_error(error.what());
    return kExitUsage;
  } catch (const std::exception& error) {
    print_error(error.what());
  }
  return kExitFailed;
}
