#pragma once

#include <chrono>
#include <cstddef>
#include <string>
#include <vector>

namespace sitehost {

using LineClock = std::chrono::steady_clock;

// How waiting for one reply frame on a descriptor ended.
struct FrameRead {
  enum Outcome : unsigned char {
    frame,    // a whole frame by its length; its checksum or header is not yet judged
    silence,  // no byte by the deadline
    broken,   // bytes that cannot make a frame: cut short, or of no known shape
    closed,   // the peer closed the connection (end of file or reset)
    failed,   // the descriptor failed
  };

  Outcome outcome = silence;
  std::vector<unsigned char> bytes;  // the frame, or what arrived of it
  std::string why;                   // broken, failed
  LineClock::time_point last_byte;   // when the last of `bytes` was read
};

// Reads one Modbus RTU reply frame (unit address, PDU, CRC), its length told
// by the function code and byte count. The first byte must come by
// `first_byte`, each later one within `byte_gap` of the one before. Reads no
// byte beyond the frame.
FrameRead read_rtu_frame(int fd, LineClock::time_point first_byte, LineClock::duration byte_gap);

// Reads one Modbus/TCP reply frame (MBAP header, PDU), its length told by the
// MBAP length, with the same bounds.
FrameRead read_tcp_frame(int fd, LineClock::time_point first_byte, LineClock::duration byte_gap);

// How waiting for a silent line ended.
struct Quiet {
  bool silent = false;              // false: the line kept talking until `give_up`, or failed
  std::size_t discarded = 0;        // bytes read and thrown away
  LineClock::time_point last_byte;  // when the last of them was read
};

// Reads and discards until nothing has arrived for `silence` since `since`
// (or since the last byte discarded), giving up at `give_up`.
Quiet wait_for_silence(int fd, LineClock::time_point since, LineClock::duration silence,
                       LineClock::time_point give_up);

}  // namespace sitehost
