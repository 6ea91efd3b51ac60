#pragma once

#include <chrono>
#include <cstdint>
#include <map>

#include "host/services/response_times.h"

namespace sitehost {

// What a bus's Modbus master has met in the exchanges with one unit address
// since it was made. The bus thread keeps it; the reports of the unit's
// cycles carry a copy.
struct LinkCounters {
  std::uint64_t exchanges = 0;  // requests asked for, each once however often it was tried
  // Tries of an exchange: the first, each retry, each sending again after the
  // peer closed the connection. Every attempt ends in exactly one of
  // replies, timeouts, broken_frames, connection_losses, open_failures and
  // interrupted.
  std::uint64_t attempts = 0;
  std::uint64_t retries = 0;   // attempts after a time-out, a broken frame or a busy unit
  std::uint64_t resends = 0;   // attempts after the peer closed the connection
  std::uint64_t requests = 0;  // requests put on the line
  std::uint64_t replies = 0;   // frames of the unit taken as the reply, exception replies included
  std::map<unsigned, std::uint64_t> exceptions;  // exception replies among them, by code
  std::uint64_t timeouts = 0;                    // no reply of the unit within the time-out
  // Bytes that made no frame (CRC, MBAP, cut short), replies under a function
  // that answers no request, and replies the device refused.
  std::uint64_t broken_frames = 0;
  std::uint64_t connection_losses = 0;  // connections that ended or failed, serial devices gone
  // Exchanges that found the bus closed and could not open it: the attempt
  // failed, or the back-off after an earlier failure held it back.
  std::uint64_t open_failures = 0;
  std::uint64_t interrupted = 0;  // attempts ended by the host stopping
  // Replies of the unit that came after their time-out (not taken), and the
  // most any of them came late by.
  std::uint64_t late_replies = 0;
  std::chrono::microseconds most_late{0};
  std::chrono::milliseconds response_timeout{0};  // the time-out of the unit's last exchange
  std::uint64_t other_unit_frames = 0;  // serial: valid frames from another unit address, set aside
  std::uint64_t other_transactions = 0;  // TCP: frames of another transaction, dropped
  std::uint64_t stale_bytes = 0;         // bytes discarded before a request or after a failure
  std::uint64_t reconnects = 0;          // successful opens after the first
  ResponseTimes response_times;          // from sending to the reply's last byte
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
  std::uint64_t answered() const {
    const std::uint64_t refused = exception_replies();
    return replies > refused ? replies - refused : 0;
  }
};

}  // namespace sitehost
