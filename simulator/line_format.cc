#include "simulator/line_format.h"

#include <termios.h>

#include <bitset>
#include <iterator>

namespace velmocair::sim {
namespace {

constexpr bool kIdle = true;  // the line's level between characters
constexpr int kStartBits = 1;

// The rates a serial line is set to, by their termios code.
struct LineRate {
  speed_t code;
  int baud;
};

// clang-format off
// code       rate
constexpr LineRate kLineRates[] = {
    {B110,     110},     {B300,     300},     {B600,     600},     {B1200,    1200},
    {B2400,    2400},    {B4800,    4800},    {B9600,    9600},    {B19200,   19200},
    {B38400,   38400},   {B57600,   57600},   {B115200,  115200},  {B230400,  230400},
    {B460800,  460800},  {B500000,  500000},  {B576000,  576000},  {B921600,  921600},
    {B1000000, 1000000}, {B1152000, 1152000}, {B1500000, 1500000}, {B2500000, 2500000},
    {B3000000, 3000000}, {B3500000, 3500000}, {B4000000, 4000000},
};
// clang-format on
static_assert(std::size(kLineRates) == 23);

// Data bits of a termios character size.
struct CharacterSize {
  tcflag_t code;
  int bits;
};
constexpr CharacterSize kCharacterSizes[] = {
    {CS5, 5},
    {CS6, 6},
    {CS7, 7},
    {CS8, 8}
};

bool parity_bit(unsigned data, char parity) {
  const bool odd_ones = (std::bitset<8>(data).count() % 2) != 0;
  return parity == 'E' ? odd_ones : !odd_ones;
}

// The levels of the bytes on the line, one per bit time at the sender's rate.
std::vector<bool> line_levels(const std::uint8_t* bytes, std::size_t length,
                              const LineFormat& format) {
  std::vector<bool> levels;
  for (std::size_t i = 0; i < length; ++i) {
    levels.push_back(!kIdle);  // start bit
    for (int bit = 0; bit < format.data_bits; ++bit) {
      levels.push_back(((bytes[i] >> bit) & 1U) != 0);
    }
    if (format.parity != 'N') {
      levels.push_back(parity_bit(bytes[i] & ((1U << format.data_bits) - 1), format.parity));
    }
    levels.insert(levels.end(), static_cast<std::size_t>(format.stop_bits), kIdle);
  }
  return levels;
}

}  // namespace

std::vector<std::uint8_t> resample(const std::uint8_t* bytes, std::size_t length,
                                   const LineFormat& sent, const LineFormat& read) {
  if (sent == read) {
    return std::vector<std::uint8_t>(bytes, bytes + length);
  }
  // Time counts in ticks of 1 / (2 x sent rate x read rate) s: a sent bit
  // lasts 2 x read rate ticks, half a read bit sent rate ticks.
  const std::vector<bool> levels = line_levels(bytes, length, sent);
  const auto sent_bit = static_cast<std::int64_t>(2) * read.baud;
  const std::int64_t read_half_bit = sent.baud;
  const auto level_at = [&](std::int64_t tick) {
    const auto index = static_cast<std::size_t>(tick / sent_bit);
    return index < levels.size() ? static_cast<bool>(levels[index]) : kIdle;
  };
  // The middle of bit `bit` of a character starting at `start`.
  const auto middle = [&](std::int64_t start, int bit) {
    return start + (2 * bit + 1) * read_half_bit;
  };
  std::vector<std::uint8_t> received;
  std::size_t index = 0;  // the sent bit where the search for a start bit goes on
  while (true) {
    while (index < levels.size() &&
           !((index == 0 || levels[index - 1] == kIdle) && levels[index] != kIdle)) {
      ++index;
    }
    if (index >= levels.size()) {
      return received;
    }
    const std::int64_t start = static_cast<std::int64_t>(index) * sent_bit;
    if (level_at(middle(start, 0)) == kIdle) {  // a glitch, not a start bit
      ++index;
      continue;
    }
    unsigned data = 0;
    for (int bit = 0; bit < read.data_bits; ++bit) {
      data |= (level_at(middle(start, kStartBits + bit)) ? 1U : 0U) << bit;
    }
    int next = kStartBits + read.data_bits;
    bool wrong = false;
    if (read.parity != 'N') {
      wrong = level_at(middle(start, next++)) != parity_bit(data, read.parity);
    }
    const std::int64_t stop = middle(start, next);
    wrong = wrong || level_at(stop) != kIdle;
    received.push_back(static_cast<std::uint8_t>(wrong && read.parity != 'N' ? 0 : data));
    // The next start bit is looked for from the stop bit's middle on.
    index = static_cast<std::size_t>(stop / sent_bit) + 1;
  }
}

std::optional<LineFormat> terminal_format(int fd) {
  termios settings{};
  if (::tcgetattr(fd, &settings) != 0) {
    return std::nullopt;
  }
  LineFormat format;
  const speed_t speed = ::cfgetospeed(&settings);
  for (const LineRate& rate : kLineRates) {
    format.baud = rate.code == speed ? rate.baud : format.baud;
  }
  if (format.baud == 0) {
    return std::nullopt;
  }
  if ((settings.c_cflag & PARENB) != 0 || (settings.c_iflag & INPCK) != 0) {
    format.parity = (settings.c_cflag & PARODD) != 0 ? 'O' : 'E';
  }
  for (const CharacterSize& size : kCharacterSizes) {
    format.data_bits = (settings.c_cflag & CSIZE) == size.code ? size.bits : format.data_bits;
  }
  format.stop_bits = (settings.c_cflag & CSTOPB) != 0 ? 2 : 1;
  return format;
}

bool is_line_rate(int baud) {
  for (const LineRate& rate : kLineRates) {
    if (rate.baud == baud) {
      return true;
    }
  }
  return false;
}

}  // namespace velmocair::sim
