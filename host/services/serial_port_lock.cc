#include "host/services/serial_port_lock.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <sstream>

namespace sitehost {
namespace {

constexpr int kHexBase = 16;
constexpr int kDecimalBase = 10;

// The name of process `pid`, or "" when it cannot be read.
std::string process_name(long pid) {
  std::ifstream comm("/proc/" + std::to_string(pid) + "/comm");
  std::string name;
  std::getline(comm, name);
  return name;
}

// The process holding a flock on `device`, from /proc/locks,
// whose lines read "1: FLOCK  ADVISORY  WRITE 1234 00:05:3 0 EOF" (a waiter
// has "->" after the number). 0 when none is found.
long flock_holder(const std::string& device_path) {
  struct stat file {};
  if (::stat(device_path.c_str(), &file) != 0) {
    return 0;
  }
  std::ifstream locks("/proc/locks");
  std::string line;
  while (std::getline(locks, line)) {
    std::istringstream fields(line);
    std::string number, type, mode, access, device;
    long pid = 0;
    fields >> number >> type >> mode >> access >> pid >> device;
    if (type != "FLOCK" || pid <= 0) {
      continue;
    }
    char* end = nullptr;
    const unsigned long major_number = std::strtoul(device.c_str(), &end, kHexBase);
    const unsigned long minor_number = *end == ':' ? std::strtoul(end + 1, &end, kHexBase) : 0;
    const unsigned long long inode = *end == ':' ? std::strtoull(end + 1, &end, kDecimalBase) : 0;
    if (major_number == major(file.st_dev) && minor_number == minor(file.st_dev) &&
        inode == static_cast<unsigned long long>(file.st_ino)) {
      return pid;
    }
  }
  return 0;
}

}  // namespace

SerialPortLock::Outcome SerialPortLock::take(const std::string& device, std::string& why) {
  release();
  // A terminal another process made exclusive refuses the open with EBUSY.
  fd_ = ::open(device.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
  // A folder cannot be opened for writing: no serial port either.
  if ((fd_ >= 0 && ::isatty(fd_) == 0) || (fd_ < 0 && errno == EISDIR)) {
    release();
    why = "not a serial port";
    return Outcome::not_serial;
  }
  const int error = fd_ < 0 ? errno : ::flock(fd_, LOCK_EX | LOCK_NB) == 0 ? 0 : errno;
  if (error == 0) {
    return Outcome::taken;
  }
  release();
  if (error != EWOULDBLOCK && error != EBUSY) {
    why = std::strerror(error);
    return Outcome::failed;
  }
  const long holder = flock_holder(device);
  why = "in use by ";
  if (holder == 0) {
    why += "another process";
  } else {
    const std::string name = process_name(holder);
    why += "process " + std::to_string(holder) + (name.empty() ? "" : " (" + name + ")");
  }
  return Outcome::in_use;
}

bool SerialPortLock::holds(const std::string& device) const {
  struct stat held {};
  struct stat named {};
  return fd_ >= 0 && ::fstat(fd_, &held) == 0 && ::stat(device.c_str(), &named) == 0 &&
         held.st_rdev == named.st_rdev && held.st_ino == named.st_ino &&
         held.st_dev == named.st_dev;
}

void SerialPortLock::release() {
  if (fd_ >= 0) {
    ::close(fd_);
    fd_ = -1;
  }
}

void set_terminal_exclusive(int fd, bool exclusive) {
  ::ioctl(fd, exclusive ? TIOCEXCL : TIOCNXCL);
}

}  // namespace sitehost
