#include "host/services/history_retention.h"

namespace sitehost {
namespace {

// Free pages handed back in one step (a megabyte of 4 KiB pages).
constexpr int kPagesPerStep = 256;

}  // namespace

bool HistoryPruner::step(HistoryStore& store, std::chrono::steady_clock::time_point now,
                         std::string& error) {
  if (retention_.keep_seconds) {
    const int removed = store.remove_older_than(local_time_text_before(*retention_.keep_seconds),
                                                kPruneRowsPerStep, error);
    if (removed != 0) {
      log_to_empty_ = log_to_empty_ || removed > 0;
      return removed > 0;
    }
  }
  if (retention_.max_bytes) {
    const std::int64_t used = store.used_bytes(error);
    if (used < 0) {
      return false;
    }
    if (used > *retention_.max_bytes) {
      const int removed = store.remove_oldest(kPruneRowsPerStep, error);
      log_to_empty_ = log_to_empty_ || removed > 0;
      return removed > 0;
    }
  }
  const int free_pages = store.release_free_pages(kPagesPerStep, error);
  if (free_pages != 0) {
    return free_pages > 0;
  }
  if (log_to_empty_ && now >= next_log_try_) {
    next_log_try_ = now + kLogRetry;
    log_to_empty_ = !store.empty_log(error);
  }
  return false;
}

}  // namespace sitehost
