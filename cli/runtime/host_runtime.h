#pragma once

#include <json/value.h>

#include <chrono>
#include <cstddef>
#include <functional>
#include <future>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "cli/runtime/host_event.h"
#include "cli/runtime/plugin_library.h"
#include "cli/runtime/trace_file.h"
#include "cli/runtime/unit_config.h"
#include "host/SPModbus.h"
#include "host/services/blocking_queue.h"
#include "host/services/bus_worker.h"
#include "host/services/history_store.h"
#include "host/services/history_writer.h"
#include "host/services/publisher.h"
#include "host/services/threshold_service.h"
#include "host/services/unit_controller.h"

namespace velmocair::cli {

struct RuntimeOptions {
  std::string plugin_path;   // empty: default_plugin_path()
  std::string history_path;  // empty: no history
  sitehost::Retention retention;
  std::string trace_path;  // empty: no trace
  sitehost::LinkTiming timing;
  sitehost::BusSchedule schedule;
};

// The host: the loaded plug-in, one device per unit with its controller,
// the shared services, and one bus thread per serial device or TCP endpoint.
// Events of every thread arrive in one queue for the thread that prints.
class HostRuntime {
 public:
  // Called on a unit's bus thread as each of its cycles ends, before the
  // next one starts.
  using CycleHook = std::function<void(std::size_t unit, const sitehost::CycleReport& report)>;
  using DocumentReader = std::function<void(const Json::Value& document)>;

  // Loads the plug-in, creates and configures the devices, groups them onto
  // buses and opens the serial lines. Throws UsageError for a configuration
  // the devices or the buses refuse or a serial device that is no serial
  // port, RunError when the plug-in, history or trace is unusable or a
  // serial line is held by another process or refuses RS-485 mode.
  HostRuntime(const RuntimeOptions& options, std::vector<UnitConfig> units);
  ~HostRuntime();
  HostRuntime(const HostRuntime&) = delete;
  HostRuntime& operator=(const HostRuntime&) = delete;

  std::size_t unit_count() const { return units_.size(); }
  const UnitConfig& unit(std::size_t index) const { return units_[index].config; }
  ORBSPDevice& device(std::size_t index) { return *units_[index].device; }

  // Hands each unit's newest stored record to its device's LoadFromCache.
  // Called before start(), so the reload precedes the first poll.
  void reload_history();
  // Set before start().
  void set_cycle_hook(CycleHook hook) { cycle_hook_ = std::move(hook); }
  void start();
  // Stops the buses, then writes the queued history.
  void stop();
  // True once every bus has polled all its rounds.
  bool rounds_done() const;
  // The link counts of a unit on a bus. Read once the host has stopped: the
  // bus thread keeps them while it runs.
  const sitehost::LinkCounters& link_counters(std::size_t unit) const;
  // The Modbus unit address a unit's device resolved.
  int unit_id(std::size_t unit) const { return units_.at(unit).modbus->unit_id(); }
  // History rows that could not be stored so far.
  std::uint64_t lost_history_rows() const {
    return history_ != nullptr ? history_->lost_rows() : 0;
  }

  std::optional<HostEvent> next_event(std::chrono::steady_clock::time_point deadline) {
    return events_.pop_until(deadline);
  }
  std::optional<HostEvent> queued_event() { return events_.try_pop(); }

  // Runs `job` on the unit's bus thread between two poll requests.
  std::future<void> submit(std::size_t unit, sitehost::BusJob job);
  // The unit's bus polls again from the next whole second of the clock on,
  // without waiting for the interval: a device's document and its record's
  // time stamp have whole seconds, so a cycle completing in the second of
  // the one before would show the document of before.
  void poll_next_second(std::size_t unit);

  // The status document as text (DeviceIoControl code 801), from this thread.
  std::string status_text(std::size_t unit);
  // Hands `read` the status document in place (code 803); false when the
  // device gives none. Requests of one unit's document, here and in
  // status_text(), take turns: the device rebuilds it in place.
  bool read_status_document(std::size_t unit, const DocumentReader& read);

  // The unit's alarm points that were raised and not cleared since.
  std::vector<sitehost::ActiveCheck> active_alarm_points(std::size_t unit) const {
    return thresholds_.active_checks(units_.at(unit).config.data_id);
  }

 private:
  struct Unit {
    UnitConfig config;
    std::shared_ptr<sitehost::UnitController> controller;
    std::shared_ptr<ORBController> host;  // the controller, traced when asked
    std::unique_ptr<ORBSPDevice> device;
    SPModbus* modbus = nullptr;
    std::size_t bus = 0;
    std::size_t slot = 0;  // the unit's index on its bus
    std::unique_ptr<std::mutex> status_turn = std::make_unique<std::mutex>();
  };
  struct BusPlan {
    sitehost::BusAddress address;
    std::vector<std::size_t> units;
  };

  void open_history(const std::string& path, const sitehost::Retention& retention,
                    const std::vector<UnitConfig>& units);
  void add_unit(UnitConfig config);
  std::vector<BusPlan> plan_buses();
  void report_rules(std::uint32_t data_id, const std::vector<rule_value>& rules);

  std::unique_ptr<PluginLibrary> plugin_;
  std::unique_ptr<TraceFile> trace_;
  sitehost::BlockingQueue<HostEvent> events_;
  sitehost::Publisher publisher_;
  sitehost::ThresholdService thresholds_;
  std::map<std::uint32_t, std::size_t> unit_by_data_id_;
  std::map<std::uint32_t, sitehost::HistoryRow> stored_;  // newest row per data id at start
  std::unique_ptr<sitehost::HistoryWriter> history_;
  std::vector<Unit> units_;
  std::vector<std::unique_ptr<sitehost::BusWorker>> buses_;
  CycleHook cycle_hook_;
};

}  // namespace velmocair::cli
