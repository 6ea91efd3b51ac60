#pragma once

#include <sqlite3.h>

namespace sitehost {

// A prepared statement, finalised on every path; null when it does not
// prepare.
class HistoryStatement {
 public:
  HistoryStatement(sqlite3* db, const char* sql) {
    sqlite3_prepare_v2(db, sql, -1, &statement_, nullptr);
  }
  ~HistoryStatement() { sqlite3_finalize(statement_); }
  HistoryStatement(const HistoryStatement&) = delete;
  HistoryStatement& operator=(const HistoryStatement&) = delete;
  sqlite3_stmt* get() const { return statement_; }

 private:
  sqlite3_stmt* statement_ = nullptr;
};

}  // namespace sitehost
