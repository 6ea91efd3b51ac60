#pragma once

#include <array>
#include <boost/date_time/posix_time/ptime.hpp>

// Calendar form of a local time as stored in data records: 16-bit
// little-endian year, then month (1..12), day, hour, minute and second.
using ttime_t = std::array<unsigned char, 7>;

// A special value (not-a-date-time, infinities) gives seven zero bytes.
ttime_t get_ttime(boost::posix_time::ptime time);
