#pragma once

#include <chrono>
#include <cstdint>
#include <map>

namespace sitehost {

// What one bus's Modbus master has met on its line since it was made. The
// bus thread keeps it; a job submitted to the bus reads a consistent copy.
struct LinkCounters {
  std::uint64_t requests = 0;  // requests put on the line, requests sent again included
  std::uint64_t replies = 0;   // frames of the addressed unit taken as the reply
  std::map<unsigned, std::uint64_t> exceptions;  // exception replies among them, by code
  std::uint64_t timeouts = 0;           // no reply of the addressed unit within the time-out
  std::uint64_t broken_frames = 0;      // bytes that made no valid frame (CRC, MBAP, cut short)
  std::uint64_t other_unit_frames = 0;  // valid frames from another unit address, set aside
  std::uint64_t stray_frames =
      0;                          // valid frames of the unit that answer no such request, set aside
  std::uint64_t stale_bytes = 0;  // bytes discarded before a request or after a failure
  std::uint64_t resends = 0;      // requests sent again after the peer closed the connection
  std::uint64_t reconnects = 0;   // successful opens after the first
  std::uint64_t open_failures = 0;
  std::chrono::microseconds response_time_total{0};  // from sending to the reply's last byte
  std::chrono::microseconds response_time_max{0};
  std::uint64_t cycles_completed = 0;
  std::uint64_t cycles_failed = 0;
};

}  // namespace sitehost
