#pragma once

#include <string>
#include <string_view>

namespace velmocair::cli {

// Stored times ("YYYY-MM-DD HH:MM:SS", the host's local wall clock) as ISO
// 8601 with the offset from UTC the local time zone had then
// ("2024-07-01T10:00:00+02:00"), or in UTC ("2024-07-01T08:00:00Z"). In the
// hour a clock set back repeats, the offset is the one the C library picks
// for that wall time. A text of another form is given back as it is.
class IsoTimes {
 public:
  explicit IsoTimes(bool utc) : utc_(utc) {}

  // The time's text, valid until the next call.
  std::string_view text(std::string_view stored);

 private:
  // The local time zone's offset from UTC, in seconds, at the stored time.
  long offset_at(std::string_view stored);

  bool utc_;
  std::string hour_;  // the "YYYY-MM-DD HH" the offset was found for
  long offset_ = 0;
  char text_[32] = {};
};

}  // namespace velmocair::cli
