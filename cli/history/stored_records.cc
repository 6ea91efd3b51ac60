#include "cli/history/stored_records.h"

#include <boost/date_time/posix_time/posix_time.hpp>
#include <memory>
#include <stdexcept>

#include "cli/record_decoder.h"
#include "host/services/history_cursor.h"

namespace velmocair::cli {
namespace {

// A row is stored when its cycle completes, a moment after the record was
// stamped; rows stored this far around the period are looked at, and the
// records' own time stamps decide.
const boost::posix_time::seconds kStoringMargin{60};

// The stored form of a time, "2026-12-08 14:00:25".
std::string stored_time_text(const mqtt::RecordTime& time) {
  std::string text = boost::posix_time::to_iso_extended_string(time);
  text[text.find('T')] = ' ';
  return text;
}

}  // namespace

mqtt::HistoryReader stored_records(const std::string& history_path,
                                   const std::string& plugin_path) {
  auto decoder = std::make_shared<RecordDecoder>(plugin_path);
  return [history_path, decoder](std::uint32_t data_id, const mqtt::RecordTime& from,
                                 const mqtt::RecordTime& before,
                                 const mqtt::StoredRecordVisit& visit) {
    const sitehost::RowFilter filter{data_id, stored_time_text(from - kStoringMargin),
                                     stored_time_text(before + kStoringMargin)};
    std::string error;
    const std::unique_ptr<sitehost::HistoryCursor> cursor =
        sitehost::HistoryCursor::open(history_path, filter, error);
    if (cursor == nullptr) {
      throw std::runtime_error(error);
    }
    std::vector<unsigned char> record;
    while (cursor->next()) {
      const sitehost::StoredRow& row = cursor->row();
      record.assign(row.record, row.record + row.record_size);
      const std::optional<mqtt::RecordTime> time = mqtt::parse_document_time(stamp_text(record));
      if (!time || *time < from || *time >= before) {
        continue;
      }
      const Json::Value* document = decoder->document(record);
      if (document != nullptr && !visit(*time, *document)) {
        return;
      }
    }
    if (!cursor->error().empty()) {
      throw std::runtime_error(cursor->error());
    }
  };
}

}  // namespace velmocair::cli
