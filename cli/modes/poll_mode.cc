#include <unistd.h>

#include <chrono>

#include "cli/gateway/site_gateway.h"
#include "cli/modes/modes.h"
#include "cli/options/exit_status.h"
#include "cli/runtime/interrupt.h"
#include "cli/runtime/link_statistics.h"
#include "cli/runtime/unit_source.h"

namespace velmocair::cli {
namespace {

// How often the printing thread looks for an interrupt while idle.
constexpr std::chrono::milliseconds kWakeInterval{100};
constexpr double kMillisecondsPerSecond = 1000.0;

// The bridge the command line or else the site file asks for.
MqttRequest mqtt_request(const HostOptions& options, const UnitSource& source) {
  MqttRequest request = options.mqtt.url.empty() ? source.mqtt() : options.mqtt;
  request.read_only = request.read_only || options.mqtt.read_only;
  if (request.read_only && request.url.empty()) {
    throw UsageError(
        "--mqtt-read-only: give the broker with --mqtt URL or the site file's \"mqtt\"");
  }
  return request;
}

}  // namespace

RuntimeOptions runtime_options(const HostOptions& options, const UnitSource& source, int rounds) {
  RuntimeOptions runtime;
  runtime.plugin_path = options.plugin;
  // The command line's history file and limits stand before the site file's.
  runtime.history_path = options.history.empty() ? source.history_file() : options.history;
  const sitehost::Retention& site = source.retention();
  runtime.retention = {
      options.history_keep_seconds ? options.history_keep_seconds : site.keep_seconds,
      options.history_max_bytes ? options.history_max_bytes : site.max_bytes};
  runtime.trace_path = options.trace;
  if (options.timeout_ms) {
    runtime.timing.response_timeout = std::chrono::milliseconds(*options.timeout_ms);
  }
  runtime.timing.retries = options.retries.value_or(sitehost::kDefaultRetries);
  runtime.schedule.rounds = rounds;
  runtime.schedule.interval = std::chrono::milliseconds(
      static_cast<long long>(options.interval_seconds * kMillisecondsPerSecond));
  return runtime;
}

StatusOutput status_output(const HostOptions& options) {
  if (options.status) {
    return StatusOutput::status_text;
  }
  return options.view || isatty(STDOUT_FILENO) != 0 ? StatusOutput::view : StatusOutput::summary;
}

void print_until_done(HostRuntime& runtime, EventPrinter& printer, bool stats) {
  while (!interrupted()) {
    if (std::optional<HostEvent> event =
            runtime.next_event(std::chrono::steady_clock::now() + kWakeInterval)) {
      printer.print(*event);
    } else if (runtime.rounds_done()) {
      break;
    }
  }
  printer.print_queued();
  runtime.stop();
  printer.print_queued();
  if (stats) {
    std::vector<std::pair<std::string, sitehost::LinkCounters>> units;
    for (std::size_t unit = 0; unit < runtime.unit_count(); ++unit) {
      units.emplace_back(runtime.unit(unit).name, runtime.link_counters(unit));
    }
    print_out(statistics_table(units));
  }
}

int run_poll(const HostOptions& options) {
  const UnitSource source(options);
  const MqttRequest mqtt = mqtt_request(options, source);
  const RuntimeOptions settings = runtime_options(options, source, options.cycles.value_or(-1));
  HostRuntime runtime(settings, source.units());
  EventPrinter printer(runtime, status_output(options));
  std::unique_ptr<SiteGateway> gateway;
  if (!mqtt.url.empty()) {
    gateway = std::make_unique<SiteGateway>(runtime, mqtt, settings);
    gateway->start();
  }
  runtime.reload_history();
  printer.print_queued();
  runtime.start();
  print_until_done(runtime, printer, options.stats);
  // The buses have stopped: the bridge publishes "offline" and disconnects.
  gateway.reset();
  return printer.failed_cycles() == 0 && runtime.lost_history_rows() == 0 ? kExitOk : kExitFailed;
}

std::string poll_help() {
  return "usage: velmocair-host [UNITS] [OPTIONS]\n"
         "       velmocair-host command start|stop|temperature VALUE|humidity VALUE "
         "[--json] [UNITS] [OPTIONS]\n"
         "       velmocair-host decode FILE | decode --history FILE [--data-id N]\n"
         "       velmocair-host history export|alarms|plot --history FILE [OPTIONS]\n"
         "       velmocair-host scan --rtu DEVICE | --tcp HOST:PORT [OPTIONS]\n\n"
         "Loads the plug-in, polls each unit once per cycle and prints the outcome: a\n"
         "readable view on a terminal, else one summary line per cycle; --status prints\n"
         "the exact status text instead. Without --site, --tcp or --rtu it polls the\n"
         "built-in simulator on loopback.\n";
}

}  // namespace velmocair::cli
