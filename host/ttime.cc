#include "host/ttime.h"

ttime_t get_ttime(boost::posix_time::ptime time) {
  ttime_t bytes{};
  if (time.is_special()) {
    return bytes;
  }
  const auto date = time.date();
  const auto clock = time.time_of_day();
  const unsigned year = date.year();
  bytes[0] = static_cast<unsigned char>(year & 0xFF);
  bytes[1] = static_cast<unsigned char>(year >> 8);
  bytes[2] = static_cast<unsigned char>(date.month());
  bytes[3] = static_cast<unsigned char>(date.day());
  bytes[4] = static_cast<unsigned char>(clock.hours());
  bytes[5] = static_cast<unsigned char>(clock.minutes());
  bytes[6] = static_cast<unsigned char>(clock.seconds());
  return bytes;
}
