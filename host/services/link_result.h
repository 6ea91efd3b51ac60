#pragma once

#include <string>

namespace sitehost {

// Outcome of one Modbus exchange as the host's master reports it: an error
// is a value with a text for the host's error lines.
struct LinkResult {
  enum Status : unsigned char {
    ok,
    no_reply,      // no reply of the addressed unit within the response time-out
    broken_frame,  // bytes that make no valid frame, or a reply that does not decode as the answer
    exception,     // the unit answered with an exception code
    link_down,     // the bus could not be opened, or the connection was lost
    in_use,        // the serial device is held by another process
    not_serial,    // the device is no serial port
    mode_refused,  // the serial port cannot be put in RS-485 mode
    stopped,       // the host stopped during the exchange
  };

  Status status = ok;
  std::string text;
  // A unit address whose frame came instead of the reply and was set aside
  // (0: none), so that silence can be told from another unit talking.
  int other_unit = 0;

  bool is_ok() const { return status == ok; }
  static LinkResult success() { return {}; }
  static LinkResult failure(Status status, std::string text) {
    return {status, std::move(text), 0};
  }
};

}  // namespace sitehost
