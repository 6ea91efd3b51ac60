// The SQLite device history: one row per stored record, the newest row per
// unit, WAL journal, and the writer thread that never loses a queued row.
#include <gtest/gtest.h>
#include <sqlite3.h>
#include <stdlib.h>
#include <unistd.h>

#include <string>
#include <vector>

#include "host/services/history_store.h"
#include "host/services/history_writer.h"

namespace {

using sitehost::HistoryStore;

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

  std::unique_ptr<HistoryStore> open(
      HistoryStore::Access access = HistoryStore::Access::read_write) {
    std::string error;
    auto store = HistoryStore::open(path_, access, error);
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

  std::string folder_;
  std::string path_;
};

TEST_F(HistoryFile, KeepsOneRowPerStoreAndFindsTheNewestPerUnit) {
  auto store = open();
  ASSERT_NE(store, nullptr);
  for (unsigned char fill = 1; fill <= 3; ++fill) {
    const auto bytes = record(fill);
    EXPECT_EQ(
        store->append(7, "2024-01-02 03:04:0" + std::to_string(fill), bytes.data(), bytes.size()),
        "");
  }
  const auto other = record(9);
  EXPECT_EQ(store->append(8, "2024-01-02 03:05:00", other.data(), other.size()), "");

  std::string error;
  const auto newest = store->newest(7, error);
  ASSERT_TRUE(newest) << error;
  EXPECT_EQ(newest->data_id, 7u);
  EXPECT_EQ(newest->record, record(3));
  EXPECT_EQ(newest->time, "2024-01-02 03:04:03");
  const auto any = store->newest(std::nullopt, error);
  ASSERT_TRUE(any);
  EXPECT_EQ(any->data_id, 8u);
  EXPECT_FALSE(store->newest(99, error));
  EXPECT_EQ(error, "");
  EXPECT_EQ(query_text("SELECT COUNT(*) FROM history WHERE data_id = 7"), "3");
  EXPECT_EQ(query_text("SELECT length(record) FROM history WHERE data_id = 8"), "441");
}

TEST_F(HistoryFile, RunsInWalModeAndSurvivesReopening) {
  {
    auto store = open();
    ASSERT_NE(store, nullptr);
    const auto bytes = record(5);
    ASSERT_EQ(store->append(1, "2024-01-01 00:00:00", bytes.data(), bytes.size()), "");
  }
  EXPECT_EQ(query_text("PRAGMA journal_mode"), "wal");
  auto reopened = open(HistoryStore::Access::read_only);
  ASSERT_NE(reopened, nullptr);
  std::string error;
  const auto newest = reopened->newest(1, error);
  ASSERT_TRUE(newest) << error;
  EXPECT_EQ(newest->record, record(5));
}

TEST_F(HistoryFile, ReportsFailuresAsTexts) {
  std::string error;
  EXPECT_EQ(HistoryStore::open(path_, HistoryStore::Access::read_only, error), nullptr);
  EXPECT_NE(error.find(path_), std::string::npos) << error;

  { open(); }
  auto read_only = open(HistoryStore::Access::read_only);
  ASSERT_NE(read_only, nullptr);
  const auto bytes = record(1);
  EXPECT_NE(read_only->append(1, "2024-01-01 00:00:00", bytes.data(), bytes.size()), "");

  error.clear();
  EXPECT_EQ(HistoryStore::open(folder_, HistoryStore::Access::read_write, error), nullptr);
  EXPECT_NE(error, "");
}

TEST_F(HistoryFile, WriterStoresEveryQueuedRowInOrderBeforeItStops) {
  constexpr int kRows = 50;
  std::vector<std::string> errors;
  {
    sitehost::HistoryWriter writer(open(),
                                   [&errors](const std::string& e) { errors.push_back(e); });
    for (int row = 0; row < kRows; ++row) {
      const auto bytes = record(static_cast<unsigned char>(row));
      writer.enqueue(3, "2024-01-01 00:00:00", bytes.data(), bytes.size());
    }
    writer.stop();
    const auto late = record(0xFF);
    writer.enqueue(3, "2024-01-01 00:00:00", late.data(), late.size());
  }
  EXPECT_TRUE(errors.empty());
  EXPECT_EQ(query_text("SELECT COUNT(*) FROM history"), std::to_string(kRows));
  std::string error;
  EXPECT_EQ(open(HistoryStore::Access::read_only)->newest(3, error)->record, record(kRows - 1));
}

TEST_F(HistoryFile, AppendsAllRowsInOrderInOneGo) {
  auto store = open();
  std::vector<sitehost::HistoryRow> rows(3);
  for (std::size_t i = 0; i < rows.size(); ++i) {
    rows[i].data_id = 4;
    rows[i].time = "2024-01-02 03:04:05";
    rows[i].record = record(static_cast<unsigned char>(i + 1));
  }
  EXPECT_EQ(store->append_all(rows), "");
  EXPECT_EQ(query_text("SELECT group_concat(hex(substr(record, 1, 1)), ',') FROM history"),
            "01,02,03");
  std::string error;
  EXPECT_EQ(store->newest(4, error)->record, record(3)) << error;
}

TEST_F(HistoryFile, AppendsNoneOfTheRowsWhenOneCannotBeStored) {
  { open(); }
  auto read_only = open(HistoryStore::Access::read_only);
  ASSERT_NE(read_only, nullptr);
  std::vector<sitehost::HistoryRow> rows(2);
  for (sitehost::HistoryRow& row : rows) {
    row.time = "2024-01-02 03:04:05";
    row.record = record(1);
  }
  EXPECT_NE(read_only->append_all(rows), "");
  EXPECT_EQ(query_text("SELECT COUNT(*) FROM history"), "0");
}

TEST(LocalTimeText, HasTheStoredForm) {
  const std::string text = sitehost::local_time_text();
  ASSERT_EQ(text.size(), std::string("YYYY-MM-DD HH:MM:SS").size());
  EXPECT_EQ(text[4], '-');
  EXPECT_EQ(text[10], ' ');
  EXPECT_EQ(text[16], ':');
}

}  // namespace
