#include "host/services/history_store.h"

#include <sqlite3.h>
#include <sys/stat.h>

#include <ctime>

#include "host/services/history_read_connection.h"
#include "host/services/history_statement.h"

namespace sitehost {
namespace {

// PRAGMA auto_vacuum of a file whose free pages can be handed back in steps.
constexpr int kIncrementalVacuum = 2;
// Bound in place of a null pointer, which SQLite would store as NULL.
constexpr unsigned char kNoBytes = 0;
constexpr const char* kInsertRow = "INSERT INTO history (data_id, time, record) VALUES (?, ?, ?)";
// auto_vacuum takes effect only in a file that has no table yet: a new one.
// The log is cut back to kLogBytesKept whenever a checkpoint restarts it.
constexpr const char* kWritablePragmas =
    "PRAGMA auto_vacuum=INCREMENTAL; PRAGMA journal_mode=WAL; PRAGMA synchronous=NORMAL;"
    " PRAGMA journal_size_limit=4194304;";
// A query every history file answers; anything else is not a history.
constexpr const char* kShapeCheck = "SELECT id, data_id, time, record FROM history LIMIT 0";
constexpr const char* kOldestRows = "SELECT id, time FROM history ORDER BY id LIMIT ?";
constexpr const char* kRemoveThrough = "DELETE FROM history WHERE id <= ?";

std::string db_error(sqlite3* db, const std::string& doing) {
  return doing + ": " + sqlite3_errmsg(db);
}

// The newest row of `data_id`, or of any unit, in the database.
std::optional<HistoryRow> newest_in(sqlite3* db, std::optional<std::uint32_t> data_id,
                                    std::string& error) {
  const HistoryStatement query(db, data_id ? "SELECT id, data_id, time, record FROM history"
                                             " WHERE data_id = ? ORDER BY id DESC LIMIT 1"
                                           : "SELECT id, data_id, time, record FROM history"
                                             " ORDER BY id DESC LIMIT 1");
  sqlite3_stmt* statement = query.get();
  if (statement == nullptr ||
      (data_id &&
       sqlite3_bind_int64(statement, 1, static_cast<sqlite3_int64>(*data_id)) != SQLITE_OK)) {
    error = db_error(db, "cannot read history");
    return std::nullopt;
  }
  const int step = sqlite3_step(statement);
  if (step == SQLITE_ROW) {
    HistoryRow row;
    row.id = sqlite3_column_int64(statement, 0);
    row.data_id = static_cast<std::uint32_t>(sqlite3_column_int64(statement, 1));
    const auto* time = reinterpret_cast<const char*>(sqlite3_column_text(statement, 2));
    row.time.assign(time != nullptr ? time : "");
    const auto* blob = static_cast<const unsigned char*>(sqlite3_column_blob(statement, 3));
    row.record.assign(blob, blob + sqlite3_column_bytes(statement, 3));
    return row;
  }
  if (step != SQLITE_DONE) {
    error = db_error(db, "cannot read history");
  }
  return std::nullopt;
}

// Runs `read` (a function of a read-only connection's database) on a fresh
// connection to the file until one shows what it read sound: that
// connection, or null with `error` set when none opens or none is sound.
template <class Read>
std::unique_ptr<HistoryReadConnection> read_soundly(const std::string& path, std::string& error,
                                                    Read read) {
  for (int attempt = 0; attempt < kMostHistoryReadConnections; ++attempt) {
    std::unique_ptr<HistoryReadConnection> connection = HistoryReadConnection::open(path, error);
    if (connection == nullptr) {
      return nullptr;
    }
    read(connection->db());
    if (connection->sound()) {
      return connection;
    }
  }
  error = "cannot read history " + path + ": the file kept changing while it was read";
  return nullptr;
}

bool is_folder(const std::string& path) {
  struct stat status {};
  return ::stat(path.c_str(), &status) == 0 && S_ISDIR(status.st_mode);
}

}  // namespace

std::unique_ptr<HistoryStore> HistoryStore::open(const std::string& path, Access access,
                                                 std::string& error, Problem* problem) {
  Problem ignored = Problem::none;
  Problem& why = problem != nullptr ? *problem : ignored;
  why = Problem::cannot_open;
  if (is_folder(path)) {
    error = "history " + path + " is a folder, not a file";
    return nullptr;
  }
  if (access == Access::read_only) {
    std::string shape_error;
    std::unique_ptr<HistoryReadConnection> reader =
        read_soundly(path, error, [&shape_error](sqlite3* db) {
          shape_error.clear();
          if (sqlite3_exec(db, kShapeCheck, nullptr, nullptr, nullptr) != SQLITE_OK) {
            shape_error = sqlite3_errmsg(db);
          }
        });
    if (reader == nullptr) {
      return nullptr;
    }
    if (!shape_error.empty()) {
      why = Problem::not_a_history;
      error = path + ": not a history file (" + shape_error + ")";
      return nullptr;
    }
    why = Problem::none;
    sqlite3* const db = reader->db();
    return std::unique_ptr<HistoryStore>(new HistoryStore(db, path, std::move(reader)));
  }
  sqlite3* db = nullptr;
  if (sqlite3_open_v2(path.c_str(), &db, SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE, nullptr) !=
      SQLITE_OK) {
    error =
        db != nullptr ? db_error(db, "cannot open history " + path) : "cannot open history " + path;
    sqlite3_close(db);
    return nullptr;
  }
  // SQLite opens a file the system will not let it write read-only.
  if (sqlite3_db_readonly(db, "main") == 1) {
    error = "cannot write history " + path + ": the file is read-only";
    sqlite3_close(db);
    return nullptr;
  }
  std::unique_ptr<HistoryStore> store(new HistoryStore(db, path, nullptr));
  sqlite3_busy_timeout(db, kHistoryBusyTimeoutMs);
  if (sqlite3_exec(db, kWritablePragmas, nullptr, nullptr, nullptr) != SQLITE_OK ||
      sqlite3_exec(db, kHistorySchema, nullptr, nullptr, nullptr) != SQLITE_OK) {
    error = db_error(db, "cannot set up history " + path);
    return nullptr;
  }
  if (sqlite3_exec(db, kShapeCheck, nullptr, nullptr, nullptr) != SQLITE_OK) {
    why = Problem::not_a_history;
    error = path + ": not a history file (" + sqlite3_errmsg(db) + ")";
    return nullptr;
  }
  why = Problem::none;
  return store;
}

HistoryStore::HistoryStore(sqlite3* db, std::string path,
                           std::unique_ptr<HistoryReadConnection> reader)
    : reader_(std::move(reader)), db_(db), path_(std::move(path)) {}

HistoryStore::~HistoryStore() {
  sqlite3_finalize(insert_);
  if (reader_ == nullptr) {
    sqlite3_close(db_);
  }
}

bool HistoryStore::insert(std::uint32_t data_id, const std::string& time, const unsigned char* data,
                          std::size_t length) {
  if (insert_ == nullptr &&
      sqlite3_prepare_v2(db_, kInsertRow, -1, &insert_, nullptr) != SQLITE_OK) {
    return false;
  }
  const bool stored =
      sqlite3_bind_int64(insert_, 1, static_cast<sqlite3_int64>(data_id)) == SQLITE_OK &&
      sqlite3_bind_text(insert_, 2, time.c_str(), -1, SQLITE_TRANSIENT) == SQLITE_OK &&
      sqlite3_bind_blob64(insert_, 3, data != nullptr ? data : &kNoBytes, length,
                          SQLITE_TRANSIENT) == SQLITE_OK &&
      sqlite3_step(insert_) == SQLITE_DONE;
  sqlite3_reset(insert_);
  sqlite3_clear_bindings(insert_);
  return stored;
}

std::string HistoryStore::append(std::uint32_t data_id, const std::string& time,
                                 const unsigned char* data, std::size_t length) {
  if (!insert(data_id, time, data, length)) {
    return db_error(db_, "cannot store history");
  }
  return {};
}

std::string HistoryStore::append_all(const std::vector<HistoryRow>& rows) {
  if (sqlite3_exec(db_, "BEGIN", nullptr, nullptr, nullptr) != SQLITE_OK) {
    return db_error(db_, "cannot store history");
  }
  for (const HistoryRow& row : rows) {
    if (!insert(row.data_id, row.time, row.record.data(), row.record.size())) {
      const std::string error = db_error(db_, "cannot store history");
      sqlite3_exec(db_, "ROLLBACK", nullptr, nullptr, nullptr);
      return error;
    }
  }
  if (sqlite3_exec(db_, "COMMIT", nullptr, nullptr, nullptr) != SQLITE_OK) {
    const std::string error = db_error(db_, "cannot store history");
    sqlite3_exec(db_, "ROLLBACK", nullptr, nullptr, nullptr);
    return error;
  }
  return {};
}

std::optional<HistoryRow> HistoryStore::newest(std::optional<std::uint32_t> data_id,
                                               std::string& error) const {
  if (reader_ == nullptr) {
    return newest_in(db_, data_id, error);
  }
  std::optional<HistoryRow> row;
  read_soundly(path_, error, [&](sqlite3* db) {
    error.clear();
    row = newest_in(db, data_id, error);
  });
  return row;
}

std::vector<std::uint32_t> HistoryStore::data_ids(std::string& error) const {
  std::vector<std::uint32_t> found;
  const auto list = [&](sqlite3* db) {
    error.clear();
    found.clear();
    if (!HistoryCursor::units_in(db, found)) {
      error = db_error(db, "cannot read history");
    }
  };
  if (reader_ == nullptr) {
    list(db_);
  } else {
    read_soundly(path_, error, list);
  }
  return found;
}

std::unique_ptr<HistoryCursor> HistoryStore::query(const RowFilter& filter,
                                                   std::string& error) const {
  return HistoryCursor::open(path_, filter, error);
}

std::string HistoryStore::for_each_row(const RowFilter& filter,
                                       const std::function<void(const HistoryRow&)>& each) const {
  std::string error;
  const std::unique_ptr<HistoryCursor> cursor = query(filter, error);
  if (cursor == nullptr) {
    return error;
  }
  HistoryRow row;
  while (cursor->next()) {
    const StoredRow& stored = cursor->row();
    row.id = stored.id;
    row.data_id = stored.data_id;
    row.time.assign(stored.time);
    row.record.assign(stored.record, stored.record + stored.record_size);
    each(row);
  }
  return cursor->error();
}

int HistoryStore::remove_older_than(const std::string& cutoff, int most, std::string& error) {
  return remove_oldest_before(&cutoff, most, error);
}

int HistoryStore::remove_oldest(int most, std::string& error) {
  return remove_oldest_before(nullptr, most, error);
}

int HistoryStore::remove_oldest_before(const std::string* cutoff, int most, std::string& error) {
  const HistoryStatement oldest(db_, kOldestRows);
  if (oldest.get() == nullptr || sqlite3_bind_int(oldest.get(), 1, most) != SQLITE_OK) {
    error = db_error(db_, "cannot read history");
    return -1;
  }
  std::int64_t last = 0;
  int count = 0;
  int step = SQLITE_ROW;
  while ((step = sqlite3_step(oldest.get())) == SQLITE_ROW) {
    const auto* time = reinterpret_cast<const char*>(sqlite3_column_text(oldest.get(), 1));
    if (cutoff != nullptr && (time == nullptr || cutoff->compare(time) <= 0)) {
      break;
    }
    last = sqlite3_column_int64(oldest.get(), 0);
    ++count;
  }
  if (step != SQLITE_ROW && step != SQLITE_DONE) {
    error = db_error(db_, "cannot read history");
    return -1;
  }
  sqlite3_reset(oldest.get());
  if (count == 0) {
    return 0;
  }
  const HistoryStatement remove(db_, kRemoveThrough);
  if (remove.get() == nullptr || sqlite3_bind_int64(remove.get(), 1, last) != SQLITE_OK ||
      sqlite3_step(remove.get()) != SQLITE_DONE) {
    error = db_error(db_, "cannot remove old rows");
    return -1;
  }
  return count;
}

std::int64_t HistoryStore::used_bytes(std::string& error) const {
  const std::int64_t pages = pragma_number("PRAGMA page_count", error);
  const std::int64_t free_pages = pragma_number("PRAGMA freelist_count", error);
  const std::int64_t page_size = pragma_number("PRAGMA page_size", error);
  if (pages < 0 || free_pages < 0 || page_size < 0) {
    return -1;
  }
  return (pages - free_pages) * page_size;
}

int HistoryStore::release_free_pages(int most, std::string& error) {
  const std::string step = "PRAGMA incremental_vacuum(" + std::to_string(most) + ")";
  if (sqlite3_exec(db_, step.c_str(), nullptr, nullptr, nullptr) != SQLITE_OK) {
    error = db_error(db_, "cannot release free pages");
    return -1;
  }
  if (pragma_number("PRAGMA auto_vacuum", error) != kIncrementalVacuum) {
    return 0;
  }
  return static_cast<int>(pragma_number("PRAGMA freelist_count", error));
}

bool HistoryStore::empty_log(std::string& error) {
  // Readers are not waited for: the writer's thread must not stall.
  sqlite3_busy_timeout(db_, 0);
  const int result =
      sqlite3_wal_checkpoint_v2(db_, nullptr, SQLITE_CHECKPOINT_TRUNCATE, nullptr, nullptr);
  sqlite3_busy_timeout(db_, kHistoryBusyTimeoutMs);
  if (result != SQLITE_OK && result != SQLITE_BUSY) {
    error = db_error(db_, "cannot empty the history's log");
  }
  return result == SQLITE_OK;
}

std::int64_t HistoryStore::pragma_number(const char* sql, std::string& error) const {
  const HistoryStatement query(db_, sql);
  if (query.get() == nullptr || sqlite3_step(query.get()) != SQLITE_ROW) {
    error = db_error(db_, "cannot read history");
    return -1;
  }
  return sqlite3_column_int64(query.get(), 0);
}

// Row times come from time_t, 64 bits wide on every build (_TIME_BITS=64 on
// 32-bit ones), so they go on past January 2038.
static_assert(sizeof(std::time_t) == 8, "time_t must be 64 bits wide: build with _TIME_BITS=64");

std::string local_time_text() { return local_time_text_before(0); }

std::string local_time_text_before(std::int64_t seconds_ago) {
  const std::time_t then = std::time(nullptr) - static_cast<std::time_t>(seconds_ago);
  std::tm local{};
  localtime_r(&then, &local);
  char text[sizeof "YYYY-MM-DD HH:MM:SS"];
  std::strftime(text, sizeof text, "%Y-%m-%d %H:%M:%S", &local);
  return text;
}

}  // namespace sitehost
