#pragma once

#include <chrono>

namespace sitehost {

using LineClock = std::chrono::steady_clock;

// A signal another thread raises to end a wait on the line at once: the
// master's waits watch it beside the line's descriptor. Raised, it stays
// raised.
class StopSignal {
 public:
  StopSignal();
  ~StopSignal();
  StopSignal(const StopSignal&) = delete;
  StopSignal& operator=(const StopSignal&) = delete;

  // Safe from any thread.
  void raise();
  bool raised() const;
  int fd() const { return fd_; }

 private:
  int fd_;
};

// How waiting for a byte ended.
enum class Wait : unsigned char {
  ready,      // a byte (or the end of a TCP connection) can be read
  timed_out,  // nothing by the deadline
  stopped,    // the stop signal was raised
  hung_up,    // the device hung up or reported an error
  failed,     // the wait itself failed
};

// Waits until `fd` can be read, `stop_fd` (unless negative) is raised, or
// `deadline` passes; a signal interrupting the wait does not end it.
Wait wait_readable(int fd, int stop_fd, LineClock::time_point deadline);

// Whether `fd` reports a hang-up or an error now: a terminal that hung up
// reads as readable with no bytes, so a read of 0 bytes asks this.
bool hung_up(int fd);

}  // namespace sitehost
