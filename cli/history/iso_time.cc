#include "cli/history/iso_time.h"

#include <cstdio>
#include <ctime>

#include "cli/history_reading.h"

namespace velmocair::cli {
namespace {

constexpr std::size_t kStoredSize = sizeof "YYYY-MM-DD HH:MM:SS" - 1;
constexpr std::size_t kHourSize = sizeof "YYYY-MM-DD HH" - 1;
constexpr long kSecondsPerMinute = 60;
constexpr long kSecondsPerHour = 3600;
constexpr long long kSecondsPerDay = 86400;

bool stored_form(std::string_view text) {
  constexpr std::string_view kShape = "dddd-dd-dd dd:dd:dd";
  if (text.size() != kStoredSize) {
    return false;
  }
  for (std::size_t i = 0; i < kShape.size(); ++i) {
    const bool digit = text[i] >= '0' && text[i] <= '9';
    if (kShape[i] == 'd' ? !digit : text[i] != kShape[i]) {
      return false;
    }
  }
  return true;
}

int field(std::string_view text, std::size_t at, std::size_t digits) {
  int value = 0;
  for (std::size_t i = at; i < at + digits; ++i) {
    value = value * 10 + (text[i] - '0');
  }
  return value;
}

// The civil date of a count of days from 1970-01-01.
void civil_from_days(long long days, int& year, int& month, int& day) {
  constexpr long long kDaysTo1970 = 719468;
  constexpr long long kDaysPerEra = 146097;
  days += kDaysTo1970;
  const long long era = (days >= 0 ? days : days - (kDaysPerEra - 1)) / kDaysPerEra;
  const long long day_of_era = days - era * kDaysPerEra;
  const long long year_of_era =
      (day_of_era - day_of_era / 1460 + day_of_era / 36524 - day_of_era / 146096) / 365;
  const long long day_of_year =
      day_of_era - (365 * year_of_era + year_of_era / 4 - year_of_era / 100);
  const long long march_month = (5 * day_of_year + 2) / 153;
  day = static_cast<int>(day_of_year - (153 * march_month + 2) / 5 + 1);
  month = static_cast<int>(march_month < 10 ? march_month + 3 : march_month - 9);
  year = static_cast<int>(year_of_era + era * 400 + (month <= 2 ? 1 : 0));
}

}  // namespace

long IsoTimes::offset_at(std::string_view stored) {
  if (stored.compare(0, kHourSize, hour_) == 0 && !hour_.empty()) {
    return offset_;
  }
  std::tm local{};
  local.tm_year = field(stored, 0, 4) - 1900;
  local.tm_mon = field(stored, 5, 2) - 1;
  local.tm_mday = field(stored, 8, 2);
  local.tm_hour = field(stored, 11, 2);
  local.tm_min = field(stored, 14, 2);
  local.tm_sec = field(stored, 17, 2);
  local.tm_isdst = -1;
  const std::time_t when = std::mktime(&local);
  std::tm back{};
  offset_ = when == static_cast<std::time_t>(-1) || localtime_r(&when, &back) == nullptr
                ? 0
                : back.tm_gmtoff;
  hour_.assign(stored.substr(0, kHourSize));
  return offset_;
}

std::string_view IsoTimes::text(std::string_view stored) {
  if (!stored_form(stored)) {
    return stored;
  }
  const long offset = offset_at(stored);
  int length = 0;
  if (utc_) {
    const long long seconds = wall_seconds(std::string(stored)) - offset;
    const long long days =
        (seconds >= 0 ? seconds : seconds - (kSecondsPerDay - 1)) / kSecondsPerDay;
    const long long rest = seconds - days * kSecondsPerDay;
    int year = 0;
    int month = 0;
    int day = 0;
    civil_from_days(days, year, month, day);
    length = std::snprintf(text_, sizeof text_, "%04d-%02d-%02dT%02lld:%02lld:%02lldZ", year, month,
                           day, rest / kSecondsPerHour, rest % kSecondsPerHour / kSecondsPerMinute,
                           rest % kSecondsPerMinute);
  } else {
    const long size = offset < 0 ? -offset : offset;
    length = std::snprintf(text_, sizeof text_, "%.10sT%.8s%c%02ld:%02ld", stored.data(),
                           stored.data() + 11, offset < 0 ? '-' : '+', size / kSecondsPerHour,
                           size % kSecondsPerHour / kSecondsPerMinute);
  }
  return std::string_view(text_, static_cast<std::size_t>(length));
}

}  // namespace velmocair::cli
