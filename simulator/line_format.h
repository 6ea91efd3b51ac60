#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <vector>

namespace velmocair::sim {

// How characters cross a serial line: the rate and the character format.
struct LineFormat {
  int baud = 0;
  char parity = 'N';  // 'N', 'E' or 'O'
  int data_bits = 8;
  int stop_bits = 1;

  bool operator==(const LineFormat& other) const {
    return baud == other.baud && parity == other.parity && data_bits == other.data_bits &&
           stop_bits == other.stop_bits;
  }
  bool operator!=(const LineFormat& other) const { return !(*this == other); }
};

// The bytes a UART set to `read` receives when `bytes` are sent back to back
// at `sent`: it finds each start bit by the line falling from idle, samples
// every bit in its middle, and takes a character whose parity or stop bit is
// wrong as 0 when it checks parity, else as it read it (Linux with INPCK and
// neither IGNPAR nor PARMRK, as libmodbus sets a line with parity). Equal
// formats give the bytes back.
std::vector<std::uint8_t> resample(const std::uint8_t* bytes, std::size_t length,
                                   const LineFormat& sent, const LineFormat& read);

// The format a master set on the terminal `fd` (the pseudo-terminal's slave
// side), none when its rate is not one a serial line is set to. A
// pseudo-terminal clears PARENB and keeps 8 data bits whatever the master
// asks, so the parity is read from INPCK and PARODD, which libmodbus sets
// with it.
std::optional<LineFormat> terminal_format(int fd);

// Whether a serial line can be set to `baud`.
bool is_line_rate(int baud);

}  // namespace velmocair::sim
