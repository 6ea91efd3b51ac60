#pragma once

#include <string>

namespace sitehost {

// Holds a serial device for this process: its own descriptor of the device
// with an exclusive flock, the advisory lock that another velmocair-host
// and pyserial's exclusive mode take and honour. It lives beside the
// descriptor the Modbus library opens, which is made exclusive (TIOCEXCL) so
// that no program without the privilege to override it opens the device.
class SerialPortLock {
 public:
  SerialPortLock() = default;
  ~SerialPortLock() { release(); }
  SerialPortLock(const SerialPortLock&) = delete;
  SerialPortLock& operator=(const SerialPortLock&) = delete;

  enum class Outcome : unsigned char { taken, in_use, not_serial, failed };
  // Takes the device; otherwise `why` says why ("in use by process 1234
  // (velmocair-host)", "not a serial port", or the system's reason).
  Outcome take(const std::string& device, std::string& why);
  void release();
  bool held() const { return fd_ >= 0; }
  // Whether the device held is the one `device` names now (not one that
  // went, and came back under that name).
  bool holds(const std::string& device) const;

 private:
  int fd_ = -1;
};

// Makes the open terminal `fd` exclusive, or ordinary again, so that the
// exclusive mode does not outlive this process's use of the device.
void set_terminal_exclusive(int fd, bool exclusive);

}  // namespace sitehost
