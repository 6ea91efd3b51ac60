// A stored time of any bytes written as ISO 8601: a time of the stored form
// comes back with its date, a "T" and its clock (local, with an offset) or
// as a UTC time; any other text comes back as it is.
#include <cstddef>
#include <cstdint>
#include <string_view>

#include "cli/history/iso_time.h"
#include "fuzz/fuzz_device.h"

using velmocair::fuzz::require;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view stored(reinterpret_cast<const char*>(data), size);
  velmocair::cli::IsoTimes local(false);
  velmocair::cli::IsoTimes utc(true);
  const std::string_view with_offset = local.text(stored);
  const std::string_view in_utc = utc.text(stored);
  if (with_offset == stored) {
    return 0;
  }
  constexpr std::size_t kWithOffset = sizeof "2024-03-01T10:00:00+01:00" - 1;
  require(with_offset.size() == kWithOffset && with_offset.substr(0, 10) == stored.substr(0, 10) &&
          with_offset[10] == 'T' && with_offset.substr(11, 8) == stored.substr(11, 8));
  require(in_utc == stored ||
          (in_utc.size() >= sizeof "2024-03-01T09:00:00Z" - 1 && in_utc.back() == 'Z'));
  return 0;
}
