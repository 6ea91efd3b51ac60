#include "cli/history/row_export.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "cli/history/document_columns.h"
#include "cli/history/iso_time.h"
#include "cli/history/row_formats.h"
#include "cli/options/exit_status.h"
#include "commands/probe_records.h"
#include "commands/status_document_table.h"

namespace velmocair::cli {
namespace {

constexpr char kByteOrderMark[] = "\xEF\xBB\xBF";
constexpr char kCsvLineEnd[] = "\r\n";
// Text gathered before it is written out.
constexpr std::size_t kWriteChunk = 1 << 16;

// Text gathered before it is written out. An append is a copy, inlined:
// a row is some 760 of them.
class TextBuffer {
 public:
  explicit TextBuffer(std::size_t capacity) : bytes_(capacity) {}

  void append(std::string_view text) {
    if (text.size() > bytes_.size() - size_) {
      bytes_.resize(std::max(2 * bytes_.size(), size_ + text.size()));
    }
    // Most appends are a byte or two (separators, digits, flags).
    if (!text.empty() && text.size() <= 2) {
      bytes_[size_] = text[0];
      bytes_[size_ + text.size() - 1] = text.back();
    } else {
      std::memcpy(bytes_.data() + size_, text.data(), text.size());
    }
    size_ += text.size();
  }
  std::string_view text() const { return {bytes_.data(), size_}; }
  void clear() { size_ = 0; }

 private:
  std::vector<char> bytes_;
  std::size_t size_ = 0;
};

// Rows as text in one format, column by column: a row's columns are given
// in the header's order.
class RowText {
 public:
  RowText(ExportFormat format, bool utc, const std::vector<std::string>& paths)
      : csv_(format == ExportFormat::csv), times_(utc) {
    for (const std::string& path : paths) {
      std::string prefix = ",";
      if (format == ExportFormat::jsonl) {
        append_json_string(prefix, path);
        prefix += ':';
      }
      prefixes_.push_back(std::move(prefix));
    }
    if (format == ExportFormat::jsonl) {
      row_start_ = "{\"time\":";
      data_id_ = ",\"data_id\":";
      row_end_ = "}\n";
    } else if (format == ExportFormat::jsonl_compact) {
      row_start_ = "[";
      row_end_ = "]\n";
      header_ = "[\"time\",\"data_id\"";
      for (const std::string& path : paths) {
        header_ += ',';
        append_json_string(header_, path);
      }
      header_ += row_end_;
    } else {
      row_end_ = kCsvLineEnd;
      header_ = "time,data_id";
      for (const std::string& path : paths) {
        header_ += ',';
        append_csv_field(header_, path);
      }
      header_ += row_end_;
    }
  }

  const std::string& header() const { return header_; }

  void begin(TextBuffer& out, const sitehost::StoredRow& row) {
    out.append(row_start_);
    text(out, times_.text(row.time));
    out.append(data_id_);
    char digits[sizeof "4294967295"];
    const int length =
        std::snprintf(digits, sizeof digits, "%u", static_cast<unsigned>(row.data_id));
    out.append(std::string_view(digits, static_cast<std::size_t>(length)));
  }
  void text(TextBuffer& out, std::string_view value) const {
    std::string field;
    if (csv_) {
      append_csv_field(field, value);
    } else {
      append_json_string(field, value);
    }
    out.append(field);
  }
  // Text that needs no quoting nor escaping.
  void plain_text(TextBuffer& out, std::string_view value) const {
    if (!csv_) {
      out.append("\"");
    }
    out.append(value);
    if (!csv_) {
      out.append("\"");
    }
  }
  void flag(TextBuffer& out, bool value) const { out.append(value ? true_ : false_); }
  void null(TextBuffer& out) const {
    if (!csv_) {
      out.append("null");
    }
  }
  std::string_view prefix(std::size_t column) const { return prefixes_[column]; }
  void end(TextBuffer& out) const { out.append(row_end_); }

 private:
  bool csv_;
  std::string_view true_ = csv_ ? "1" : "true";
  std::string_view false_ = csv_ ? "0" : "false";
  IsoTimes times_;
  std::vector<std::string> prefixes_;  // before each column's value
  std::string header_;
  std::string row_start_;
  std::string data_id_ = ",";
  std::string row_end_;
};

// A row decoded without a device: its cells.
void cells_row(const status::RecordCells& cells, const RowText& format, TextBuffer& out) {
  const std::vector<status::Cell>& row = cells.cells();
  char number[status::kNumberTextCapacity];
  for (std::size_t i = 0; i < row.size(); ++i) {
    out.append(format.prefix(i));
    const status::Cell& cell = row[i];
    switch (cell.kind) {
      case status::CellKind::text:
        format.plain_text(out, cell.text);
        break;
      case status::CellKind::number:
        out.append(std::string_view(number, status::number_text(cell, number)));
        break;
      case status::CellKind::flag:
        format.flag(out, cell.flag);
        break;
    }
  }
}

// A row through the plug-in: the leaves of its document. The update time
// is the record's own time stamp, which the decoding device would replace
// with the time of decoding.
void document_row(const DocumentColumns& columns, const Json::Value& document,
                  const sitehost::StoredRow& row, const RowText& format, TextBuffer& out) {
  std::size_t column = 0;
  const bool whole =
      columns.walk(document, [&](const DocumentColumn& leaf, const Json::Value& value) {
        out.append(format.prefix(column++));
        if (leaf.path == status::kUpdateTime) {
          char stamp[status::kTimeTextCapacity];
          format.text(out, std::string_view(stamp, status::time_text(row.record, stamp)));
        } else if (value.isBool()) {
          format.flag(out, value.asBool());
        } else if (value.isNumeric()) {
          std::string number;
          append_number(number, value.asDouble(), leaf.decimals);
          out.append(number);
        } else if (value.isString()) {
          format.text(out, value.asString());
        } else {
          format.null(out);
        }
      });
  if (!whole) {
    throw RunError("row " + std::to_string(row.id) +
                   ": the device's document has other members than a blank record's");
  }
}

}  // namespace

std::size_t export_rows(StoredRows& rows, const ExportSettings& settings, OutputFile& out) {
  std::vector<std::string> paths;
  std::unique_ptr<DocumentColumns> columns;
  if (rows.through_plugin()) {
    // Every document has the members of any other: those of a blank record.
    const Json::Value* blank =
        rows.plugin().document(std::vector<unsigned char>(sizeof(status::RecordBytes)));
    if (blank == nullptr) {
      throw RunError("the plug-in builds no status document");
    }
    columns = std::make_unique<DocumentColumns>(*blank);
    for (const DocumentColumn& column : columns->columns()) {
      paths.push_back(column.path);
    }
  } else {
    for (const status::DocumentLeaf& leaf : rows.cells().leaves()) {
      paths.push_back(status::leaf_path(leaf));
    }
  }
  RowText format(settings.format, settings.utc, paths);
  TextBuffer text(2 * kWriteChunk);
  if (settings.bom) {
    text.append(kByteOrderMark);
  }
  text.append(format.header());
  std::size_t refused = 0;
  std::vector<unsigned char> record;
  while (rows.next()) {
    const sitehost::StoredRow& row = rows.row();
    if (columns == nullptr) {
      if (!rows.cells().decode(row.record, row.record_size)) {
        ++refused;
        continue;
      }
      format.begin(text, row);
      cells_row(rows.cells(), format, text);
    } else {
      record.assign(row.record, row.record + row.record_size);
      const Json::Value* document = rows.plugin().document(record);
      if (document == nullptr) {
        ++refused;
        continue;
      }
      format.begin(text, row);
      document_row(*columns, *document, row, format, text);
    }
    format.end(text);
    if (text.text().size() >= kWriteChunk) {
      out.write(text.text());
      text.clear();
    }
  }
  out.write(text.text());
  return refused;
}

}  // namespace velmocair::cli
