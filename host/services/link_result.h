#pragma once

#include <string>

namespace sitehost {

// Outcome of one Modbus exchange as the host's master reports it: an error
// is a value with a text for the host's error lines.
struct LinkResult {
  enum Status : unsigned char {
    ok,
    no_reply,      // nothing (or not all of a frame) within the response time-out
    broken_frame,  // a reply that does not frame or decode as the answer
    exception,     // the unit answered with an exception code
    link_down,     // the bus could not be opened, or the connection was lost
  };

  Status status = ok;
  std::string text;

  bool is_ok() const { return status == ok; }
  static LinkResult success() { return {}; }
  static LinkResult failure(Status status, std::string text) { return {status, std::move(text)}; }
};

}  // namespace sitehost
