#include "host/services/history_store.h"

#include <sqlite3.h>

#include <ctime>

namespace sitehost {
namespace {

constexpr int kBusyTimeoutMs = 5000;
// Bound in place of a null pointer, which SQLite would store as NULL.
constexpr unsigned char kNoBytes = 0;
constexpr const char* kInsertRow = "INSERT INTO history (data_id, time, record) VALUES (?, ?, ?)";
constexpr const char* kWritablePragmas = "PRAGMA journal_mode=WAL; PRAGMA synchronous=NORMAL;";

// A prepared statement, finalised on every path.
class Statement {
 public:
  Statement(sqlite3* db, const char* sql) { sqlite3_prepare_v2(db, sql, -1, &statement_, nullptr); }
  ~Statement() { sqlite3_finalize(statement_); }
  Statement(const Statement&) = delete;
  Statement& operator=(const Statement&) = delete;
  sqlite3_stmt* get() const { return statement_; }

 private:
  sqlite3_stmt* statement_ = nullptr;
};

std::string db_error(sqlite3* db, const std::string& doing) {
  return doing + ": " + sqlite3_errmsg(db);
}

HistoryRow read_row(sqlite3_stmt* statement) {
  HistoryRow row;
  row.id = sqlite3_column_int64(statement, 0);
  row.data_id = static_cast<std::uint32_t>(sqlite3_column_int64(statement, 1));
  const auto* time = reinterpret_cast<const char*>(sqlite3_column_text(statement, 2));
  row.time = time != nullptr ? time : "";
  const auto* blob = static_cast<const unsigned char*>(sqlite3_column_blob(statement, 3));
  row.record.assign(blob, blob + sqlite3_column_bytes(statement, 3));
  return row;
}

}  // namespace

std::unique_ptr<HistoryStore> HistoryStore::open(const std::string& path, Access access,
                                                 std::string& error) {
  const bool writable = access == Access::read_write;
  const int flags = writable ? SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE : SQLITE_OPEN_READONLY;
  sqlite3* db = nullptr;
  if (sqlite3_open_v2(path.c_str(), &db, flags, nullptr) != SQLITE_OK) {
    error =
        db != nullptr ? db_error(db, "cannot open history " + path) : "cannot open history " + path;
    sqlite3_close(db);
    return nullptr;
  }
  // SQLite opens a file the system will not let it write read-only.
  if (writable && sqlite3_db_readonly(db, "main") == 1) {
    error = "cannot write history " + path + ": the file is read-only";
    sqlite3_close(db);
    return nullptr;
  }
  std::unique_ptr<HistoryStore> store(new HistoryStore(db));
  sqlite3_busy_timeout(db, kBusyTimeoutMs);
  if (writable && (sqlite3_exec(db, kWritablePragmas, nullptr, nullptr, nullptr) != SQLITE_OK ||
                   sqlite3_exec(db, kHistorySchema, nullptr, nullptr, nullptr) != SQLITE_OK)) {
    error = db_error(db, "cannot set up history " + path);
    return nullptr;
  }
  return store;
}

HistoryStore::~HistoryStore() {
  sqlite3_finalize(insert_);
  sqlite3_close(db_);
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
  const Statement query(db_, data_id ? "SELECT id, data_id, time, record FROM history"
                                       " WHERE data_id = ? ORDER BY id DESC LIMIT 1"
                                     : "SELECT id, data_id, time, record FROM history"
                                       " ORDER BY id DESC LIMIT 1");
  sqlite3_stmt* statement = query.get();
  if (statement == nullptr ||
      (data_id &&
       sqlite3_bind_int64(statement, 1, static_cast<sqlite3_int64>(*data_id)) != SQLITE_OK)) {
    error = db_error(db_, "cannot read history");
    return std::nullopt;
  }
  const int step = sqlite3_step(statement);
  if (step == SQLITE_ROW) {
    return read_row(statement);
  }
  if (step != SQLITE_DONE) {
    error = db_error(db_, "cannot read history");
  }
  return std::nullopt;
}

std::string local_time_text() {
  const std::time_t now = std::time(nullptr);
  std::tm local{};
  localtime_r(&now, &local);
  char text[sizeof "YYYY-MM-DD HH:MM:SS"];
  std::strftime(text, sizeof text, "%Y-%m-%d %H:%M:%S", &local);
  return text;
}

}  // namespace sitehost
