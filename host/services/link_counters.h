#pragma once

#include <cstdint>
#include <map>

#include "host/services/response_times.h"

namespace sitehost {

// What a bus's Modbus master has met in the exchanges with one unit address
// since it was made. The bus thread keeps it; the reports of the unit's
// cycles carry a copy.
struct LinkCounters {
  std::uint64_t exchanges = 0;  // requests asked for, each once however often it was sent
  std::uint64_t requests = 0;   // requests put on the line, requests sent again included
  std::uint64_t replies = 0;    // frames of the unit taken as the reply, exception replies included
  std::map<unsigned, std::uint64_t> exceptions;  // exception replies among them, by code
  std::uint64_t timeouts = 0;                    // no reply of the unit within the time-out
  // Bytes that made no valid frame (CRC, MBAP, cut short), and replies the
  // device refused because they do not answer the request.
  std::uint64_t broken_frames = 0;
  std::uint64_t other_unit_frames = 0;  // valid frames from another unit address, set aside
  std::uint64_t stray_frames =
      0;                          // valid frames of the unit that answer no such request, set aside
  std::uint64_t stale_bytes = 0;  // bytes discarded before a request or after a failure
  std::uint64_t resends = 0;      // requests sent again after the peer closed the connection
  std::uint64_t reconnects = 0;   // successful opens after the first
  // Exchanges that found the bus closed and could not open it: the attempt
  // failed, or the back-off after an earlier failure held it back.
  std::uint64_t open_failures = 0;
  std::uint64_t connection_losses = 0;  // connections that ended or failed during an exchange
  ResponseTimes response_times;         // from sending to the reply's last byte
  std::uint64_t cycles_completed = 0;
  std::uint64_t cycles_failed = 0;

  std::uint64_t exception_replies() const {
    std::uint64_t total = 0;
    for (const auto& [code, count] : exceptions) {
      total += count;
    }
    return total;
  }
  // Exchanges whose reply was taken and was no exception.
  std::uint64_t answered() const { return replies - exception_replies(); }
};

}  // namespace sitehost
