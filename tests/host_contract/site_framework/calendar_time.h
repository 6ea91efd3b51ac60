#ifndef SITE_FRAMEWORK_CALENDAR_TIME_H
#define SITE_FRAMEWORK_CALENDAR_TIME_H

#include <boost/date_time/posix_time/ptime.hpp>
#include <cstdint>

// A local time as seven calendar bytes.
struct __attribute__((packed)) CalendarTime {
  std::uint16_t year;
  std::uint8_t month;
  std::uint8_t day;
  std::uint8_t hour;
  std::uint8_t minute;
  std::uint8_t second;
};

CalendarTime get_ttime(boost::posix_time::ptime time);

#endif
