#include "host/services/line_wait.h"

#include <poll.h>
#include <sys/eventfd.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <ctime>

namespace sitehost {

StopSignal::StopSignal() : fd_(::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK)) {}

StopSignal::~StopSignal() {
  if (fd_ >= 0) {
    ::close(fd_);
  }
}

void StopSignal::raise() {
  const std::uint64_t one = 1;
  // Only a counter at its limit refuses the write, and it is raised then.
  [[maybe_unused]] const ssize_t written = ::write(fd_, &one, sizeof one);
}

bool StopSignal::raised() const {
  pollfd watched{fd_, POLLIN, 0};
  return ::poll(&watched, 1, 0) > 0;
}

Wait wait_readable(int fd, int stop_fd, LineClock::time_point deadline) {
  while (true) {
    const auto left = std::max(LineClock::duration::zero(), deadline - LineClock::now());
    const auto seconds = std::chrono::duration_cast<std::chrono::seconds>(left);
    const timespec span{
        static_cast<time_t>(seconds.count()),
        static_cast<long>(
            std::chrono::duration_cast<std::chrono::nanoseconds>(left - seconds).count())};
    pollfd watched[2] = {
        {fd,      POLLIN, 0},
        {stop_fd, POLLIN, 0}
    };
    const int ready = ::ppoll(watched, stop_fd >= 0 ? 2 : 1, &span, nullptr);
    if (ready < 0 && errno == EINTR) {
      continue;
    }
    if (ready < 0) {
      return Wait::failed;
    }
    if (ready == 0) {
      return Wait::timed_out;
    }
    if (stop_fd >= 0 && (watched[1].revents & POLLIN) != 0) {
      return Wait::stopped;
    }
    // A byte still waiting is read before a hang-up is believed.
    if ((watched[0].revents & POLLIN) != 0) {
      return Wait::ready;
    }
    return Wait::hung_up;
  }
}

bool hung_up(int fd) {
  pollfd watched{fd, POLLIN, 0};
  return ::poll(&watched, 1, 0) > 0 && (watched.revents & (POLLHUP | POLLERR | POLLNVAL)) != 0;
}

}  // namespace sitehost
