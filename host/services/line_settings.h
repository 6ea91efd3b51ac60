#pragma once

#include <cstddef>
#include <iterator>

namespace sitehost {

// The baud rates a serial line can be set to: the termios rates libmodbus
// maps onto the line. It sets any other rate to 9600 without a word, so the
// host refuses them.
// clang-format off
// rate
inline constexpr int kBaudRates[] = {
        110,     300,     600,    1200,    2400,    4800,    9600,   19200,
      38400,   57600,  115200,  230400,  460800,  500000,  576000,  921600,
    1000000, 1152000, 1500000, 2500000, 3000000, 3500000, 4000000,
};
// clang-format on
static_assert(std::size(kBaudRates) == 23, "the rates libmodbus sets a line to");

constexpr bool ascending(const int* rates, std::size_t count) {
  for (std::size_t i = 1; i < count; ++i) {
    if (rates[i - 1] >= rates[i]) {
      return false;
    }
  }
  return true;
}
static_assert(ascending(kBaudRates, std::size(kBaudRates)), "rates ascend, each once");

// The parities by name, as a word or as its letter, and libmodbus's code.
struct ParityName {
  const char* name;
  char code;
};

// clang-format off
// name    libmodbus code
inline constexpr ParityName kParityNames[] = {
    {"none", 'N'}, {"N", 'N'},
    {"even", 'E'}, {"E", 'E'},
    {"odd",  'O'}, {"O", 'O'},
};
// clang-format on
static_assert(std::size(kParityNames) == 6, "three parities, each by word and by letter");

// Unit addresses a master polls (0 is the broadcast), TCP ports, and the
// character formats a serial line takes.
inline constexpr int kMinUnitId = 1;
inline constexpr int kMaxUnitId = 247;
inline constexpr int kMinPort = 1;
inline constexpr int kMaxPort = 65535;
inline constexpr int kMinDataBits = 5;
inline constexpr int kMaxDataBits = 8;
inline constexpr int kMinStopBits = 1;
inline constexpr int kMaxStopBits = 2;

}  // namespace sitehost
