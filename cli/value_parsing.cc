#include "cli/value_parsing.h"

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdlib>
#include <iterator>

#include "cli/baud_rates.h"
#include "cli/exit_status.h"

namespace velmocair::cli {
namespace {

struct ParityName {
  const char* name;
  char code;
};

// clang-format off
// name    libmodbus code
constexpr ParityName kParities[] = {
    {"none", 'N'}, {"N", 'N'},
    {"even", 'E'}, {"E", 'E'},
    {"odd",  'O'}, {"O", 'O'},
};
// clang-format on
static_assert(std::size(kParities) == 6, "three parities, each by word and by letter");

}  // namespace

int parse_int(const std::string& text, int low, int high, const std::string& what) {
  errno = 0;
  char* end = nullptr;
  const long value = std::strtol(text.c_str(), &end, 10);
  if (text.empty() || end != text.c_str() + text.size() || errno != 0 || value < low ||
      value > high) {
    throw UsageError(what + ": expected a whole number " + std::to_string(low) + ".." +
                     std::to_string(high) + ", got '" + text + "'");
  }
  return static_cast<int>(value);
}

std::uint32_t parse_data_id(const std::string& text, const std::string& what) {
  errno = 0;
  char* end = nullptr;
  const unsigned long long value = std::strtoull(text.c_str(), &end, 10);
  if (text.empty() || text[0] == '-' || end != text.c_str() + text.size() || errno != 0 ||
      value > UINT32_MAX) {
    throw UsageError(what + ": expected a data id 0..4294967295, got '" + text + "'");
  }
  return static_cast<std::uint32_t>(value);
}

double parse_seconds(const std::string& text, double most, const std::string& what) {
  char* end = nullptr;
  const double value = std::strtod(text.c_str(), &end);
  if (text.empty() || end != text.c_str() + text.size() || !(value >= 0 && value <= most)) {
    throw UsageError(what + ": expected a number of seconds 0.." +
                     std::to_string(static_cast<int>(most)) + ", got '" + text + "'");
  }
  return value;
}

sitehost::TcpEndpoint parse_endpoint(const std::string& text, const std::string& what) {
  const std::size_t colon = text.rfind(':');
  if (colon == std::string::npos || colon == 0) {
    throw UsageError(what + ": expected HOST:PORT, got '" + text + "'");
  }
  return {text.substr(0, colon), parse_int(text.substr(colon + 1), kMinPort, kMaxPort, what)};
}

bool is_baud_rate(int rate) {
  return std::find(std::begin(kBaudRates), std::end(kBaudRates), rate) != std::end(kBaudRates);
}

std::string baud_rate_list() {
  std::string list;
  for (const int rate : kBaudRates) {
    list += (list.empty() ? "" : ", ") + std::to_string(rate);
  }
  return list;
}

int parse_baud(const std::string& text, const std::string& what) {
  errno = 0;
  char* end = nullptr;
  const long rate = std::strtol(text.c_str(), &end, 10);
  if (text.empty() || end != text.c_str() + text.size() || errno != 0 || rate <= 0 ||
      rate > INT_MAX || !is_baud_rate(static_cast<int>(rate))) {
    throw UsageError(what + ": expected a baud rate the serial line can be set to (" +
                     baud_rate_list() + "), got '" + text + "'");
  }
  return static_cast<int>(rate);
}

char parse_parity(const std::string& text, const std::string& what) {
  for (const ParityName& parity : kParities) {
    if (text == parity.name) {
      return parity.code;
    }
  }
  throw UsageError(what + ": expected none, even or odd, got '" + text + "'");
}

}  // namespace velmocair::cli
