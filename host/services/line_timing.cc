#include "host/services/line_timing.h"

#include <algorithm>

namespace sitehost {
namespace {

constexpr int kStartBits = 1;
constexpr int kParityBits = 1;
constexpr char kNoParity = 'N';
// Above this rate the frame silence is fixed rather than 3.5 characters.
constexpr int kFixedSilenceAbove = 19200;
constexpr std::chrono::microseconds kFixedSilence{1750};
constexpr int kSilenceHalfCharacters = 7;  // 3.5 characters
constexpr std::int64_t kNanosecondsPerSecond = 1'000'000'000;

// Time of `half_characters` half characters, rounded up.
std::chrono::nanoseconds half_characters(const SerialLine& line, std::int64_t half_characters) {
  const std::int64_t bits_times_two = half_characters * character_bits(line);
  const std::int64_t divisor = 2 * std::int64_t{std::max(line.baud, 1)};
  return std::chrono::nanoseconds((bits_times_two * kNanosecondsPerSecond + divisor - 1) / divisor);
}

}  // namespace

int character_bits(const SerialLine& line) {
  return kStartBits + line.data_bits + (line.parity == kNoParity ? 0 : kParityBits) +
         line.stop_bits;
}

std::chrono::nanoseconds wire_time(const SerialLine& line, std::size_t bytes) {
  return half_characters(line, 2 * static_cast<std::int64_t>(bytes));
}

std::chrono::nanoseconds frame_silence(const SerialLine& line) {
  if (line.baud > kFixedSilenceAbove) {
    return kFixedSilence;
  }
  return half_characters(line, kSilenceHalfCharacters);
}

std::chrono::nanoseconds drain_silence(const SerialLine& line) {
  return frame_silence(line) + kTurnaroundAllowance;
}

std::chrono::milliseconds exchange_allowance(const SerialLine& line, std::size_t exchange_bytes) {
  // Up to 19200 baud the frames and their silences are counted in half
  // characters together and rounded once, so that an allowance of a whole
  // number of milliseconds is not rounded up to the next.
  const std::int64_t frame_half_characters = 2 * static_cast<std::int64_t>(exchange_bytes);
  const std::chrono::nanoseconds on_the_wire =
      line.baud > kFixedSilenceAbove
          ? wire_time(line, exchange_bytes) + 2 * kFixedSilence
          : half_characters(line, frame_half_characters + 2 * kSilenceHalfCharacters);
  return std::chrono::ceil<std::chrono::milliseconds>(on_the_wire + kTurnaroundAllowance);
}

std::chrono::milliseconds default_response_timeout(const SerialLine& line,
                                                   std::size_t exchange_bytes) {
  return std::max(kMinResponseTimeout, exchange_allowance(line, exchange_bytes));
}

}  // namespace sitehost
