// velmocair-host: the command-line host. Loads the plug-in, drives one
// device per unit over Modbus RTU or TCP, and prints records, alarms, status
// and command outcomes. See --help.
#include <exception>
#include <iostream>
#include <string>
#include <vector>

#include "cli/exit_status.h"
#include "cli/interrupt.h"
#include "cli/modes.h"

int main(int argc, char** argv) {
  using namespace velmocair::cli;
  const std::vector<std::string> arguments(argv + 1, argv + argc);
  try {
    const HostOptions options = parse_options(arguments);
    if (options.help) {
      std::cout << help_text(options.mode);
      return kExitOk;
    }
    if (options.version) {
      std::cout << version_line();
      return kExitOk;
    }
    install_signal_handlers();
    switch (options.mode) {
      case Mode::poll:
        return run_poll(options);
      case Mode::command:
        return run_command(options);
      case Mode::decode:
        return run_decode(options);
      case Mode::export_rows:
        return run_export(options);
      case Mode::alarms:
        return run_alarms(options);
      case Mode::plot:
        return run_plot(options);
      case Mode::scan:
        return run_scan(options);
      case Mode::history:
        break;
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
