#pragma once

#include <string>

namespace sitehost {

// Line settings of a serial bus. A baud rate of 0 takes the rate the units on
// the line resolved from their configuration.
struct SerialLine {
  std::string device;
  int baud = 0;
  char parity = 'N';  // 'N', 'E' or 'O'
  int data_bits = 8;
  int stop_bits = 1;
};

struct TcpEndpoint {
  std::string host;
  int port = 0;
};

// Where a bus is: a serial device carrying Modbus RTU, or a Modbus/TCP
// endpoint. Units with equal addresses share one bus.
struct BusAddress {
  enum Kind : unsigned char { tcp, rtu };

  Kind kind = tcp;
  TcpEndpoint endpoint;
  SerialLine line;

  // "tcp HOST:PORT" or "rtu DEVICE": names the bus in messages and groups
  // units onto buses.
  std::string name() const {
    return kind == tcp ? "tcp " + endpoint.host + ":" + std::to_string(endpoint.port)
                       : "rtu " + line.device;
  }
};

}  // namespace sitehost
