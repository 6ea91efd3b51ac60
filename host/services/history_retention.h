#pragma once

#include <chrono>
#include <cstdint>
#include <optional>
#include <string>

#include "host/services/history_store.h"

namespace sitehost {

// How much history a host keeps: rows stored within the last `keep_seconds`
// and, of those, as many of the newest as fit in `max_bytes`. Neither set:
// everything.
struct Retention {
  std::optional<std::int64_t> keep_seconds;
  std::optional<std::int64_t> max_bytes;

  bool keeps_everything() const { return !keep_seconds && !max_bytes; }
};

// Rows one pruning step removes at most: a few milliseconds of work.
inline constexpr int kPruneRowsPerStep = 200;

// Removes the rows beyond the retention, one small transaction a step, so
// that the writer thread stays free to store new rows between steps.
class HistoryPruner {
 public:
  explicit HistoryPruner(Retention retention) : retention_(retention) {}

  // One step: old rows by age, else rows beyond the size, else free pages
  // handed back, else, once rows have gone, the write-ahead log emptied, so
  // that the file shrinks to its rows now rather than at a later checkpoint
  // (while a reader keeps part of the log, tried again kLogRetry after
  // `now`). True while more work is due; false when the history is within
  // its limits, or with `error` set when a step failed.
  bool step(HistoryStore& store, std::chrono::steady_clock::time_point now, std::string& error);

  const Retention& retention() const { return retention_; }

  static constexpr std::chrono::seconds kLogRetry{10};

 private:
  Retention retention_;
  bool log_to_empty_ = false;  // rows have gone since the log was last emptied
  std::chrono::steady_clock::time_point next_log_try_{};
};

}  // namespace sitehost
