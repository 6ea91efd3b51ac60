#include <chrono>
#include <iterator>

#include "cli/modes/modes.h"
#include "cli/options/exit_status.h"
#include "cli/options/value_parsing.h"
#include "cli/runtime/interrupt.h"
#include "cli/runtime/unit_source.h"
#include "cli/scan/bus_scanner.h"
#include "cli/scan/scan_report.h"

namespace velmocair::cli {
namespace {

// The line settings a scan tries when none are given: the usual rates, each
// with every parity.
constexpr int kDefaultBauds[] = {1200, 2400, 4800, 9600, 19200, 38400, 57600, 115200};
constexpr char kDefaultParities[] = {'N', 'E', 'O'};

ScanPlan scan_plan(const HostOptions& options) {
  ScanPlan plan;
  const sitehost::BusAddress bus = *unit_from_flags(options.units).bus;
  if (bus.kind == sitehost::BusAddress::tcp) {
    plan.settings.push_back(bus);
  } else {
    const std::vector<int> bauds =
        options.scan.bauds.empty()
            ? std::vector<int>(std::begin(kDefaultBauds), std::end(kDefaultBauds))
            : options.scan.bauds;
    const std::vector<char> parities =
        options.scan.parities.empty()
            ? std::vector<char>(std::begin(kDefaultParities), std::end(kDefaultParities))
            : options.scan.parities;
    for (const int baud : bauds) {
      for (const char parity : parities) {
        sitehost::BusAddress setting = bus;
        setting.line.baud = baud;
        setting.line.parity = parity;
        plan.settings.push_back(setting);
      }
    }
  }
  plan.unit_ids = options.scan.unit_ids;
  if (plan.unit_ids.empty()) {
    for (int unit_id = kMinUnitId; unit_id <= kMaxUnitId; ++unit_id) {
      plan.unit_ids.push_back(unit_id);
    }
  }
  if (options.timeout_ms) {
    plan.timeout = std::chrono::milliseconds(*options.timeout_ms);
  }
  plan.poll_retries = options.retries.value_or(sitehost::kDefaultRetries);
  plan.stop_at_first = options.scan.first;
  return plan;
}

}  // namespace

int run_scan(const HostOptions& options) {
  const ScanPlan plan = scan_plan(options);
  ScanReport report(options.json, plan.settings.size());
  BusScanner scanner(plan, report);
  // Nothing goes on the line before the port is known to be a serial port
  // this process holds, in the mode asked for.
  if (const sitehost::LinkResult opened = scanner.open(); !opened.is_ok()) {
    if (opened.status == sitehost::LinkResult::not_serial) {
      throw UsageError(opened.text);
    }
    throw RunError(opened.text);
  }
  const sitehost::BusAddress& first = plan.settings.front();
  report.say("scanning " + first.name() + ": " +
             (first.kind == sitehost::BusAddress::rtu
                  ? std::to_string(plan.settings.size()) + " line settings x "
                  : std::string()) +
             std::to_string(plan.unit_ids.size()) + " unit addresses (" +
             options.scan.unit_ids_text + "), a silent one costing " +
             std::to_string(scanner.probe_timeout(first).count()) + " ms" +
             (first.kind == sitehost::BusAddress::rtu ? " at " + where_text(first) : ""));
  const auto started = std::chrono::steady_clock::now();
  const sitehost::LinkResult ended = scanner.run([] { return interrupted(); });
  report.finish(scanner.units(), std::chrono::steady_clock::now() - started,
                ended.is_ok() && !interrupted());
  if (!ended.is_ok()) {
    print_error(ended.text);
    return kExitFailed;
  }
  return scanner.units().empty() ? kExitFailed : kExitOk;
}

std::string scan_help() {
  return "usage: velmocair-host scan --rtu DEVICE | --tcp HOST:PORT [OPTIONS]\n\n"
         "Finds the units on a bus and their line settings: at each line setting it\n"
         "reads the first block of the poll cycle from each unit address, and walks\n"
         "the whole poll cycle of an address that answers as polling would (its\n"
         "time-out, reads asked again), checking the values, to tell a unit of this\n"
         "type from another Modbus device. A unit answering late is asked again with\n"
         "a long wait and given the time-out it needs; one device seen at every line\n"
         "setting or every unit id is reported once. It only reads, never at the broadcast\n"
         "address. It tells silence from bytes that make no valid frame (a device\n"
         "on other line settings), and prints each unit found, then the site-file\n"
         "entry and the command line that poll it. On a terminal a progress bar\n"
         "shows on standard error; SIGINT ends the scan with what it found.\n";
}

}  // namespace velmocair::cli
