#include "tests/robustness/history_file.h"

#include <sqlite3.h>

#include <memory>

#include "host/services/history_store.h"

namespace velmocair::robustness {
namespace {

constexpr std::size_t kBlankRecordBytes = 441;

using Database = std::unique_ptr<sqlite3, decltype(&sqlite3_close)>;
using Statement = std::unique_ptr<sqlite3_stmt, decltype(&sqlite3_finalize)>;

Database open_database(const std::string& path) {
  sqlite3* db = nullptr;
  sqlite3_open_v2(path.c_str(), &db, SQLITE_OPEN_READWRITE, nullptr);
  return Database(db, &sqlite3_close);
}

Statement prepare(sqlite3* db, const char* sql) {
  sqlite3_stmt* statement = nullptr;
  sqlite3_prepare_v2(db, sql, -1, &statement, nullptr);
  return Statement(statement, &sqlite3_finalize);
}

}  // namespace

std::vector<StoredRow> stored_rows(const std::string& path) {
  std::vector<StoredRow> rows;
  const Database db = open_database(path);
  const Statement query = prepare(db.get(), "SELECT id, data_id, record FROM history ORDER BY id");
  while (query && sqlite3_step(query.get()) == SQLITE_ROW) {
    const auto* blob = static_cast<const unsigned char*>(sqlite3_column_blob(query.get(), 2));
    const int bytes = sqlite3_column_bytes(query.get(), 2);
    rows.push_back({sqlite3_column_int64(query.get(), 0),
                    static_cast<std::uint32_t>(sqlite3_column_int64(query.get(), 1)),
                    std::vector<unsigned char>(blob, blob + bytes)});
  }
  return rows;
}

std::string prefill_history(const std::string& path, std::uint32_t data_id, int rows) {
  std::string error;
  auto store =
      sitehost::HistoryStore::open(path, sitehost::HistoryStore::Access::read_write, error);
  if (store == nullptr) {
    return error;
  }
  std::vector<sitehost::HistoryRow> filled(static_cast<std::size_t>(rows));
  for (sitehost::HistoryRow& row : filled) {
    row.data_id = data_id;
    row.time = "2024-01-01 00:00:00";
    row.record.assign(kBlankRecordBytes, 0);
  }
  return store->append_all(filled);
}

std::string integrity_check(const std::string& path) {
  const Database db = open_database(path);
  const Statement check = prepare(db.get(), "PRAGMA integrity_check");
  std::string verdict;
  while (check && sqlite3_step(check.get()) == SQLITE_ROW) {
    const auto* line = reinterpret_cast<const char*>(sqlite3_column_text(check.get(), 0));
    verdict += (verdict.empty() ? "" : "; ") + std::string(line != nullptr ? line : "");
  }
  return verdict.empty() ? "no answer from " + path : verdict;
}

}  // namespace velmocair::robustness
