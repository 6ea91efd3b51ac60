#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

struct sqlite3;
struct sqlite3_stmt;

namespace sitehost {

class HistoryReadConnection;

// The rows a reading command asks for: of one unit or of all, stored at or
// after `from` and before `to` (texts in the stored form; empty: open).
struct RowFilter {
  std::optional<std::uint32_t> data_id;
  std::string from;
  std::string to;
};

// A row as a cursor shows it; valid until the cursor moves on.
struct StoredRow {
  std::int64_t id = 0;  // insertion order
  std::uint32_t data_id = 0;
  std::string_view time;  // "YYYY-MM-DD HH:MM:SS", the host's local time of the store
  const unsigned char* record = nullptr;
  std::size_t record_size = 0;
};

// Reads the rows a filter selects, in the order of their stored time and,
// within one time, of their storing (a clock set back puts later rows
// earlier). Each unit's rows come from the (data_id, time) index, the units
// merged by time, so no query sorts or scans the whole file.
//
// It reads through its own read-only connection (HistoryReadConnection),
// in batches of rows; a batch is handed out only once the connection shows
// it sound. When a host has started writing a file read as immutable, the
// cursor reads on through a new connection, after the last row it handed
// out: a reading never fails because a host starts or writes, and never
// hands out a row it may have read half-changed. Rows stored meanwhile may
// or may not be among those read. Reads allocate nothing per row.
class HistoryCursor {
 public:
  // Null with `error` set when the file cannot be read.
  static std::unique_ptr<HistoryCursor> open(const std::string& path, const RowFilter& filter,
                                             std::string& error);
  ~HistoryCursor();
  HistoryCursor(const HistoryCursor&) = delete;
  HistoryCursor& operator=(const HistoryCursor&) = delete;

  // Moves to the next row: true with row() showing it, false after the last
  // one or on a failure, which error() then tells (and which ends it).
  bool next();
  const StoredRow& row() const { return row_; }
  const std::string& error() const { return error_; }

  // The statement that reads one unit's rows of a filter, for the cursor
  // and for checking its query plan: parameters :data_id, :from, :after (the
  // rows at :from after this id), and :to when the filter has an end.
  static std::string unit_rows_sql(const RowFilter& filter);

  // Adds the data ids of the units with rows in the database, ascending,
  // each found through the index that starts with the data id: false on a
  // failure of SQLite.
  static bool units_in(sqlite3* db, std::vector<std::uint32_t>& data_ids);

 private:
  // One unit's statement and its current row.
  struct UnitRows {
    sqlite3_stmt* statement = nullptr;
    std::uint32_t data_id = 0;
    std::string_view time;
    std::int64_t id = 0;
  };
  // Orders pending_ as a heap with the unit of the earliest row on top.
  struct Later {
    const HistoryCursor* cursor;
    bool operator()(std::size_t a, std::size_t b) const;
  };
  // A row of the batch: its text and record lie in the arena.
  struct BatchRow {
    std::int64_t id;
    std::uint32_t data_id;
    std::size_t time_at;
    std::size_t time_size;
    std::size_t record_at;
    std::size_t record_size;
  };

  HistoryCursor(std::string path, RowFilter filter);
  // Opens a connection and starts each unit's rows after the last row
  // handed out; false with error_ set.
  bool start();
  void finish();
  // Steps a unit's statement; false at its end or on a failure.
  bool step(UnitRows& unit);
  // Reads the next batch; false when there is none or on a failure.
  bool fill();
  // Reads rows into the batch: false on a failure of SQLite.
  bool read_batch();
  // Sets error_ from SQLite's message; false.
  bool failure(const char* doing);

  std::string path_;
  RowFilter filter_;
  std::unique_ptr<HistoryReadConnection> connection_;
  std::vector<UnitRows> units_;
  std::vector<std::size_t> pending_;  // units with a current row, a heap by time
  std::vector<BatchRow> batch_;
  std::vector<unsigned char> arena_;
  std::size_t next_in_batch_ = 0;
  bool done_ = false;  // every row read, or a failure
  // The last row of the last sound batch: a new connection goes on after it.
  std::string after_time_;
  std::int64_t after_id_;
  StoredRow row_;
  std::string error_;
};

}  // namespace sitehost
