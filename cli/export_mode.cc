#include <cstddef>

#include "cli/document_columns.h"
#include "cli/exit_status.h"
#include "cli/history_reading.h"
#include "cli/modes.h"
#include "cli/output_file.h"
#include "cli/record_decoder.h"
#include "cli/row_formats.h"
#include "commands/status_document_table.h"
#include "device/Velmocair_Data_t.h"

namespace velmocair::cli {
namespace {

constexpr char kByteOrderMark[] = "\xEF\xBB\xBF";
constexpr char kCsvLineEnd[] = "\r\n";
// Text gathered before it is written out.
constexpr std::size_t kWriteChunk = 1 << 16;
constexpr std::size_t kStampOffset = offsetof(Velmocair_Data_t, time_stamp);

// The record's own time stamp as the document shows it ("2024-1-2 3:4:5"):
// the time the cycle completed, which the decoding device would replace
// with the time of decoding.
std::string stamp_text(const std::vector<unsigned char>& record) {
  if (record.size() < kStampOffset + sizeof(Velmocair_Data_t::time_stamp)) {
    return {};
  }
  const unsigned char* stamp = record.data() + kStampOffset;
  return std::to_string(stamp[0] | (stamp[1] << 8)) + "-" + std::to_string(stamp[2]) + "-" +
         std::to_string(stamp[3]) + " " + std::to_string(stamp[4]) + ":" +
         std::to_string(stamp[5]) + ":" + std::to_string(stamp[6]);
}

// Writes the rows in one format.
class RowWriter {
 public:
  RowWriter(ExportFormat format, OutputFile& out) : format_(format), out_(out) {}

  void header(const DocumentColumns& columns) {
    if (format_ != ExportFormat::csv) {
      return;
    }
    text_ += "time,data_id";
    for (const DocumentColumn& column : columns.columns()) {
      text_ += ',';
      append_csv_field(text_, column.path);
    }
    text_ += kCsvLineEnd;
  }

  void row(const sitehost::HistoryRow& row, const DocumentColumns& columns,
           const Json::Value& document) {
    const bool csv = format_ == ExportFormat::csv;
    if (csv) {
      text_ += row.time + "," + std::to_string(row.data_id);
    } else {
      text_ += "{\"time\":";
      append_json_string(text_, row.time);
      text_ += ",\"data_id\":" + std::to_string(row.data_id);
    }
    const bool whole =
        columns.walk(document, [&](const DocumentColumn& column, const Json::Value& value) {
          if (csv) {
            text_ += ',';
          } else {
            text_ += ',';
            append_json_string(text_, column.path);
            text_ += ':';
          }
          cell(column, value, row.record);
        });
    if (!whole) {
      throw RunError("row " + std::to_string(row.id) +
                     ": the device's document has other members than the first row's");
    }
    text_ += csv ? kCsvLineEnd : "}\n";
    if (text_.size() >= kWriteChunk) {
      flush();
    }
  }

  void flush() {
    out_.write(text_);
    text_.clear();
  }

 private:
  void cell(const DocumentColumn& column, const Json::Value& value,
            const std::vector<unsigned char>& record) {
    const bool csv = format_ == ExportFormat::csv;
    if (column.path == status::kUpdateTime) {
      text(stamp_text(record));
    } else if (value.isBool()) {
      text_ += csv ? (value.asBool() ? "1" : "0") : (value.asBool() ? "true" : "false");
    } else if (value.isNumeric()) {
      append_number(text_, value.asDouble(), column.decimals);
    } else if (value.isString()) {
      text(value.asString());
    } else if (!csv) {
      text_ += "null";
    }
  }

  void text(const std::string& value) {
    if (format_ == ExportFormat::csv) {
      append_csv_field(text_, value);
    } else {
      append_json_string(text_, value);
    }
  }

  ExportFormat format_;
  OutputFile& out_;
  std::string text_;
};

}  // namespace

int run_export(const HostOptions& options) {
  const auto store = open_history_to_read(options.history);
  RecordDecoder decoder(options.plugin);
  // Every document has the members of any other: those of a blank record.
  const Json::Value* blank = decoder.document(std::vector<unsigned char>(sizeof(Velmocair_Data_t)));
  if (blank == nullptr) {
    throw RunError(options.plugin + ": the device builds no status document");
  }
  const DocumentColumns columns(*blank);
  OutputFile out(options.output);
  RowWriter writer(options.format, out);
  if (options.bom) {
    out.write(kByteOrderMark);
  }
  writer.header(columns);
  std::size_t refused = 0;
  const std::string error =
      store->for_each_row(row_filter(options), [&](const sitehost::HistoryRow& row) {
        const Json::Value* document = decoder.document(row.record);
        if (document == nullptr) {
          ++refused;
          return;
        }
        writer.row(row, columns, *document);
      });
  if (!error.empty()) {
    throw RunError(options.history + ": " + error);
  }
  writer.flush();
  out.commit();
  return reading_status(options, refused);
}

}  // namespace velmocair::cli
