#include "host/services/history_store.h"

#include <sqlite3.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <ctime>

namespace sitehost {
namespace {

constexpr int kBusyTimeoutMs = 5000;
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
constexpr const char* kSelectRows = "SELECT id, data_id, time, record FROM history";
constexpr const char* kOldestRows = "SELECT id, time FROM history ORDER BY id LIMIT ?";
constexpr const char* kRemoveThrough = "DELETE FROM history WHERE id <= ?";
constexpr const char* kLogSuffix = "-wal";

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

// Fills `row` from a statement selecting id, data_id, time and record,
// reusing its storage.
void fill_row(sqlite3_stmt* statement, HistoryRow& row) {
  row.id = sqlite3_column_int64(statement, 0);
  row.data_id = static_cast<std::uint32_t>(sqlite3_column_int64(statement, 1));
  const auto* time = reinterpret_cast<const char*>(sqlite3_column_text(statement, 2));
  row.time.assign(time != nullptr ? time : "");
  const auto* blob = static_cast<const unsigned char*>(sqlite3_column_blob(statement, 3));
  row.record.assign(blob, blob + sqlite3_column_bytes(statement, 3));
}

// A file URI naming `path` as immutable: SQLite then takes no lock and
// creates no file beside it.
std::string immutable_uri(const std::string& path) {
  std::string uri = "file:";
  for (const char c : path) {
    if (c == '%' || c == '?' || c == '#') {
      char escaped[sizeof "%25"];
      std::snprintf(escaped, sizeof escaped, "%%%02X", static_cast<unsigned char>(c));
      uri += escaped;
    } else {
      uri += c;
    }
  }
  return uri + "?immutable=1";
}

}  // namespace

std::unique_ptr<HistoryStore> HistoryStore::open(const std::string& path, Access access,
                                                 std::string& error, Problem* problem) {
  Problem ignored = Problem::none;
  Problem& why = problem != nullptr ? *problem : ignored;
  why = Problem::cannot_open;
  const bool writable = access == Access::read_write;
  if (!writable && ::access(path.c_str(), R_OK) != 0) {
    error = "cannot read history " + path + ": " + std::strerror(errno);
    return nullptr;
  }
  const bool immutable = !writable && ::access((path + kLogSuffix).c_str(), F_OK) != 0;
  const std::string name = immutable ? immutable_uri(path) : path;
  const int flags = writable    ? SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE
                    : immutable ? SQLITE_OPEN_READONLY | SQLITE_OPEN_URI
                                : SQLITE_OPEN_READONLY;
  sqlite3* db = nullptr;
  if (sqlite3_open_v2(name.c_str(), &db, flags, nullptr) != SQLITE_OK) {
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
  if (sqlite3_exec(db, kShapeCheck, nullptr, nullptr, nullptr) != SQLITE_OK) {
    why = Problem::not_a_history;
    error = path + ": not a history file (" + sqlite3_errmsg(db) + ")";
    return nullptr;
  }
  why = Problem::none;
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
    HistoryRow row;
    fill_row(statement, row);
    return row;
  }
  if (step != SQLITE_DONE) {
    error = db_error(db_, "cannot read history");
  }
  return std::nullopt;
}

std::string HistoryStore::for_each_row(const RowFilter& filter,
                                       const std::function<void(const HistoryRow&)>& each) const {
  std::string sql = kSelectRows;
  std::vector<std::string> conditions;
  if (filter.data_id) {
    conditions.emplace_back("data_id = :data_id");
  }
  if (!filter.from.empty()) {
    conditions.emplace_back("time >= :from");
  }
  if (!filter.to.empty()) {
    conditions.emplace_back("time < :to");
  }
  for (std::size_t i = 0; i < conditions.size(); ++i) {
    sql += (i == 0 ? " WHERE " : " AND ") + conditions[i];
  }
  sql += " ORDER BY id";
  const Statement query(db_, sql.c_str());
  sqlite3_stmt* statement = query.get();
  if (statement == nullptr) {
    return db_error(db_, "cannot read history");
  }
  if (filter.data_id) {
    sqlite3_bind_int64(statement, sqlite3_bind_parameter_index(statement, ":data_id"),
                       static_cast<sqlite3_int64>(*filter.data_id));
  }
  sqlite3_bind_text(statement, sqlite3_bind_parameter_index(statement, ":from"),
                    filter.from.c_str(), -1, SQLITE_STATIC);
  sqlite3_bind_text(statement, sqlite3_bind_parameter_index(statement, ":to"), filter.to.c_str(),
                    -1, SQLITE_STATIC);
  HistoryRow row;
  int step = SQLITE_ROW;
  while ((step = sqlite3_step(statement)) == SQLITE_ROW) {
    fill_row(statement, row);
    each(row);
  }
  return step == SQLITE_DONE ? std::string() : db_error(db_, "cannot read history");
}

int HistoryStore::remove_older_than(const std::string& cutoff, int most, std::string& error) {
  return remove_oldest_before(&cutoff, most, error);
}

int HistoryStore::remove_oldest(int most, std::string& error) {
  return remove_oldest_before(nullptr, most, error);
}

int HistoryStore::remove_oldest_before(const std::string* cutoff, int most, std::string& error) {
  const Statement oldest(db_, kOldestRows);
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
  const Statement remove(db_, kRemoveThrough);
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

std::int64_t HistoryStore::pragma_number(const char* sql, std::string& error) const {
  const Statement query(db_, sql);
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
