#pragma once

#include <cstddef>
#include <deque>
#include <optional>

#include "cli/mqtt/record_time.h"

namespace velmocair::mqtt {

// The records of one unit that were never published live: a state replaced
// by a newer one before it could be published (the broker away, or slower
// than the cycles). They lie between published records, as gaps [from,
// before): from the first missed record to the next published one. The
// history holds them; backfill publishes them afterwards, oldest first.
class MissedRecords {
 public:
  struct Gap {
    RecordTime from;
    RecordTime before;
  };
  // More gaps than this merge, the oldest two into one: a record published
  // live between them may then be published again on the backfill topic.
  static constexpr std::size_t kMaxGaps = 16;

  // A record the broker will not get live.
  void missed(const RecordTime& time);
  // A record published live: it ends the gap of the records missed before it.
  void published(const RecordTime& time);

  const Gap* oldest() const { return gaps_.empty() ? nullptr : &gaps_.front(); }
  // The oldest gap's records up to and including `time` are published.
  void published_through(const RecordTime& time);
  // The oldest gap holds no further record.
  void finish_oldest();

 private:
  std::optional<RecordTime> open_from_;
  std::deque<Gap> gaps_;
};

}  // namespace velmocair::mqtt
