#include "cli/history/iso_time.h"

#include <cstdio>
#include <ctime>

namespace velmocair::cli {
namespace {

constexpr std::size_t kStoredSize = sizeof "YYYY-MM-DD HH:MM:SS" - 1;
constexpr std::size_t kHourSize = sizeof "YYYY-MM-DD HH" - 1;
constexpr long kSecondsPerMinute = 60;
constexpr long kSecondsPerHour = 3600;

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

// The stored fields as a calendar time, its time zone unknown.
std::tm fields_of(std::string_view stored) {
  std::tm fields{};
  fields.tm_year = field(stored, 0, 4) - 1900;
  fields.tm_mon = field(stored, 5, 2) - 1;
  fields.tm_mday = field(stored, 8, 2);
  fields.tm_hour = field(stored, 11, 2);
  fields.tm_min = field(stored, 14, 2);
  fields.tm_sec = field(stored, 17, 2);
  fields.tm_isdst = -1;
  return fields;
}

}  // namespace

long IsoTimes::offset_at(std::string_view stored) {
  if (stored.compare(0, kHourSize, hour_) == 0 && !hour_.empty()) {
    return offset_;
  }
  std::tm local = fields_of(stored);
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
    // The wall time counted as if it were UTC, less the offset: UTC.
    std::tm fields = fields_of(stored);
    const std::time_t utc = timegm(&fields) - offset;
    std::tm in_utc{};
    if (gmtime_r(&utc, &in_utc) == nullptr) {
      return stored;
    }
    length = std::snprintf(text_, sizeof text_, "%04d-%02d-%02dT%02d:%02d:%02dZ",
                           in_utc.tm_year + 1900, in_utc.tm_mon + 1, in_utc.tm_mday, in_utc.tm_hour,
                           in_utc.tm_min, in_utc.tm_sec);
  } else {
    const long size = offset < 0 ? -offset : offset;
    length = std::snprintf(text_, sizeof text_, "%.10sT%.8s%c%02ld:%02ld", stored.data(),
                           stored.data() + 11, offset < 0 ? '-' : '+', size / kSecondsPerHour,
                           size % kSecondsPerHour / kSecondsPerMinute);
  }
  return std::string_view(text_, static_cast<std::size_t>(length));
}

}  // namespace velmocair::cli
