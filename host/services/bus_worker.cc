#include "host/services/bus_worker.h"

#include <algorithm>
#include <exception>
#include <stdexcept>

namespace sitehost {
namespace {

// A cycle is 20 exchanges; a device still asking after this many is cut off.
constexpr int kMaxExchangesPerCycle = 100;
// Polls of one unit in one round while jobs keep interrupting its cycle.
constexpr int kMaxPollsPerRound = 3;

}  // namespace

BusWorker::BusWorker(std::unique_ptr<ModbusLink> link, std::vector<BusUnit> units,
                     BusSchedule schedule, CycleSink on_cycle)
    : link_(std::move(link)),
      units_(std::move(units)),
      schedule_(schedule),
      on_cycle_(std::move(on_cycle)) {}

BusWorker::~BusWorker() { stop(); }

void BusWorker::start() {
  thread_ = std::thread([this] { run(); });
}

void BusWorker::stop() {
  {
    const std::lock_guard<std::mutex> lock(mutex_);
    stop_ = true;
  }
  link_->interrupt();
  wake_.notify_all();
  if (thread_.joinable()) {
    thread_.join();
  }
  // Jobs that never ran are dropped: their futures report a broken promise.
  std::vector<QueuedJob> dropped;
  const std::lock_guard<std::mutex> lock(mutex_);
  dropped.swap(jobs_);
}

bool BusWorker::rounds_done() const {
  const std::lock_guard<std::mutex> lock(mutex_);
  return rounds_done_;
}

bool BusWorker::stopping() const {
  const std::lock_guard<std::mutex> lock(mutex_);
  return stop_;
}

std::future<void> BusWorker::submit(std::size_t unit, BusJob job) {
  QueuedJob queued{unit, std::move(job), {}};
  std::future<void> done = queued.done.get_future();
  if (unit >= units_.size()) {
    queued.done.set_exception(std::make_exception_ptr(std::out_of_range("no such unit")));
    return done;
  }
  {
    const std::lock_guard<std::mutex> lock(mutex_);
    if (stop_) {
      return done;  // broken once `queued` goes
    }
    jobs_.push_back(std::move(queued));
  }
  wake_.notify_all();
  return done;
}

void BusWorker::poll_at(std::chrono::steady_clock::time_point at) {
  {
    const std::lock_guard<std::mutex> lock(mutex_);
    round_at_ = round_at_ ? std::min(*round_at_, at) : at;
  }
  wake_.notify_all();
}

void BusWorker::run() {
  run_jobs();
  for (int round = 1; schedule_.rounds < 0 || round <= schedule_.rounds; ++round) {
    const auto started = std::chrono::steady_clock::now();
    for (std::size_t unit = 0; unit < units_.size() && !stopping(); ++unit) {
      poll_unit(unit, round);
    }
    run_jobs();
    // A bus that could not be opened is not tried again before its back-off
    // allows, whatever the interval.
    if (round == schedule_.rounds ||
        !idle_until(std::max(started + schedule_.interval, link_->next_open()))) {
      break;
    }
  }
  {
    const std::lock_guard<std::mutex> lock(mutex_);
    rounds_done_ = true;
  }
  idle_until(std::nullopt);
}

void BusWorker::poll_unit(std::size_t unit, int round) {
  std::string failure;
  PollEnd end = PollEnd::interrupted;
  for (int poll = 0; poll < kMaxPollsPerRound && end == PollEnd::interrupted && !stopping();
       ++poll) {
    end = poll_once(units_[unit], failure);
  }
  if (stopping()) {
    return;
  }
  if (end == PollEnd::interrupted) {
    failure = "the device ended its cycle without completing it";
  }
  const int unit_id = units_[unit].device->unit_id();
  link_->count_cycle(unit_id, end == PollEnd::completed);
  on_cycle_({unit, round, end == PollEnd::completed, failure, link_->counters(unit_id)});
}

BusWorker::PollEnd BusWorker::poll_once(BusUnit& unit, std::string& failure) {
  SPModbus& device = *unit.device;
  const std::uint64_t before = unit.controller->completions();
  LinkResult last = LinkResult::success();
  try {
    device.RefreshStatus();
    for (int exchanges = 0; device.IsProcessing() && last.is_ok(); ++exchanges) {
      run_jobs();
      if (!device.IsProcessing() || stopping()) {
        break;
      }
      if (exchanges == kMaxExchangesPerCycle) {
        device.abandon_exchange();
        last = LinkResult::failure(LinkResult::broken_frame, "the device kept asking");
        break;
      }
      last = carry_out(unit);
    }
  } catch (const std::exception& error) {
    if (device.IsProcessing()) {
      device.abandon_exchange();
    }
    last = LinkResult::failure(LinkResult::broken_frame,
                               std::string("device failed: ") + error.what());
  }
  if (unit.controller->completions() > before) {
    return PollEnd::completed;
  }
  if (!last.is_ok()) {
    failure = last.text;
    return PollEnd::failed;
  }
  return PollEnd::interrupted;
}

LinkResult BusWorker::carry_out(BusUnit& unit) {
  SPModbus& device = *unit.device;
  LinkResult result = link_->exchange(device.unit_id(), device.pending_request(), pdu_);
  if (!result.is_ok()) {
    device.abandon_exchange();
    return result;
  }
  device.process(pdu_.data(), static_cast<unsigned>(pdu_.size()));
  const ReplyDecode& decoded = device.last_reply();
  if (decoded.status == ReplyDecode::ok) {
    return result;
  }
  if (decoded.status == ReplyDecode::malformed) {
    link_->refuse_reply(device.unit_id());
  }
  return LinkResult::failure(
      decoded.status == ReplyDecode::exception ? LinkResult::exception : LinkResult::broken_frame,
      describe_reply_failure(decoded));
}

void BusWorker::run_jobs() {
  std::vector<QueuedJob> batch;
  {
    const std::lock_guard<std::mutex> lock(mutex_);
    batch.swap(jobs_);
  }
  for (QueuedJob& queued : batch) {
    BusUnit& unit = units_[queued.unit];
    try {
      queued.job(*unit.device, [this, &unit] { return carry_out(unit); });
      queued.done.set_value();
    } catch (...) {
      queued.done.set_exception(std::current_exception());
    }
  }
}

bool BusWorker::idle_until(std::optional<std::chrono::steady_clock::time_point> until) {
  std::unique_lock<std::mutex> lock(mutex_);
  while (!stop_) {
    if (!jobs_.empty()) {
      lock.unlock();
      run_jobs();
      lock.lock();
      continue;
    }
    if (!until) {
      wake_.wait(lock);
      continue;
    }
    const auto now = std::chrono::steady_clock::now();
    if (round_at_ && now >= *round_at_) {
      round_at_.reset();
      return true;
    }
    if (now >= *until) {
      return true;
    }
    wake_.wait_until(lock, round_at_ ? std::min(*until, *round_at_) : *until);
  }
  return false;
}

}  // namespace sitehost
