#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

#include "cli/options/options.h"
#include "host/services/history_store.h"

namespace velmocair::cli {

// Opens a history file to read, changing nothing on disk. Throws RunError
// when it cannot be read, UsageError when it is not a history.
std::unique_ptr<sitehost::HistoryStore> open_history_to_read(const std::string& path);

// The rows the options select: --data-id, --from, --to.
sitehost::RowFilter row_filter(const HostOptions& options);

// A stored time "YYYY-MM-DD HH:MM:SS" as seconds of the local wall clock
// counted from 1970-01-01 00:00:00 (no time zone applied): differences are
// wall-clock durations.
std::int64_t wall_seconds(std::string_view stored_time);

// A duration as H:MM:SS, with "Nd " before it from one day on.
std::string duration_text(std::int64_t seconds);

// The exit status of a reading command that left out `refused` records the
// device refused, which it reports.
int reading_status(const HostOptions& options, std::size_t refused);

// Where the rows come from, for messages: "FILE", "FILE, data id N" and the
// period when one is given.
std::string rows_origin(const HostOptions& options);

}  // namespace velmocair::cli
