#include "cli/history/history_reading.h"

#include <sys/stat.h>

#include <cstdio>

#include "cli/options/exit_status.h"
#include "cli/runtime/printing.h"

namespace velmocair::cli {
namespace {

constexpr std::int64_t kSecondsPerMinute = 60;
constexpr std::int64_t kSecondsPerHour = 3600;
constexpr std::int64_t kSecondsPerDay = 86400;

int number_at(std::string_view text, std::size_t at, std::size_t digits) {
  int value = 0;
  for (std::size_t i = at; i < at + digits && i < text.size(); ++i) {
    value = value * 10 + (text[i] - '0');
  }
  return value;
}

// Days from 1970-01-01 to the date in the proleptic Gregorian calendar.
std::int64_t days_from_civil(std::int64_t year, unsigned month, unsigned day) {
  constexpr unsigned kMarchBased = 3;
  constexpr std::int64_t kYearsPerEra = 400;
  constexpr std::int64_t kDaysPerEra = 146097;
  constexpr std::int64_t kDaysTo1970 = 719468;
  year -= month <= 2 ? 1 : 0;
  const std::int64_t era = (year >= 0 ? year : year - (kYearsPerEra - 1)) / kYearsPerEra;
  const auto year_of_era = static_cast<unsigned>(year - era * kYearsPerEra);
  const unsigned day_of_year =
      (153 * (month > 2 ? month - kMarchBased : month + 9) + 2) / 5 + day - 1;
  const unsigned day_of_era = year_of_era * 365 + year_of_era / 4 - year_of_era / 100 + day_of_year;
  return era * kDaysPerEra + static_cast<std::int64_t>(day_of_era) - kDaysTo1970;
}

}  // namespace

std::unique_ptr<sitehost::HistoryStore> open_history_to_read(const std::string& path) {
  struct stat status {};
  if (stat(path.c_str(), &status) == 0 && S_ISDIR(status.st_mode)) {
    throw UsageError("--history " + path + ": a folder, not a history file");
  }
  std::string error;
  sitehost::HistoryStore::Problem problem = sitehost::HistoryStore::Problem::none;
  std::unique_ptr<sitehost::HistoryStore> store = sitehost::HistoryStore::open(
      path, sitehost::HistoryStore::Access::read_only, error, &problem);
  if (store == nullptr) {
    if (problem == sitehost::HistoryStore::Problem::not_a_history) {
      throw UsageError(error);
    }
    throw RunError(error);
  }
  return store;
}

sitehost::RowFilter row_filter(const HostOptions& options) {
  return {options.units.data_id, options.from, options.to};
}

std::int64_t wall_seconds(std::string_view stored_time) {
  const std::int64_t days = days_from_civil(number_at(stored_time, 0, 4),
                                            static_cast<unsigned>(number_at(stored_time, 5, 2)),
                                            static_cast<unsigned>(number_at(stored_time, 8, 2)));
  return days * kSecondsPerDay + number_at(stored_time, 11, 2) * kSecondsPerHour +
         number_at(stored_time, 14, 2) * kSecondsPerMinute + number_at(stored_time, 17, 2);
}

std::string duration_text(std::int64_t seconds) {
  const std::int64_t days = seconds / kSecondsPerDay;
  const std::int64_t rest = seconds % kSecondsPerDay;
  char text[64];
  std::snprintf(text, sizeof text, "%lld:%02lld:%02lld",
                static_cast<long long>(rest / kSecondsPerHour),
                static_cast<long long>(rest % kSecondsPerHour / kSecondsPerMinute),
                static_cast<long long>(rest % kSecondsPerMinute));
  return days > 0 ? std::to_string(days) + "d " + text : text;
}

int reading_status(const HostOptions& options, std::size_t refused) {
  if (refused == 0) {
    return kExitOk;
  }
  print_error(options.history + ": the device refused " + std::to_string(refused) +
              " stored records (not 441 bytes); they are left out");
  return kExitFailed;
}

std::string rows_origin(const HostOptions& options) {
  std::string origin = options.history;
  if (options.units.data_id) {
    origin += ", data id " + std::to_string(*options.units.data_id);
  }
  if (!options.from.empty()) {
    origin += ", from " + options.from;
  }
  if (!options.to.empty()) {
    origin += ", before " + options.to;
  }
  return origin;
}

}  // namespace velmocair::cli
