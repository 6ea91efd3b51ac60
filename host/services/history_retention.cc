#include "host/services/history_retention.h"

namespace sitehost {
namespace {

// Free pages handed back in one step (a megabyte of 4 KiB pages).
constexpr int kPagesPerStep = 256;

}  // namespace

bool HistoryPruner::step(HistoryStore& store, std::string& error) const {
  if (retention_.keep_seconds) {
    const int removed = store.remove_older_than(local_time_text_before(*retention_.keep_seconds),
                                                kPruneRowsPerStep, error);
    if (removed != 0) {
      return removed > 0;
    }
  }
  if (retention_.max_bytes) {
    const std::int64_t used = store.used_bytes(error);
    if (used < 0) {
      return false;
    }
    if (used > *retention_.max_bytes) {
      return store.remove_oldest(kPruneRowsPerStep, error) > 0;
    }
  }
  return store.release_free_pages(kPagesPerStep, error) > 0;
}

}  // namespace sitehost
