#pragma once

#include <memory>
#include <string>

#include "cli/history/record_decoder.h"
#include "cli/options/options.h"
#include "commands/record_cells.h"
#include "host/services/history_cursor.h"
#include "host/services/history_store.h"

namespace velmocair::cli {

// How stored records are decoded.
enum class Decoding : unsigned char {
  // Without a device (the cells and the alarm table) when that agrees with
  // the plug-in on the probe records and the first row; else as `plugin`.
  checked,
  // Through the plug-in: a device's document and evaluation per record.
  plugin,
};

// The rows a reading command selects (--data-id, --from, --to), read in
// time order through the history's index, and how to decode them. The
// plug-in is loaded, and with Decoding::checked compared with the decoding
// without a device; when they differ, one warning line on standard error
// names the first difference, and every row goes through the plug-in.
class StoredRows {
 public:
  // Throws RunError when the history or the plug-in cannot be read or
  // --data-id names no unit of the history, UsageError when the file is
  // not a history.
  StoredRows(const HostOptions& options, Decoding decoding = Decoding::checked);

  // True when the rows are decoded through the plug-in.
  bool through_plugin() const { return through_plugin_; }
  RecordDecoder& plugin() { return plugin_; }
  status::RecordCells& cells() { return cells_; }

  // Moves to the next row (the first on the first call): false after the
  // last. Throws RunError when the history cannot be read, Interrupted
  // when SIGINT or SIGTERM came.
  bool next();
  const sitehost::StoredRow& row() const { return cursor_->row(); }

 private:
  // Reads the next row from the cursor.
  bool advance();

  std::string path_;
  std::unique_ptr<sitehost::HistoryStore> store_;
  std::unique_ptr<sitehost::HistoryCursor> cursor_;
  RecordDecoder plugin_;
  status::RecordCells cells_;
  bool through_plugin_ = false;
  bool has_first_ = false;  // the first row has been read, not yet handed out
};

}  // namespace velmocair::cli
