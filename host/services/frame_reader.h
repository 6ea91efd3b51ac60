#pragma once

#include <chrono>
#include <cstddef>
#include <string>
#include <vector>

#include "host/services/line_wait.h"

namespace sitehost {

// How waiting for one reply frame on a descriptor ended.
struct FrameRead {
  enum Outcome : unsigned char {
    frame,    // a frame: RTU well formed (shape and CRC), TCP whole by its MBAP length
    silence,  // no byte by the deadline, or on a serial line only stray bytes too few for a frame
    broken,   // bytes that make no frame
    closed,   // TCP: the peer closed the connection (end of file or reset)
    gone,     // a serial device hung up or failed: it is gone
    failed,   // the descriptor failed
    stopped,  // the stop signal was raised
  };

  Outcome outcome = silence;
  std::vector<unsigned char> bytes;  // the frame, or what arrived of it
  std::string why;                   // broken, gone, failed
  LineClock::time_point last_byte;   // when the last of `bytes` was read
};

// Where a well-formed RTU frame lies in a run of bytes: a reply shape its
// function code (and byte count) tells, closed by a good CRC.
struct FoundFrame {
  std::size_t at = 0;
  std::size_t length = 0;  // 0: none

  bool found() const { return length > 0; }
};

// The first well-formed RTU frame starting at or after `from`; with
// `at_end`, only one that ends with `bytes`.
FoundFrame find_rtu_frame(const std::vector<unsigned char>& bytes, std::size_t from, bool at_end);

// Reads Modbus RTU frames the serial line's way: a silence of 1.5
// characters (`frame_end`) ends a frame, and a run of bytes that makes no
// frame is dropped. Adapters blur the timing of a line, so a frame is also
// looked for inside what was read: one that ends with the last byte is
// taken at once, and when a silence ends a run, the first anywhere in it.
// Bytes after a frame are kept for the next call.
class RtuFramer {
 public:
  // A run of bytes in progress at a deadline may go on for `run_grace`. A
  // run from unit address `unit` (-1: none) as long as the frame its head
  // tells that makes no frame is a broken reply at once.
  RtuFramer(int fd, int stop_fd, LineClock::duration frame_end, LineClock::duration run_grace,
            int unit = -1)
      : fd_(fd), stop_fd_(stop_fd), frame_end_(frame_end), run_grace_(run_grace), unit_(unit) {}

  // The next frame by `deadline` (a run then in progress may end later).
  // Bytes left at the deadline that make no frame: broken when one run of
  // them was as long as the shortest frame, else (a glitch) silence.
  FrameRead next(LineClock::time_point deadline);
  // Bytes read that made no frame, and bytes read after the last frame.
  std::size_t dropped() const { return dropped_; }
  std::size_t left() const { return bytes_.size(); }

 private:
  FrameRead take(FoundFrame found);
  FrameRead give_up(FrameRead::Outcome outcome, std::string why);

  int fd_;
  int stop_fd_;
  LineClock::duration frame_end_;
  LineClock::duration run_grace_;
  int unit_;
  std::vector<unsigned char> bytes_;  // read and not yet taken or dropped
  LineClock::time_point last_byte_;
  std::size_t run_ = 0;          // bytes of the run in progress (the last run_ of bytes_)
  std::size_t longest_run_ = 0;  // the longest run among bytes_
  bool run_ended_ = true;        // a silence followed the last byte
  std::size_t dropped_ = 0;
};

// Reads one Modbus/TCP frame (MBAP header, PDU), its length told by the
// MBAP length: the first byte by `first_byte`, each later one within
// `byte_gap` of the one before. Reads no byte beyond the frame.
FrameRead read_tcp_frame(int fd, int stop_fd, LineClock::time_point first_byte,
                         LineClock::duration byte_gap);

// How waiting for a silent line ended.
struct Quiet {
  bool silent = false;               // false: the line kept talking until `give_up`, or failed
  bool stopped = false;              // the stop signal was raised
  std::vector<unsigned char> bytes;  // read and thrown away
  LineClock::time_point last_byte;   // when the last of them was read
};

// Reads and discards until nothing has arrived for `silence` since `since`
// (or since the last byte discarded), giving up at `give_up`.
Quiet wait_for_silence(int fd, int stop_fd, LineClock::time_point since,
                       LineClock::duration silence, LineClock::time_point give_up);

// Reads and discards what is waiting on a socket now, without waiting.
std::size_t discard_pending(int fd);

}  // namespace sitehost
