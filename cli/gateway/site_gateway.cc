#include "cli/gateway/site_gateway.h"

#include <algorithm>
#include <chrono>
#include <cstdlib>

#include "cli/history/stored_records.h"
#include "cli/options/exit_status.h"
#include "cli/runtime/command_job.h"
#include "cli/runtime/event_printer.h"

namespace velmocair::cli {
namespace {

constexpr double kMicrosecondsPerMillisecond = 1000.0;
constexpr double kMedian = 0.5;
constexpr double kPercentile99 = 0.99;
// A unit goes offline after this many intervals without a completed cycle
// (and never sooner than the bridge's default).
constexpr int kIntervalsBeforeOffline = 3;

double milliseconds(sitehost::ResponseTimes::Duration time) {
  return static_cast<double>(time.count()) / kMicrosecondsPerMillisecond;
}

const CommandAction* action_of(int numeric_code) {
  for (const CommandAction& action : kCommandActions) {
    if (action.numeric_code == numeric_code) {
      return &action;
    }
  }
  return nullptr;
}

}  // namespace

mqtt::LinkFigures link_figures(const sitehost::LinkCounters& counters) {
  mqtt::LinkFigures figures;
  figures.exchanges = counters.exchanges;
  figures.answered = counters.answered();
  figures.timeouts = counters.timeouts;
  figures.exception_replies = counters.exception_replies();
  figures.broken_frames = counters.broken_frames;
  figures.reconnects = counters.reconnects;
  figures.cycles_completed = counters.cycles_completed;
  figures.cycles_failed = counters.cycles_failed;
  const sitehost::ResponseTimes& times = counters.response_times;
  if (times.count() > 0) {
    figures.median_ms = milliseconds(times.quantile(kMedian));
    figures.p99_ms = milliseconds(times.quantile(kPercentile99));
    figures.max_ms = milliseconds(times.max());
  }
  return figures;
}

SiteGateway::SiteGateway(HostRuntime& runtime, const MqttRequest& request,
                         const RuntimeOptions& options)
    : runtime_(runtime) {
  mqtt::GatewayOptions gateway;
  try {
    gateway.broker = mqtt::parse_broker_url(request.url, "mqtt");
    gateway.password = mqtt::read_password(gateway.broker, std::getenv, "mqtt");
    for (std::size_t unit = 0; unit < runtime.unit_count(); ++unit) {
      gateway.units.push_back({runtime.unit(unit).name, runtime.unit(unit).data_id});
    }
    gateway.read_only = request.read_only;
    gateway.offline_after = std::max<std::chrono::seconds>(
        mqtt::kDefaultOfflineAfter, std::chrono::ceil<std::chrono::seconds>(
                                        kIntervalsBeforeOffline * options.schedule.interval));
    gateway.on_command = [this](const mqtt::CommandRequest& command, mqtt::CommandReply reply) {
      run_command(command, std::move(reply));
    };
    if (!options.history_path.empty()) {
      gateway.history = stored_records(options.history_path);
    }
    gateway.notice = print_error;
    gateway_ = std::make_unique<mqtt::Gateway>(std::move(gateway));
  } catch (const mqtt::BrokerSettingsError& error) {
    throw UsageError(error.what());
  }
  runtime_.set_cycle_hook([this](std::size_t unit, const sitehost::CycleReport& report) {
    const mqtt::LinkFigures link = link_figures(report.link);
    const bool handed =
        report.completed && runtime_.read_status_document(unit, [&](const Json::Value& document) {
          gateway_->cycle_completed(unit, document, link);
        });
    if (!handed) {
      gateway_->cycle_failed(unit, link);
    }
  });
}

SiteGateway::~SiteGateway() {
  runtime_.stop();
  runtime_.set_cycle_hook(nullptr);
  gateway_->stop();
}

void SiteGateway::start() { gateway_->start(); }

void SiteGateway::run_command(const mqtt::CommandRequest& request, mqtt::CommandReply reply) {
  const CommandAction* action = action_of(request.command);
  if (action == nullptr) {
    reply({false, "not sent: no command " + std::to_string(request.command)});
    return;
  }
  auto outcome = std::make_shared<CommandOutcome>();
  sitehost::BusJob job = command_job(*action, request.value, false, *outcome);
  const std::string what = "mqtt: unit " + runtime_.unit(request.unit).name + ": command " +
                           action->name +
                           (request.value ? " " + std::to_string(*request.value) : "") + ": ";
  try {
    runtime_.submit(request.unit, [this, unit = request.unit, job = std::move(job), outcome, reply,
                                   what](SPModbus& device, const sitehost::CarryOut& carry_out) {
      job(device, carry_out);
      // The state the command left is read back at once.
      runtime_.poll_next_second(unit);
      print_error(what + describe(*outcome));
      reply({confirmed(*outcome), describe(*outcome)});
    });
  } catch (const RunError& error) {
    reply({false, std::string("not sent: ") + error.what()});
  }
}

}  // namespace velmocair::cli
