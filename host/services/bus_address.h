#pragma once

#include <optional>
#include <string>

namespace sitehost {

// RS-485 on a port whose transceiver's direction follows RTS: the port is
// put in RS-485 mode, and RTS is set for sending and back after it, with a
// delay on either side.
struct Rs485 {
  bool enabled = false;
  bool rts_up = true;               // RTS high while sending; false: low
  std::optional<int> rts_delay_us;  // none: libmodbus's default, one character time

  bool operator==(const Rs485& other) const {
    return enabled == other.enabled && rts_up == other.rts_up && rts_delay_us == other.rts_delay_us;
  }
};

// Line settings of a serial bus. A baud rate of 0 takes the rate the units on
// the line resolved from their configuration.
struct SerialLine {
  std::string device;
  int baud = 0;
  char parity = 'N';  // 'N', 'E' or 'O'
  int data_bits = 8;
  int stop_bits = 1;
  Rs485 rs485;

  // "9600 8N1": the rate and the character format.
  std::string settings() const {
    return std::to_string(baud) + " " + std::to_string(data_bits) + parity +
           std::to_string(stop_bits);
  }

  bool operator==(const SerialLine& other) const {
    return device == other.device && baud == other.baud && parity == other.parity &&
           data_bits == other.data_bits && stop_bits == other.stop_bits && rs485 == other.rs485;
  }
};

struct TcpEndpoint {
  std::string host;
  int port = 0;

  // "HOST:PORT", as an option, a site file and a message write it.
  std::string text() const { return host + ":" + std::to_string(port); }
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
  std::string name() const { return kind == tcp ? "tcp " + endpoint.text() : "rtu " + line.device; }
};

}  // namespace sitehost
