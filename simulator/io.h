#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <string>

namespace velmocair::sim {

using Clock = std::chrono::steady_clock;

// Owns a file descriptor and closes it.
class FileDescriptor {
 public:
  FileDescriptor() = default;
  explicit FileDescriptor(int fd) : fd_(fd) {}
  ~FileDescriptor();
  FileDescriptor(FileDescriptor&& other) noexcept;
  FileDescriptor& operator=(FileDescriptor&& other) noexcept;
  FileDescriptor(const FileDescriptor&) = delete;
  FileDescriptor& operator=(const FileDescriptor&) = delete;

  int get() const { return fd_; }
  explicit operator bool() const { return fd_ >= 0; }

 private:
  int fd_ = -1;
};

enum class Wait : unsigned char { ready, timed_out, stopped };

// A flag every serving thread watches: once raised it stays raised and wakes
// every wait below.
class StopSignal {
 public:
  StopSignal();  // throws std::runtime_error
  void raise();
  // Waits until `fd` is readable, the stop is raised, or `timeout` passes
  // (negative: no time-out). A negative `fd` waits for the stop alone.
  Wait wait_readable(int fd, std::chrono::nanoseconds timeout) const;
  // Sleeps until `deadline`; false when the stop was raised first.
  bool sleep_until(Clock::time_point deadline) const;

 private:
  FileDescriptor event_;
};

// Writes all bytes to a socket (without SIGPIPE) or a terminal; false on error.
bool write_all(int fd, bool socket, const std::uint8_t* data, std::size_t length);

// "reason: strerror(errno)" for messages.
std::string system_error_text(const std::string& reason);

}  // namespace velmocair::sim
