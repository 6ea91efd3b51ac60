#pragma once

#include <chrono>
#include <cstddef>

#include "host/services/bus_address.h"

namespace sitehost {

// A unit may begin its reply this long after the line fell silent behind the
// request; the drain after a failure and the default time-out allow for it.
inline constexpr std::chrono::milliseconds kTurnaroundAllowance{100};
// The response time-out never falls below this when it follows the line.
inline constexpr std::chrono::milliseconds kMinResponseTimeout{500};

// Bits one character takes on the line: a start bit, the data bits, a parity
// bit unless the parity is none, and the stop bits.
int character_bits(const SerialLine& line);

// Time `bytes` characters take on the line, back to back.
std::chrono::nanoseconds wire_time(const SerialLine& line, std::size_t bytes);

// The silence that ends a frame and must come before the next: 3.5
// characters, or a fixed 1.75 ms on lines faster than 19200 baud.
std::chrono::nanoseconds frame_silence(const SerialLine& line);

// After a time-out or a broken frame the line must stay silent this long
// before the next request: a frame silence plus the turnaround allowance.
std::chrono::nanoseconds drain_silence(const SerialLine& line);

// The time an exchange of `exchange_bytes` (request and reply) needs from
// the start of sending: both frames on the wire, the two frame silences and
// the turnaround allowance, rounded up to whole milliseconds.
std::chrono::milliseconds exchange_allowance(const SerialLine& line, std::size_t exchange_bytes);

// The response time-out when none is given: the exchange allowance of
// `exchange_bytes`, and at least kMinResponseTimeout.
std::chrono::milliseconds default_response_timeout(const SerialLine& line,
                                                   std::size_t exchange_bytes);

}  // namespace sitehost
