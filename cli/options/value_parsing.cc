#include "cli/options/value_parsing.h"

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <iterator>
#include <string>

#include "cli/options/exit_status.h"
#include "host/services/line_settings.h"

namespace velmocair::cli {
namespace {

using sitehost::kBaudRates;
using sitehost::kParityNames;
using sitehost::ParityName;

struct UnitName {
  const char* suffix;
  std::int64_t factor;
};

// clang-format off
// suffix  seconds
constexpr UnitName kDurationUnits[] = {
    {"s", 1},
    {"m", 60},
    {"h", 3600},
    {"d", 86400},
    {"w", 604800},
};
// suffix  bytes
constexpr UnitName kSizeUnits[] = {
    {"B",   1},
    {"kB",  1000},                {"KB",  1000},
    {"MB",  1000000},
    {"GB",  1000000000},
    {"TB",  1000000000000},
    {"KiB", 1024},
    {"MiB", 1048576},
    {"GiB", 1073741824},
    {"TiB", 1099511627776},
};
// clang-format on

// Whether two words are equal but for the case of their letters.
bool same_letters(const std::string& text, const char* word) {
  const std::size_t length = std::strlen(word);
  if (text.size() != length) {
    return false;
  }
  for (std::size_t at = 0; at < length; ++at) {
    if (std::tolower(static_cast<unsigned char>(text[at])) !=
        std::tolower(static_cast<unsigned char>(word[at]))) {
      return false;
    }
  }
  return true;
}

// The factor of `suffix` in `units` (in any case), or 0.
template <std::size_t N>
std::int64_t factor_of(const std::string& suffix, const UnitName (&units)[N]) {
  for (const UnitName& unit : units) {
    if (same_letters(suffix, unit.suffix)) {
      return unit.factor;
    }
  }
  return 0;
}

// Reads `digits` decimal digits at `at` of `text`; -1 when they are not.
int digits_at(const std::string& text, std::size_t at, std::size_t digits) {
  if (at + digits > text.size()) {
    return -1;
  }
  int value = 0;
  for (std::size_t i = at; i < at + digits; ++i) {
    if (text[i] < '0' || text[i] > '9') {
      return -1;
    }
    value = value * 10 + (text[i] - '0');
  }
  return value;
}

bool leap_year(int year) { return (year % 4 == 0 && year % 100 != 0) || year % 400 == 0; }

int days_in_month(int year, int month) {
  constexpr int kDays[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  return month == 2 && leap_year(year) ? 29 : kDays[month - 1];
}

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

std::int64_t parse_duration(const std::string& text, const std::string& what) {
  const UsageError bad(what + ": expected a whole number and s, m, h, d or w (for instance 30d), " +
                       "from 1m to 3650d, got '" + text + "'");
  std::size_t digits = 0;
  while (digits < text.size() && text[digits] >= '0' && text[digits] <= '9') {
    ++digits;
  }
  const std::int64_t factor = factor_of(text.substr(digits), kDurationUnits);
  constexpr std::size_t kMaxDigits = 9;
  if (digits == 0 || digits > kMaxDigits || factor == 0) {
    throw bad;
  }
  const std::int64_t seconds = std::stoll(text.substr(0, digits)) * factor;
  if (seconds < kMinKeepSeconds || seconds > kMaxKeepSeconds) {
    throw bad;
  }
  return seconds;
}

std::int64_t parse_size(const std::string& text, const std::string& what) {
  const UsageError bad(what + ": expected a size such as 500MB or 2GiB (B, kB, MB, GB, TB, KiB, " +
                       "MiB, GiB, TiB), at least 1MB, got '" + text + "'");
  char* end = nullptr;
  const double number = std::strtod(text.c_str(), &end);
  if (end == text.c_str() || text[0] < '0' || text[0] > '9') {
    throw bad;
  }
  const std::int64_t factor = factor_of(std::string(end), kSizeUnits);
  const double bytes = number * static_cast<double>(factor);
  if (factor == 0 || !(bytes >= static_cast<double>(kMinHistoryBytes) &&
                       bytes <= static_cast<double>(kMaxHistoryBytes))) {
    throw bad;
  }
  return static_cast<std::int64_t>(bytes);
}

std::string parse_local_time(const std::string& text, const std::string& what) {
  const UsageError bad(what + ": expected a local time YYYY-MM-DD[ HH:MM[:SS]], got '" + text +
                       "'");
  constexpr std::size_t kDateLength = sizeof "YYYY-MM-DD" - 1;
  constexpr std::size_t kMinuteLength = sizeof "YYYY-MM-DD HH:MM" - 1;
  constexpr std::size_t kSecondLength = sizeof "YYYY-MM-DD HH:MM:SS" - 1;
  const std::size_t length = text.size();
  if ((length != kDateLength && length != kMinuteLength && length != kSecondLength) ||
      text[4] != '-' || text[7] != '-' ||
      (length > kDateLength && ((text[10] != ' ' && text[10] != 'T') || text[13] != ':')) ||
      (length == kSecondLength && text[16] != ':')) {
    throw bad;
  }
  const int year = digits_at(text, 0, 4);
  const int month = digits_at(text, 5, 2);
  const int day = digits_at(text, 8, 2);
  const int hour = length > kDateLength ? digits_at(text, 11, 2) : 0;
  const int minute = length > kDateLength ? digits_at(text, 14, 2) : 0;
  const int second = length == kSecondLength ? digits_at(text, 17, 2) : 0;
  constexpr int kMonths = 12;
  constexpr int kHours = 24;
  constexpr int kMinutes = 60;
  if (year < 0 || month < 1 || month > kMonths || day < 1 || day > days_in_month(year, month) ||
      hour < 0 || hour >= kHours || minute < 0 || minute >= kMinutes || second < 0 ||
      second >= kMinutes) {
    throw bad;
  }
  // Room for any int, though the checks above keep each field to its digits.
  char stored[64];
  std::snprintf(stored, sizeof stored, "%04d-%02d-%02d %02d:%02d:%02d", year, month, day, hour,
                minute, second);
  return stored;
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

const char* parity_name(char code) {
  for (const ParityName& parity : kParityNames) {
    if (parity.code == code) {
      return parity.name;
    }
  }
  return "?";
}

std::vector<std::string> split_list(const std::string& text, const std::string& what) {
  std::vector<std::string> items;
  std::size_t start = 0;
  while (start <= text.size()) {
    const std::size_t comma = std::min(text.find(',', start), text.size());
    if (comma == start) {
      throw UsageError(what + ": expected a list such as A,B,C without empty items, got '" + text +
                       "'");
    }
    items.push_back(text.substr(start, comma - start));
    start = comma + 1;
  }
  return items;
}

std::vector<int> parse_unit_ids(const std::string& text, const std::string& what) {
  const std::string expected = what + ": expected unit addresses such as 1,5,9-12 within " +
                               std::to_string(kMinUnitId) + ".." + std::to_string(kMaxUnitId) +
                               ", got '" + text + "'";
  std::vector<int> unit_ids;
  for (const std::string& item : split_list(text, what)) {
    const std::size_t dash = item.find('-');
    const std::string first_text = item.substr(0, dash);
    const std::string last_text = dash == std::string::npos ? first_text : item.substr(dash + 1);
    if (first_text == "0") {
      throw UsageError(what + ": 0 is the broadcast address, never probed; give addresses within " +
                       std::to_string(kMinUnitId) + ".." + std::to_string(kMaxUnitId));
    }
    int first = 0;
    int last = 0;
    try {
      first = parse_int(first_text, kMinUnitId, kMaxUnitId, what);
      last = parse_int(last_text, kMinUnitId, kMaxUnitId, what);
    } catch (const UsageError&) {
      throw UsageError(expected);
    }
    if (first > last) {
      throw UsageError(what + ": the range " + item + " runs backwards");
    }
    for (int unit_id = first; unit_id <= last; ++unit_id) {
      if (std::find(unit_ids.begin(), unit_ids.end(), unit_id) != unit_ids.end()) {
        throw UsageError(what + ": unit address " + std::to_string(unit_id) + " is given twice");
      }
      unit_ids.push_back(unit_id);
    }
  }
  return unit_ids;
}

char parse_parity(const std::string& text, const std::string& what) {
  for (const ParityName& parity : kParityNames) {
    if (same_letters(text, parity.name)) {
      return parity.code;
    }
  }
  throw UsageError(what + ": expected none, even or odd, got '" + text + "'");
}

}  // namespace velmocair::cli
