#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

struct sqlite3;
struct sqlite3_stmt;

namespace sitehost {

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
// file, and a reader never blocks the writer. Errors are values with a text.
// One thread at a time.
class HistoryStore {
 public:
  enum class Access : unsigned char { read_write, read_only };

  // Opens (creating when writable) the file; null with `error` set on failure.
  static std::unique_ptr<HistoryStore> open(const std::string& path, Access access,
                                            std::string& error);
  ~HistoryStore();
  HistoryStore(const HistoryStore&) = delete;
  HistoryStore& operator=(const HistoryStore&) = delete;

  // Empty on success, else the reason.
  std::string append(std::uint32_t data_id, const std::string& time, const unsigned char* data,
                     std::size_t length);
  // Appends the rows (their ids are ignored) in order, in one transaction:
  // all of them or, with the reason returned, none.
  std::string append_all(const std::vector<HistoryRow>& rows);

  // The newest row of `data_id`, or of any unit when none is given.
  std::optional<HistoryRow> newest(std::optional<std::uint32_t> data_id, std::string& error) const;

 private:
  explicit HistoryStore(sqlite3* db) : db_(db) {}
  // One insert with the statement prepared once for the store's life.
  bool insert(std::uint32_t data_id, const std::string& time, const unsigned char* data,
              std::size_t length);
  sqlite3* db_;
  sqlite3_stmt* insert_ = nullptr;
};

inline constexpr const char* kHistorySchema =
    "CREATE TABLE IF NOT EXISTS history ("
    " id INTEGER PRIMARY KEY,"
    " data_id INTEGER NOT NULL,"
    " time TEXT NOT NULL,"
    " record BLOB NOT NULL);"
    "CREATE INDEX IF NOT EXISTS history_by_unit ON history (data_id, id);";

// Local wall-clock time now, as the history stores it.
std::string local_time_text();

}  // namespace sitehost
