#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "host/services/history_cursor.h"

struct sqlite3;
struct sqlite3_stmt;

namespace sitehost {

class HistoryReadConnection;

// One stored record.
struct HistoryRow {
  std::int64_t id = 0;  // insertion order
  std::uint32_t data_id = 0;
  std::string time;  // host's local time of the store, "YYYY-MM-DD HH:MM:SS"
  std::vector<unsigned char> record;
};

// The device history in an SQLite file, table `history`, one row per
// SaveDeviceHistory call (see kHistorySchema). The file runs in WAL mode with
// synchronous=NORMAL: a power loss may lose the last rows, never corrupt the
// file, and a reader never blocks the writer. A file it creates has
// auto_vacuum=INCREMENTAL, so that pages freed by removing old rows can be
// handed back to the file system in small steps. Opened to write, it adds
// the indexes a file made before them lacks. Errors are values with a
// text. One thread at a time.
class HistoryStore {
 public:
  enum class Access : unsigned char { read_write, read_only };
  // Why a file could not be opened.
  enum class Problem : unsigned char { none, cannot_open, not_a_history };

  // Opens (creating when writable) the file; null with `error` set on
  // failure. Read-only, it changes nothing on disk, and a host starting or
  // writing meanwhile does not make it fail (see HistoryReadConnection).
  static std::unique_ptr<HistoryStore> open(const std::string& path, Access access,
                                            std::string& error, Problem* problem = nullptr);
  ~HistoryStore();
  HistoryStore(const HistoryStore&) = delete;
  HistoryStore& operator=(const HistoryStore&) = delete;

  // Empty on success, else the reason.
  std::string append(std::uint32_t data_id, const std::string& time, const unsigned char* data,
                     std::size_t length);
  // Appends the rows (their ids are ignored) in order, in one transaction:
  // all of them or, with the reason returned, none.
  std::string append_all(const std::vector<HistoryRow>& rows);

  // The newest row (the last stored) of `data_id`, or of any unit when none
  // is given.
  std::optional<HistoryRow> newest(std::optional<std::uint32_t> data_id, std::string& error) const;

  // The data ids of the units with rows, ascending.
  std::vector<std::uint32_t> data_ids(std::string& error) const;

  // The rows the filter selects, in time order (see HistoryCursor), read
  // through a connection of their own; null with `error` set when the file
  // cannot be read.
  std::unique_ptr<HistoryCursor> query(const RowFilter& filter, std::string& error) const;

  // Hands every row the filter selects to `each`, in the cursor's order, in
  // one object reused from row to row. Empty on success, else the reason.
  std::string for_each_row(const RowFilter& filter,
                           const std::function<void(const HistoryRow&)>& each) const;

  // Retention, each one small transaction. The oldest rows (insertion
  // order) stored before `cutoff`, up to `most` of them and stopping at the
  // first one that is not: the rows removed, or -1 with `error` set.
  int remove_older_than(const std::string& cutoff, int most, std::string& error);
  // The `most` oldest rows: the rows removed, or -1.
  int remove_oldest(int most, std::string& error);
  // Bytes of the pages that hold rows (the file's pages less its free
  // ones), or -1.
  std::int64_t used_bytes(std::string& error) const;
  // Hands up to `most` free pages back to the file system, in a file made
  // with auto_vacuum=INCREMENTAL (elsewhere free pages are only reused):
  // the free pages left to hand back, or -1.
  int release_free_pages(int most, std::string& error);
  // Copies the whole write-ahead log into the file and empties it, so that
  // the file takes the size its rows left it and the log none, without
  // waiting for readers: false (with `error` empty) while a reader still
  // uses part of the log, which then stays.
  bool empty_log(std::string& error);

 private:
  HistoryStore(sqlite3* db, std::string path, std::unique_ptr<HistoryReadConnection> reader);
  // The value of a pragma that answers with one number, or -1.
  std::int64_t pragma_number(const char* sql, std::string& error) const;
  // The oldest rows, up to `most`, stopping at the first stored at or after
  // `cutoff` when one is given: the rows removed, or -1.
  int remove_oldest_before(const std::string* cutoff, int most, std::string& error);
  // One insert with the statement prepared once for the store's life.
  bool insert(std::uint32_t data_id, const std::string& time, const unsigned char* data,
              std::size_t length);
  std::unique_ptr<HistoryReadConnection> reader_;  // read-only: the connection
  sqlite3* db_;
  std::string path_;
  sqlite3_stmt* insert_ = nullptr;
};

inline constexpr const char* kHistorySchema =
    "CREATE TABLE IF NOT EXISTS history ("
    " id INTEGER PRIMARY KEY,"
    " data_id INTEGER NOT NULL,"
    " time TEXT NOT NULL,"
    " record BLOB NOT NULL);"
    "CREATE INDEX IF NOT EXISTS history_by_unit ON history (data_id, id);"
    "CREATE INDEX IF NOT EXISTS history_by_time ON history (data_id, time);";

// Local wall-clock time now, as the history stores it.
std::string local_time_text();
// The same of the time `seconds_ago` before now.
std::string local_time_text_before(std::int64_t seconds_ago);

}  // namespace sitehost
