#include "cli/runtime/host_runtime.h"

#include "cli/options/command_actions.h"
#include "cli/options/exit_status.h"
#include "host/TracingController.h"

namespace velmocair::cli {
namespace {

// Large enough for the status text; a longer one is fetched again.
constexpr std::size_t kStatusTextCapacity = 1 << 16;
// poll_next_second() starts this far into the second, clear of its edge.
constexpr std::chrono::milliseconds kPastTheSecond{10};

HostEvent event_of(HostEvent::Kind kind, std::size_t unit, int round, std::string text,
                   unsigned short alarm_index = 0) {
  HostEvent event;
  event.kind = kind;
  event.unit = unit;
  event.round = round;
  event.text = std::move(text);
  event.alarm_index = alarm_index;
  return event;
}

}  // namespace

HostRuntime::HostRuntime(const RuntimeOptions& options, std::vector<UnitConfig> units)
    : thresholds_([this](std::uint32_t data_id, const std::vector<rule_value>& rules) {
        report_rules(data_id, rules);
      }) {
  plugin_ = std::make_unique<PluginLibrary>(options.plugin_path.empty() ? default_plugin_path()
                                                                        : options.plugin_path);
  if (!options.trace_path.empty()) {
    trace_ = std::make_unique<TraceFile>(options.trace_path);
  }
  if (!options.history_path.empty()) {
    open_history(options.history_path, options.retention, units);
  }
  for (UnitConfig& config : units) {
    add_unit(std::move(config));
  }
  for (BusPlan& plan : plan_buses()) {
    std::vector<sitehost::BusUnit> members;
    for (const std::size_t index : plan.units) {
      Unit& unit = units_[index];
      unit.bus = buses_.size();
      unit.slot = members.size();
      members.push_back({unit.config.name, unit.modbus, unit.controller.get()});
    }
    const std::vector<std::size_t> unit_of_slot = plan.units;
    auto link = std::make_unique<sitehost::ModbusLink>(plan.address, options.timing);
    for (const std::size_t index : plan.units) {
      const Unit& unit = units_[index];
      const std::optional<int>& timeout_ms = unit.config.timeout_ms;
      link->set_unit_timing(
          unit.modbus->unit_id(),
          {timeout_ms ? std::optional(std::chrono::milliseconds(*timeout_ms)) : std::nullopt,
           unit.config.retries});
    }
    // A serial line is taken at once: a device that is no serial port, one
    // held by another process or one that refuses RS-485 mode ends the host
    // before it polls. Other failures to open it fail cycles.
    if (plan.address.kind == sitehost::BusAddress::rtu) {
      const sitehost::LinkResult opened = link->open();
      if (opened.status == sitehost::LinkResult::not_serial) {
        throw UsageError(opened.text);
      }
      if (opened.status == sitehost::LinkResult::in_use ||
          opened.status == sitehost::LinkResult::mode_refused) {
        throw RunError(opened.text);
      }
      if (!link->rs485_mode().empty()) {
        events_.push(event_of(HostEvent::notice, 0, 0,
                              plan.address.name() + ": RS-485: " + link->rs485_mode()));
      }
    }
    buses_.push_back(std::make_unique<sitehost::BusWorker>(
        std::move(link), std::move(members), options.schedule,
        [this, unit_of_slot](const sitehost::CycleReport& report) {
          const std::size_t unit = unit_of_slot[report.unit];
          if (cycle_hook_) {
            cycle_hook_(unit, report);
          }
          HostEvent event =
              event_of(report.completed ? HostEvent::cycle_completed : HostEvent::cycle_failed,
                       unit, report.round, report.failure);
          if (report.completed) {
            event.active_points = active_alarm_points(unit);
          }
          event.link = report.link;
          events_.push(std::move(event));
        }));
  }
}

HostRuntime::~HostRuntime() { stop(); }

void HostRuntime::open_history(const std::string& path, const sitehost::Retention& retention,
                               const std::vector<UnitConfig>& units) {
  std::string error;
  std::unique_ptr<sitehost::HistoryStore> store =
      sitehost::HistoryStore::open(path, sitehost::HistoryStore::Access::read_write, error);
  if (store == nullptr) {
    throw RunError(error);
  }
  for (const UnitConfig& unit : units) {
    std::optional<sitehost::HistoryRow> row = store->newest(unit.data_id, error);
    if (!error.empty()) {
      throw RunError(error);
    }
    if (row) {
      stored_.emplace(unit.data_id, std::move(*row));
    }
  }
  history_ = std::make_unique<sitehost::HistoryWriter>(
      std::move(store),
      [this](const std::string& why) { events_.push(event_of(HostEvent::notice, 0, 0, why)); },
      retention);
}

void HostRuntime::add_unit(UnitConfig config) {
  Unit unit;
  unit.controller = std::make_shared<sitehost::UnitController>(
      sitehost::HostServices{publisher_, thresholds_, history_.get()});
  unit.host = unit.controller;
  if (trace_ != nullptr) {
    unit.host = std::make_shared<TracingController>(
        unit.controller, [trace = trace_.get()](const Json::Value& call) { trace->write(call); });
  }
  unit.device = plugin_->create_device();
  unit.modbus = dynamic_cast<SPModbus*>(unit.device.get());
  if (unit.modbus == nullptr) {
    throw RunError(plugin_->path() + ": the plug-in's device is not a Modbus device");
  }
  unit_by_data_id_[config.data_id] = units_.size();
  const int result = unit.device->Init(unit.host, config.data_id, config.setting);
  if (result != 0) {
    throw UsageError("unit " + config.name + ": the device refused its configuration (result " +
                     std::to_string(result) + ")");
  }
  unit.config = std::move(config);
  units_.push_back(std::move(unit));
}

std::vector<HostRuntime::BusPlan> HostRuntime::plan_buses() {
  std::vector<BusPlan> plans;
  for (std::size_t index = 0; index < units_.size(); ++index) {
    const Unit& unit = units_[index];
    if (!unit.config.bus) {
      continue;
    }
    sitehost::BusAddress address = *unit.config.bus;
    if (address.kind == sitehost::BusAddress::rtu && address.line.baud == 0) {
      address.line.baud = unit.modbus->baud_rate();
      units_[index].config.bus = address;
    }
    BusPlan* plan = nullptr;
    for (BusPlan& existing : plans) {
      if (existing.address.name() == address.name()) {
        plan = &existing;
      }
    }
    if (plan == nullptr) {
      plans.push_back({address, {}});
      plan = &plans.back();
    }
    const Unit& first = units_[plan->units.empty() ? index : plan->units.front()];
    if (address.kind == sitehost::BusAddress::rtu && !(address.line == plan->address.line)) {
      throw UsageError("unit " + unit.config.name + ": line settings of " + address.name() +
                       " differ from those of unit " + first.config.name);
    }
    for (const std::size_t other : plan->units) {
      if (units_[other].modbus->unit_id() == unit.modbus->unit_id()) {
        throw UsageError("unit " + unit.config.name + ": unit address " +
                         std::to_string(unit.modbus->unit_id()) + " on " + address.name() +
                         " is taken by unit " + units_[other].config.name);
      }
    }
    plan->units.push_back(index);
  }
  return plans;
}

void HostRuntime::report_rules(std::uint32_t data_id, const std::vector<rule_value>& rules) {
  const std::size_t unit = unit_by_data_id_.at(data_id);
  for (const rule_value& rule : rules) {
    events_.push(event_of(rule.active ? HostEvent::alarm_raised : HostEvent::alarm_cleared, unit, 0,
                          rule.text, rule.index));
  }
}

void HostRuntime::reload_history() {
  for (std::size_t index = 0; index < units_.size(); ++index) {
    Unit& unit = units_[index];
    const auto stored = stored_.find(unit.config.data_id);
    if (stored == stored_.end()) {
      continue;
    }
    const std::vector<unsigned char>& record = stored->second.record;
    // The history already holds the record: the completion the reload
    // causes publishes it and evaluates its alarms but stores no new row.
    unit.controller->set_storing(false);
    const bool loaded = unit.device->LoadFromCache(record.data(), static_cast<int>(record.size()));
    unit.controller->set_storing(true);
    events_.push(event_of(HostEvent::notice, index, 0,
                          "unit " + unit.config.name +
                              (loaded ? ": loaded the newest stored record, of "
                                      : ": the device refused the newest stored record, of ") +
                              stored->second.time));
  }
  stored_.clear();
}

void HostRuntime::start() {
  for (const auto& bus : buses_) {
    bus->start();
  }
}

void HostRuntime::stop() {
  for (const auto& bus : buses_) {
    bus->stop();
  }
  if (history_ != nullptr) {
    history_->stop();
  }
}

const sitehost::LinkCounters& HostRuntime::link_counters(std::size_t unit) const {
  const Unit& found = units_.at(unit);
  return buses_.at(found.bus)->link().counters(found.modbus->unit_id());
}

bool HostRuntime::rounds_done() const {
  for (const auto& bus : buses_) {
    if (!bus->rounds_done()) {
      return false;
    }
  }
  return true;
}

std::future<void> HostRuntime::submit(std::size_t unit, sitehost::BusJob job) {
  const Unit& target = units_.at(unit);
  if (!target.config.bus) {
    throw RunError("unit " + target.config.name + " is on no bus");
  }
  return buses_[target.bus]->submit(target.slot, std::move(job));
}

void HostRuntime::poll_next_second(std::size_t unit) {
  const Unit& target = units_.at(unit);
  if (!target.config.bus) {
    return;
  }
  using std::chrono::duration_cast;
  const auto into_second = duration_cast<std::chrono::steady_clock::duration>(
      std::chrono::system_clock::now().time_since_epoch() % std::chrono::seconds(1));
  buses_[target.bus]->poll_at(std::chrono::steady_clock::now() + std::chrono::seconds(1) -
                              into_second + kPastTheSecond);
}

bool HostRuntime::read_status_document(std::size_t unit, const DocumentReader& read) {
  Unit& target = units_.at(unit);
  const std::lock_guard<std::mutex> turn(*target.status_turn);
  const Json::Value* document = nullptr;
  int length = 0;
  if (target.device->DeviceIoControl(kStatusReferenceCode, nullptr, 0, &document,
                                     static_cast<int>(sizeof document), length) != 0 ||
      length != static_cast<int>(sizeof document) || document == nullptr) {
    return false;
  }
  read(*document);
  return true;
}

std::string HostRuntime::status_text(std::size_t unit) {
  const std::lock_guard<std::mutex> turn(*units_.at(unit).status_turn);
  ORBSPDevice& device = *units_.at(unit).device;
  std::vector<char> text(kStatusTextCapacity);
  int length = 0;
  int result = device.DeviceIoControl(kStatusTextCode, nullptr, 0, text.data(),
                                      static_cast<int>(text.size()), length);
  if (result != 0 && length > static_cast<int>(text.size())) {
    text.resize(static_cast<std::size_t>(length));
    result = device.DeviceIoControl(kStatusTextCode, nullptr, 0, text.data(),
                                    static_cast<int>(text.size()), length);
  }
  if (result != 0 || length < 0 || length > static_cast<int>(text.size())) {
    return {};
  }
  return std::string(text.data(), static_cast<std::size_t>(length));
}

}  // namespace velmocair::cli
