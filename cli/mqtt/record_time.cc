#include "cli/mqtt/record_time.h"

#include <boost/date_time/posix_time/conversion.hpp>
#include <boost/date_time/posix_time/posix_time_duration.hpp>
#include <cstdio>
#include <ctime>
#include <exception>

namespace velmocair::mqtt {
namespace {

constexpr int kSecondsPerMinute = 60;
constexpr int kMinutesPerHour = 60;
constexpr int kHoursPerDay = 24;

// The UTC offset of a local time, in minutes east; 0 where the C library
// cannot tell.
long offset_from_library(const RecordTime& time) {
  // The local time read as if it were UTC, then moved back by the offset
  // found there: mktime would re-read the time zone on every call, which
  // frees the library's zone name under other threads' localtime_r.
  std::tm fields = boost::posix_time::to_tm(time);
  const std::time_t as_if_utc = timegm(&fields);
  std::tm local{};
  if (as_if_utc == static_cast<std::time_t>(-1) || localtime_r(&as_if_utc, &local) == nullptr) {
    return 0;
  }
  const std::time_t seconds = as_if_utc - local.tm_gmtoff;
  if (localtime_r(&seconds, &local) == nullptr) {
    return 0;
  }
  return local.tm_gmtoff / kSecondsPerMinute;
}

// The same, asked of the C library once per minute of local time on each
// thread (it looks at the time zone file on every call): offsets change
// on whole minutes.
long utc_offset_minutes(const RecordTime& time) {
  struct Known {
    RecordTime minute;
    long offset = 0;
  };
  thread_local Known known;
  const RecordTime minute = time - boost::posix_time::seconds(time.time_of_day().seconds());
  if (known.minute != minute) {
    known = {minute, offset_from_library(minute)};
  }
  return known.offset;
}

}  // namespace

std::optional<RecordTime> parse_document_time(const std::string& text) {
  unsigned year = 0;
  unsigned month = 0;
  unsigned day = 0;
  unsigned hour = 0;
  unsigned minute = 0;
  unsigned second = 0;
  int consumed = 0;
  if (std::sscanf(text.c_str(), "%4u-%2u-%2u %2u:%2u:%2u%n", &year, &month, &day, &hour, &minute,
                  &second, &consumed) != 6 ||
      static_cast<std::size_t>(consumed) != text.size() || hour >= kHoursPerDay ||
      minute >= kMinutesPerHour || second >= kSecondsPerMinute) {
    return std::nullopt;
  }
  try {
    return RecordTime(boost::gregorian::date(static_cast<unsigned short>(year),
                                             static_cast<unsigned short>(month),
                                             static_cast<unsigned short>(day)),
                      boost::posix_time::time_duration(hour, minute, second));
  } catch (const std::exception&) {  // no such day
    return std::nullopt;
  }
}

std::string document_time_text(const RecordTime& time) {
  const auto date = time.date();
  const auto clock = time.time_of_day();
  char text[128];
  std::snprintf(text, sizeof text, "%u-%u-%u %u:%u:%u", static_cast<unsigned>(date.year()),
                static_cast<unsigned>(date.month()), static_cast<unsigned>(date.day()),
                static_cast<unsigned>(clock.hours()), static_cast<unsigned>(clock.minutes()),
                static_cast<unsigned>(clock.seconds()));
  return text;
}

std::string iso_time(const RecordTime& time) {
  const auto date = time.date();
  const auto clock = time.time_of_day();
  const long offset = utc_offset_minutes(time);
  const long magnitude = offset < 0 ? -offset : offset;
  char text[128];
  std::snprintf(text, sizeof text, "%04u-%02u-%02uT%02u:%02u:%02u%c%02ld:%02ld",
                static_cast<unsigned>(date.year()), static_cast<unsigned>(date.month()),
                static_cast<unsigned>(date.day()), static_cast<unsigned>(clock.hours()),
                static_cast<unsigned>(clock.minutes()), static_cast<unsigned>(clock.seconds()),
                offset < 0 ? '-' : '+', magnitude / kMinutesPerHour, magnitude % kMinutesPerHour);
  return text;
}

RecordTime local_time_now() { return boost::posix_time::second_clock::local_time(); }

}  // namespace velmocair::mqtt
