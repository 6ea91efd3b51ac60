#pragma once

#include <array>
#include <bitset>
#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <limits>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "cli/runtime/command_job.h"
#include "cli/runtime/plugin_library.h"
#include "host/services/bus_worker.h"
#include "host/services/history_writer.h"
#include "host/services/publisher.h"
#include "host/services/threshold_service.h"
#include "host/services/unit_controller.h"
#include "simulator/server.h"

namespace velmocair::robustness {

enum class Transport : unsigned char { tcp, rtu };

// The records a device handed the host, by generation, in constant memory
// so that a soak measures the host and not its own log. Thread-safe.
class RecordLog {
 public:
  void add(const unsigned char* data, std::size_t length);
  std::uint64_t records() const;
  // Records that are not a whole record of one cycle.
  std::uint64_t mixed() const;
  // The lowest generation after `generation` of which a whole record came.
  std::optional<std::uint16_t> first_after(std::uint16_t generation) const;

 private:
  mutable std::mutex mutex_;
  std::uint64_t records_ = 0;
  std::uint64_t mixed_ = 0;
  std::bitset<std::numeric_limits<std::uint16_t>::max() + 1> seen_;
};

// What the bus reported of its polls.
struct PollTally {
  std::uint64_t polls = 0;
  std::uint64_t completed = 0;
};

struct UnitSetup {
  Transport transport = Transport::tcp;
  sim::FaultOptions faults;
  sitehost::LinkTiming timing;
  std::string history_path;               // empty: no history
  std::chrono::milliseconds interval{0};  // from the start of one round to the next
  std::uint32_t data_id = 1;
};

// One unit polled as fast as it answers (or at the setup's interval), in this process and on the
// host's own parts: the plug-in loaded with dlopen, its device behind a unit controller with
// publisher, threshold rules and (optionally) history, one bus thread with its Modbus master, and
// the simulator marking generations and injecting the setup's faults, over loopback TCP or a
// pseudo-terminal.
class UnitUnderTest {
 public:
  static constexpr int kUnitId = 1;

  explicit UnitUnderTest(const UnitSetup& setup);
  ~UnitUnderTest();
  UnitUnderTest(const UnitUnderTest&) = delete;
  UnitUnderTest& operator=(const UnitUnderTest&) = delete;

  void start();
  // Stops the bus, then writes the queued history.
  void stop();

  sim::Server& server() { return *server_; }
  ORBSPDevice& device() { return *device_; }
  int cycles() const { return server_->cycles(kUnitId); }

  // Waits until the bus has reported `count` polls; false when `limit`
  // passes first.
  bool wait_reports(std::uint64_t count, std::chrono::milliseconds limit);
  PollTally polls() const;

  // A control command carried out on the bus between two poll requests,
  // with the faults the simulator struck its write with; nothing when it has
  // not run within `limit`.
  struct CommandRun {
    cli::CommandOutcome outcome;
    std::array<std::uint64_t, sim::kFaultKinds> struck{};  // by FaultKind
  };
  std::optional<CommandRun> command(const cli::CommandAction& action, int value,
                                    std::chrono::milliseconds limit);

  const RecordLog& published() const { return published_; }
  const RecordLog& stored() const { return stored_; }

 private:
  class Controller;

  cli::PluginLibrary plugin_;
  std::unique_ptr<sim::Server> server_;
  sitehost::Publisher publisher_;
  sitehost::ThresholdService thresholds_{nullptr};
  std::unique_ptr<sitehost::HistoryWriter> history_;
  RecordLog published_;
  RecordLog stored_;
  std::shared_ptr<Controller> controller_;
  std::unique_ptr<ORBSPDevice> device_;
  std::unique_ptr<sitehost::BusWorker> bus_;

  mutable std::mutex mutex_;
  std::condition_variable reported_;
  PollTally polls_;
};

}  // namespace velmocair::robustness
