#pragma once

#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <functional>
#include <future>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "host/SPModbus.h"
#include "host/services/link_counters.h"
#include "host/services/link_result.h"
#include "host/services/modbus_link.h"
#include "host/services/unit_controller.h"

namespace sitehost {

// A unit on a bus. The host owns the device and its controller.
struct BusUnit {
  std::string name;
  SPModbus* device;
  const UnitController* controller;
};

// How one unit's poll cycle in one round ended.
struct CycleReport {
  std::size_t unit;  // index into the bus's units
  int round;         // 1 for the first round
  bool completed;
  std::string failure;  // why it did not complete
  LinkCounters link;    // the unit's counts once the cycle ended
};

struct BusSchedule {
  int rounds = -1;                           // rounds to poll; -1 until stopped
  std::chrono::milliseconds interval{1000};  // from the start of one round to the next
};

// Work run on the bus thread between poll requests: it may call the device
// and carry out the exchange the device then has outstanding.
using CarryOut = std::function<LinkResult()>;
using BusJob = std::function<void(SPModbus& device, const CarryOut& carry_out)>;

// One thread per bus carries out the exchanges of all its units, one at a
// time. Each round polls every unit once, in order; a unit that does not
// answer costs the round its time-out and no more, because the device
// abandons its cycle on the first failed exchange. A round waits for the
// link's back-off after a failed open as well as for the interval. Jobs (commands) queued
// for a unit run between two poll requests; a job that makes a unit's device
// abandon its cycle in progress has that unit polled again in the same round.
// After its rounds the bus goes on running jobs until stopped.
class BusWorker {
 public:
  using CycleSink = std::function<void(const CycleReport&)>;

  BusWorker(std::unique_ptr<ModbusLink> link, std::vector<BusUnit> units, BusSchedule schedule,
            CycleSink on_cycle);
  ~BusWorker();
  BusWorker(const BusWorker&) = delete;
  BusWorker& operator=(const BusWorker&) = delete;

  void start();
  // Ends the exchange in progress at once, then the thread.
  void stop();
  // True once every round has been polled (or the bus was stopped).
  bool rounds_done() const;

  // Queues a job for one of the bus's units; the future is ready once it ran
  // (or broken when the bus stopped first).
  std::future<void> submit(std::size_t unit, BusJob job);
  // Starts the next round at `at` (or once the round in progress is over)
  // unless the interval starts it sooner, so that a command's effect is
  // read back without waiting for the interval.
  void poll_at(std::chrono::steady_clock::time_point at);

  const std::vector<BusUnit>& units() const { return units_; }
  const ModbusLink& link() const { return *link_; }

 private:
  struct QueuedJob {
    std::size_t unit;
    BusJob job;
    std::promise<void> done;
  };
  enum class PollEnd : unsigned char { completed, failed, interrupted };

  void run();
  void poll_unit(std::size_t unit, int round);
  PollEnd poll_once(BusUnit& unit, std::string& failure);
  LinkResult carry_out(BusUnit& unit);
  void run_jobs();
  // Waits until `until` (without one: until stopped), running jobs as they
  // arrive; false once stopped.
  bool idle_until(std::optional<std::chrono::steady_clock::time_point> until);
  bool stopping() const;

  std::unique_ptr<ModbusLink> link_;
  std::vector<BusUnit> units_;
  BusSchedule schedule_;
  CycleSink on_cycle_;
  std::vector<unsigned char> pdu_;

  mutable std::mutex mutex_;
  std::condition_variable wake_;
  std::vector<QueuedJob> jobs_;
  bool stop_ = false;
  std::optional<std::chrono::steady_clock::time_point> round_at_;  // poll_at()
  bool rounds_done_ = false;
  std::thread thread_;
};

}  // namespace sitehost
