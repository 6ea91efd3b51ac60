#include "cli/mqtt/missed_records.h"

#include <boost/date_time/posix_time/posix_time_duration.hpp>

namespace velmocair::mqtt {

void MissedRecords::missed(const RecordTime& time) {
  if (!open_from_ || time < *open_from_) {
    open_from_ = time;
  }
}

void MissedRecords::published(const RecordTime& time) {
  if (!open_from_) {
    return;
  }
  if (*open_from_ < time) {
    if (gaps_.size() == kMaxGaps) {
      gaps_[1].from = gaps_[0].from;
      gaps_.pop_front();
    }
    gaps_.push_back({*open_from_, time});
  }
  open_from_.reset();
}

void MissedRecords::published_through(const RecordTime& time) {
  if (gaps_.empty()) {
    return;
  }
  gaps_.front().from = time + boost::posix_time::seconds(1);
  if (!(gaps_.front().from < gaps_.front().before)) {
    gaps_.pop_front();
  }
}

void MissedRecords::finish_oldest() {
  if (!gaps_.empty()) {
    gaps_.pop_front();
  }
}

}  // namespace velmocair::mqtt
