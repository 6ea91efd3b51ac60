// The SQLite device history: one row per stored record, the newest row per
// unit, WAL journal, and the writer thread that never loses a queued row.
#include <gtest/gtest.h>
#include <sqlite3.h>

#include <algorithm>
#include <chrono>
#include <string>
#include <thread>
#include <vector>

#include "host/services/history_retention.h"
#include "host/services/history_store.h"
#include "host/services/history_writer.h"
#include "tests/host_services/history_file.h"

namespace {

using sitehost::HistoryStore;
using velmocair::testing::HistoryFile;

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

// Steps the pruner until it is done; the steps it took.
int prune_fully(HistoryStore& store, sitehost::HistoryPruner& pruner,
                std::chrono::steady_clock::time_point now = {}) {
  std::string error;
  int steps = 1;
  while (pruner.step(store, now, error)) {
    ++steps;
  }
  EXPECT_EQ(error, "");
  return steps;
}

int prune_fully(HistoryStore& store, const sitehost::Retention& retention) {
  sitehost::HistoryPruner pruner(retention);
  return prune_fully(store, pruner);
}

TEST_F(HistoryFile, RetentionRemovesTheOldestRowsBeyondItAndKeepsTheRest) {
  auto store = open();
  const auto bytes = record(1);
  // Rows 1-300 of long ago, then 5 of now, then one of long ago again
  // (a clock set back): age removes the oldest run only, in steps.
  for (int row = 0; row < 300; ++row) {
    ASSERT_EQ(store->append(1, "2001-01-01 00:00:00", bytes.data(), bytes.size()), "");
  }
  for (int row = 0; row < 5; ++row) {
    ASSERT_EQ(store->append(2, sitehost::local_time_text(), bytes.data(), bytes.size()), "");
  }
  ASSERT_EQ(store->append(1, "2001-01-01 00:00:00", bytes.data(), bytes.size()), "");
  sitehost::Retention by_age;
  by_age.keep_seconds = 3600;
  EXPECT_GE(prune_fully(*store, by_age), 2) << "300 rows take more than one step";
  EXPECT_EQ(query_text("SELECT group_concat(id) FROM (SELECT id FROM history ORDER BY id)"),
            "301,302,303,304,305,306");

  // By size: the newest rows that fit, the oldest gone.
  for (int row = 0; row < 1000; ++row) {
    ASSERT_EQ(store->append(3, sitehost::local_time_text(), bytes.data(), bytes.size()), "");
  }
  std::string error;
  const std::int64_t full = store->used_bytes(error);
  sitehost::Retention by_size;
  by_size.max_bytes = full / 4;
  prune_fully(*store, by_size);
  EXPECT_LE(store->used_bytes(error), full / 4);
  EXPECT_GT(store->used_bytes(error), full / 8) << "no more is removed than needed";
  EXPECT_EQ(query_text("SELECT max(id) FROM history"), "1306");
  EXPECT_EQ(query_text("SELECT max(id) - min(id) + 1 = count(*) FROM history"), "1")
      << "what stays is the newest rows, without holes";
  EXPECT_EQ(query_text("PRAGMA freelist_count"), "0") << "freed pages are handed back";
  EXPECT_EQ(file_size(path_ + "-wal"), 0) << "and the log is emptied into the file";
}

// A reader in the middle of its rows keeps the log it reads from: the file
// shrinks once it has let go, at the pruner's next try.
TEST_F(HistoryFile, PruningGivesTheSpaceBackOnceNoReaderKeepsTheLog) {
  constexpr int kRows = 3000;
  {
    std::vector<sitehost::HistoryRow> rows(kRows);
    for (sitehost::HistoryRow& row : rows) {
      row.data_id = 1;
      row.time = "2001-01-01 00:00:00";
      row.record = record(7);
    }
    ASSERT_EQ(open()->append_all(rows), "");
  }
  const std::int64_t full = file_size(path_);
  auto store = open();
  std::string error;
  auto reader = store->query({}, error);
  ASSERT_NE(reader, nullptr) << error;
  ASSERT_TRUE(reader->next());

  sitehost::Retention by_age;
  by_age.keep_seconds = 3600;
  sitehost::HistoryPruner pruner(by_age);
  const auto now = std::chrono::steady_clock::time_point{} + std::chrono::hours(1);
  prune_fully(*store, pruner, now);
  EXPECT_EQ(query_text("SELECT count(*) FROM history"), "0");
  EXPECT_GT(file_size(path_ + "-wal"), 0) << "the reader keeps the log";
  EXPECT_GE(file_size(path_), full);
  int read = 1;
  while (reader->next()) {
    ++read;
  }
  EXPECT_EQ(read, kRows) << "the reader reads on in its snapshot: " << reader->error();
  reader.reset();

  const auto retry = sitehost::HistoryPruner::kLogRetry;
  prune_fully(*store, pruner, now + retry - std::chrono::seconds(1));
  EXPECT_GT(file_size(path_ + "-wal"), 0) << "not tried again before the retry";
  prune_fully(*store, pruner, now + retry);
  EXPECT_EQ(file_size(path_ + "-wal"), 0);
  EXPECT_LT(file_size(path_), full / 10);
  EXPECT_EQ(query_text("PRAGMA integrity_check"), "ok");
}

TEST_F(HistoryFile, UnderRetentionTheFileLevelsOffOverALongRun) {
  constexpr std::int64_t kMaxBytes = 256 * 1024;
  constexpr int kRounds = 12;
  constexpr int kRowsPerRound = 500;
  sitehost::Retention retention;
  retention.max_bytes = kMaxBytes;
  std::vector<std::int64_t> sizes;
  for (int round = 0; round < kRounds; ++round) {
    {
      sitehost::HistoryWriter writer(open(), nullptr, retention);
      for (int row = 0; row < kRowsPerRound; ++row) {
        const auto bytes = record(static_cast<unsigned char>(row));
        writer.enqueue(1, sitehost::local_time_text(), bytes.data(), bytes.size());
      }
    }
    sizes.push_back(file_size(path_));
  }
  // 6000 rows of 441 bytes would be about 3 MB; a round's 500 rows stand
  // beyond the limit until pruning has removed as many.
  const std::int64_t first_half = *std::max_element(sizes.begin(), sizes.begin() + kRounds / 2);
  for (int round = kRounds / 2; round < kRounds; ++round) {
    EXPECT_LE(sizes[static_cast<std::size_t>(round)], first_half)
        << "round " << round << " of sizes " << ::testing::PrintToString(sizes);
  }
  EXPECT_LE(first_half, 2 * kMaxBytes) << ::testing::PrintToString(sizes);
  EXPECT_EQ(query_text("SELECT max(id) FROM history"), std::to_string(kRounds * kRowsPerRound));
  EXPECT_EQ(query_text("PRAGMA integrity_check"), "ok");
}

TEST_F(HistoryFile, WriterCountsRowsItCannotStoreAndReportsOnce) {
  { open(); }
  std::vector<std::string> reports;
  std::uint64_t lost = 0;
  {
    sitehost::HistoryWriter writer(
        open(HistoryStore::Access::read_only),
        [&reports](const std::string& line) { reports.push_back(line); });
    for (int row = 0; row < 30; ++row) {
      const auto bytes = record(1);
      writer.enqueue(1, "2024-01-01 00:00:00", bytes.data(), bytes.size());
      if (row % 10 == 0) {
        std::this_thread::sleep_for(std::chrono::milliseconds(20));  // several batches
      }
    }
    writer.stop();
    lost = writer.lost_rows();
  }
  EXPECT_EQ(lost, 30u);
  ASSERT_EQ(reports.size(), 2u) << ::testing::PrintToString(reports);
  EXPECT_NE(reports[0].find("readonly"), std::string::npos) << reports[0];
  EXPECT_NE(reports[0].find("rows that cannot be stored are counted"), std::string::npos);
  EXPECT_EQ(reports[1], "history: 30 rows could not be stored");
}

TEST_F(HistoryFile, ReadingCreatesNothingBesideTheFileAndKnowsAHistory) {
  {
    auto store = open();
    const auto bytes = record(2);
    ASSERT_EQ(store->append(1, "2024-01-01 00:00:00", bytes.data(), bytes.size()), "");
  }
  ASSERT_FALSE(exists(path_ + "-wal")) << "a closed store leaves no log";
  {
    auto reader = open(HistoryStore::Access::read_only);
    ASSERT_NE(reader, nullptr);
    int rows = 0;
    EXPECT_EQ(reader->for_each_row({}, [&rows](const sitehost::HistoryRow&) { ++rows; }), "");
    EXPECT_EQ(rows, 1);
  }
  EXPECT_FALSE(exists(path_ + "-wal"));
  EXPECT_FALSE(exists(path_ + "-shm"));

  std::string error;
  HistoryStore::Problem problem = HistoryStore::Problem::none;
  const std::string other = folder_ + "/other.sqlite";
  sqlite3* db = nullptr;
  sqlite3_open(other.c_str(), &db);
  sqlite3_exec(db, "CREATE TABLE t (x)", nullptr, nullptr, nullptr);
  sqlite3_close(db);
  EXPECT_EQ(HistoryStore::open(other, HistoryStore::Access::read_only, error, &problem), nullptr);
  EXPECT_EQ(problem, HistoryStore::Problem::not_a_history) << error;
  EXPECT_NE(error.find("not a history file"), std::string::npos) << error;
  unlink(other.c_str());
  EXPECT_EQ(HistoryStore::open(folder_ + "/none.sqlite", HistoryStore::Access::read_only, error,
                               &problem),
            nullptr);
  EXPECT_EQ(problem, HistoryStore::Problem::cannot_open) << error;
}

TEST_F(HistoryFile, HandsOutTheRowsOfAUnitAndAPeriod) {
  auto store = open();
  const auto bytes = record(3);
  // clang-format off
  const std::pair<std::uint32_t, const char*> rows[] = {
      {1, "2024-01-01 23:59:59"}, {2, "2024-01-02 00:00:00"}, {1, "2024-01-02 00:00:00"},
      {1, "2024-01-02 12:00:00"}, {1, "2024-01-03 00:00:00"},
  };
  // clang-format on
  for (const auto& [data_id, time] : rows) {
    ASSERT_EQ(store->append(data_id, time, bytes.data(), bytes.size()), "");
  }
  std::string ids;
  const sitehost::RowFilter day_of_unit_1{1, "2024-01-02 00:00:00", "2024-01-03 00:00:00"};
  EXPECT_EQ(store->for_each_row(
                day_of_unit_1,
                [&ids](const sitehost::HistoryRow& row) { ids += std::to_string(row.id) + " "; }),
            "");
  EXPECT_EQ(ids, "3 4 ");
}

TEST(LocalTimeText, HasTheStoredForm) {
  const std::string text = sitehost::local_time_text();
  ASSERT_EQ(text.size(), std::string("YYYY-MM-DD HH:MM:SS").size());
  EXPECT_EQ(text[4], '-');
  EXPECT_EQ(text[10], ' ');
  EXPECT_EQ(text[16], ':');
}

}  // namespace
