#pragma once

#include <algorithm>
#include <chrono>

namespace sitehost {

// Paces the attempts to open one bus: after a failed attempt the next waits
// kFirstDelay, each further failure doubles the wait up to kMaxDelay, and a
// successful open ends the series.
class ConnectBackoff {
 public:
  using Clock = std::chrono::steady_clock;
  static constexpr std::chrono::milliseconds kFirstDelay{500};
  static constexpr std::chrono::milliseconds kMaxDelay{30000};

  // True while an attempt at `now` must wait.
  bool waiting(Clock::time_point now) const { return now < next_attempt_; }
  // The earliest time of the next attempt (the clock's epoch when none waits).
  Clock::time_point next_attempt() const { return next_attempt_; }

  // Records a failed attempt at `now`; true when it starts a series.
  bool failed(Clock::time_point now) {
    const bool first = delay_ == Clock::duration::zero();
    delay_ =
        first ? Clock::duration(kFirstDelay) : std::min(2 * delay_, Clock::duration(kMaxDelay));
    next_attempt_ = now + delay_;
    return first;
  }
  void succeeded() {
    delay_ = Clock::duration::zero();
    next_attempt_ = Clock::time_point();
  }

 private:
  Clock::duration delay_ = Clock::duration::zero();
  Clock::time_point next_attempt_;
};

}  // namespace sitehost
