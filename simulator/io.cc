#include "simulator/io.h"

#include <poll.h>
#include <sys/eventfd.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <stdexcept>
#include <utility>

namespace velmocair::sim {

FileDescriptor::~FileDescriptor() {
  if (fd_ >= 0) {
    ::close(fd_);
  }
}

FileDescriptor::FileDescriptor(FileDescriptor&& other) noexcept
    : fd_(std::exchange(other.fd_, -1)) {}

FileDescriptor& FileDescriptor::operator=(FileDescriptor&& other) noexcept {
  if (this != &other) {
    if (fd_ >= 0) {
      ::close(fd_);
    }
    fd_ = std::exchange(other.fd_, -1);
  }
  return *this;
}

StopSignal::StopSignal() : event_(::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK)) {
  if (!event_) {
    throw std::runtime_error(system_error_text("cannot create an event descriptor"));
  }
}

void StopSignal::raise() {
  const std::uint64_t one = 1;
  // The counter only needs to become non-zero; a full counter is raised too.
  [[maybe_unused]] const ssize_t written = ::write(event_.get(), &one, sizeof one);
}

Wait StopSignal::wait_readable(int fd, std::chrono::nanoseconds timeout) const {
  pollfd fds[] = {
      {event_.get(), POLLIN, 0},
      {fd,           POLLIN, 0}
  };
  const auto seconds = std::chrono::duration_cast<std::chrono::seconds>(timeout);
  const timespec span{static_cast<time_t>(seconds.count()),
                      static_cast<long>((timeout - seconds).count())};
  while (true) {
    const int ready = ::ppoll(fds, fd < 0 ? 1 : 2, timeout.count() < 0 ? nullptr : &span, nullptr);
    if (ready < 0 && errno == EINTR) {
      continue;
    }
    if (ready < 0 || (fds[0].revents & POLLIN) != 0) {
      return Wait::stopped;
    }
    return ready == 0 ? Wait::timed_out : Wait::ready;
  }
}

bool StopSignal::sleep_until(Clock::time_point deadline) const {
  while (true) {
    const auto left = deadline - Clock::now();
    if (left.count() <= 0) {
      return true;
    }
    if (wait_readable(-1, left) == Wait::stopped) {
      return false;
    }
  }
}

bool write_all(int fd, bool socket, const std::uint8_t* data, std::size_t length) {
  while (length > 0) {
    const ssize_t sent =
        socket ? ::send(fd, data, length, MSG_NOSIGNAL) : ::write(fd, data, length);
    if (sent < 0 && errno == EINTR) {
      continue;
    }
    if (sent <= 0) {
      return false;
    }
    data += sent;
    length -= static_cast<std::size_t>(sent);
  }
  return true;
}

std::string system_error_text(const std::string& reason) {
  return reason + ": " + std::strerror(errno);
}

}  // namespace velmocair::sim
