#pragma once

#include <gtest/gtest.h>
#include <sqlite3.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "host/services/history_store.h"

namespace velmocair::testing {

// A history file in a fresh folder, removed with it.
class HistoryFile : public ::testing::Test {
 protected:
  void SetUp() override {
    char pattern[] = "/tmp/velmocair-history-XXXXXX";
    ASSERT_NE(mkdtemp(pattern), nullptr);
    folder_ = pattern;
    path_ = folder_ + "/history.sqlite";
  }
  void TearDown() override {
    for (const char* suffix : {"", "-wal", "-shm"}) {
      unlink((path_ + suffix).c_str());
    }
    rmdir(folder_.c_str());
  }

  std::unique_ptr<sitehost::HistoryStore> open(
      sitehost::HistoryStore::Access access = sitehost::HistoryStore::Access::read_write) {
    std::string error;
    auto store = sitehost::HistoryStore::open(path_, access, error);
    EXPECT_NE(store, nullptr) << error;
    return store;
  }

  // Asks SQLite itself, past the store.
  std::string query_text(const char* sql) {
    sqlite3* db = nullptr;
    sqlite3_open_v2(path_.c_str(), &db, SQLITE_OPEN_READONLY, nullptr);
    sqlite3_stmt* statement = nullptr;
    std::string text;
    if (sqlite3_prepare_v2(db, sql, -1, &statement, nullptr) == SQLITE_OK &&
        sqlite3_step(statement) == SQLITE_ROW) {
      text = reinterpret_cast<const char*>(sqlite3_column_text(statement, 0));
    }
    sqlite3_finalize(statement);
    sqlite3_close(db);
    return text;
  }

  static std::vector<unsigned char> record(unsigned char fill) {
    return std::vector<unsigned char>(441, fill);
  }

  static std::int64_t file_size(const std::string& path) {
    struct stat status {};
    return stat(path.c_str(), &status) == 0 ? static_cast<std::int64_t>(status.st_size) : -1;
  }
  static bool exists(const std::string& path) { return file_size(path) >= 0; }

  std::string folder_;
  std::string path_;
};

}  // namespace velmocair::testing
