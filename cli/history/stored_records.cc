#include "cli/history/stored_records.h"

#include <boost/date_time/posix_time/posix_time.hpp>
#include <memory>
#include <stdexcept>

#include "commands/record_cells.h"
#include "host/services/history_cursor.h"

namespace velmocair::cli {
namespace {

using status::CellKind;
using status::LeafPart;

// A row is stored when its cycle completes, a moment after the record was
// stamped; rows stored this far around the period are looked at, and the
// records' own time stamps decide.
const boost::posix_time::seconds kStoringMargin{60};
constexpr char kAlertArray[] = "AlertArray";

// The stored form of a time, "2026-12-08 14:00:25".
std::string stored_time_text(const mqtt::RecordTime& time) {
  std::string text = boost::posix_time::to_iso_extended_string(time);
  text[text.find('T')] = ' ';
  return text;
}

Json::Value cell_value(const status::Cell& cell) {
  switch (cell.kind) {
    case CellKind::number:
      return cell.number;
    case CellKind::flag:
      return cell.flag;
    case CellKind::text:
      break;
  }
  return std::string(cell.text);
}

// The status document the cells show, member for member.
Json::Value document_of(const status::RecordCells& cells) {
  Json::Value document(Json::objectValue);
  for (std::size_t i = 0; i < cells.leaves().size(); ++i) {
    const status::DocumentLeaf& leaf = cells.leaves()[i];
    const Json::Value value = cell_value(cells.cells()[i]);
    switch (leaf.part) {
      case LeafPart::value:
        document[leaf.group][leaf.key] = value;
        break;
      case LeafPart::alert_flag:
        document[leaf.group][kAlertArray][leaf.key] = value;
        break;
      case LeafPart::update_time:
        document[status::kUpdateTime] = value;
        break;
    }
  }
  return document;
}

}  // namespace

mqtt::HistoryReader stored_records(const std::string& history_path) {
  auto cells = std::make_shared<status::RecordCells>();
  return
      [history_path, cells](std::uint32_t data_id, const mqtt::RecordTime& from,
                            const mqtt::RecordTime& before, const mqtt::StoredRecordVisit& visit) {
        const sitehost::RowFilter filter{data_id, stored_time_text(from - kStoringMargin),
                                         stored_time_text(before + kStoringMargin)};
        std::string error;
        const std::unique_ptr<sitehost::HistoryCursor> cursor =
            sitehost::HistoryCursor::open(history_path, filter, error);
        if (cursor == nullptr) {
          throw std::runtime_error(error);
        }
        while (cursor->next()) {
          const sitehost::StoredRow& row = cursor->row();
          if (!cells->decode(row.record, row.record_size)) {
            continue;
          }
          const Json::Value document = document_of(*cells);
          const std::optional<mqtt::RecordTime> time =
              mqtt::parse_document_time(document[status::kUpdateTime].asString());
          if (time && !(*time < from) && *time < before && !visit(*time, document)) {
            return;
          }
        }
        if (!cursor->error().empty()) {
          throw std::runtime_error(cursor->error());
        }
      };
}

}  // namespace velmocair::cli
