// Reading the history: rows of a unit and a period in time order, the same
// from a file with the time index as from one made before it, through the
// index; and a reading started before a host writes the file.
#include "host/services/history_cursor.h"

#include <gtest/gtest.h>
#include <sqlite3.h>

#include <algorithm>
#include <cstdio>
#include <ostream>
#include <string>
#include <tuple>
#include <vector>

#include "host/services/history_store.h"
#include "tests/host_services/history_file.h"

namespace {

using sitehost::HistoryCursor;
using sitehost::HistoryStore;
using sitehost::RowFilter;
using velmocair::testing::HistoryFile;

// One row as stored and as read back.
struct Row {
  std::int64_t id;
  std::uint32_t data_id;
  std::string time;
  unsigned char fill;  // every byte of its record

  bool operator==(const Row& other) const {
    return std::tie(id, data_id, time, fill) ==
           std::tie(other.id, other.data_id, other.time, other.fill);
  }
  friend std::ostream& operator<<(std::ostream& out, const Row& row) {
    return out << "#" << row.id << " unit " << row.data_id << " " << row.time << " fill "
               << int{row.fill};
  }
};

std::string time_text(int seconds) {
  char text[32];
  std::snprintf(text, sizeof text, "2024-01-01 %02d:%02d:%02d", 10 + seconds / 3600,
                seconds / 60 % 60, seconds % 60);
  return text;
}

// Rows of two units, one a second in turn, until the clock is set back five
// minutes: later rows repeat earlier times. More than a batch of the cursor.
std::vector<Row> stored_rows() {
  std::vector<Row> rows;
  for (int i = 0; i < 800; ++i) {
    const int second = i < 500 ? i : i - 300;
    rows.push_back({i + 1, static_cast<std::uint32_t>(1 + i % 2), time_text(second),
                    static_cast<unsigned char>(i % 251)});
  }
  return rows;
}

// The rows a filter selects, by the order the cursor promises.
std::vector<Row> expected_rows(std::vector<Row> rows, const RowFilter& filter) {
  rows.erase(std::remove_if(rows.begin(), rows.end(),
                            [&filter](const Row& row) {
                              return (filter.data_id && row.data_id != *filter.data_id) ||
                                     row.time < filter.from ||
                                     (!filter.to.empty() && row.time >= filter.to);
                            }),
             rows.end());
  std::stable_sort(rows.begin(), rows.end(), [](const Row& a, const Row& b) {
    return std::tie(a.time, a.id) < std::tie(b.time, b.id);
  });
  return rows;
}

// What a cursor hands out, to its end; a failure as a row of id -1.
std::vector<Row> read_all(HistoryCursor& cursor) {
  std::vector<Row> rows;
  while (cursor.next()) {
    const sitehost::StoredRow& row = cursor.row();
    const bool whole = row.record_size == 441 &&
                       std::all_of(row.record, row.record + row.record_size,
                                   [&row](unsigned char byte) { return byte == row.record[0]; });
    rows.push_back({row.id, row.data_id, std::string(row.time),
                    static_cast<unsigned char>(whole ? row.record[0] : 0xFF)});
  }
  if (!cursor.error().empty()) {
    rows.push_back({-1, 0, cursor.error(), 0});
  }
  return rows;
}

void execute(sqlite3* db, const std::string& sql) {
  char* message = nullptr;
  ASSERT_EQ(sqlite3_exec(db, sql.c_str(), nullptr, nullptr, &message), SQLITE_OK) << message;
}

// clang-format off
const RowFilter kFilters[] = {
    {},
    {1, "", ""},
    {2, time_text(100), ""},
    {std::nullopt, time_text(150), time_text(260)},
    {1, "", time_text(201)},
    {2, time_text(199), time_text(200)},
    {std::nullopt, time_text(300), time_text(300)},
    {9, "", ""},
};
// clang-format on

std::string label(const RowFilter& filter) {
  return "data id " + (filter.data_id ? std::to_string(*filter.data_id) : "any") + " from '" +
         filter.from + "' to '" + filter.to + "'";
}

TEST_F(HistoryFile, RowsComeInTimeOrderTheSameWithAndWithoutTheTimeIndex) {
  // A file made before the time index, with the rows.
  {
    sqlite3* db = nullptr;
    ASSERT_EQ(sqlite3_open(path_.c_str(), &db), SQLITE_OK);
    execute(db,
            "PRAGMA journal_mode=WAL; CREATE TABLE history (id INTEGER PRIMARY KEY,"
            " data_id INTEGER NOT NULL, time TEXT NOT NULL, record BLOB NOT NULL);"
            " CREATE INDEX history_by_unit ON history (data_id, id); BEGIN");
    sqlite3_stmt* insert = nullptr;
    ASSERT_EQ(
        sqlite3_prepare_v2(db, "INSERT INTO history VALUES (?, ?, ?, ?)", -1, &insert, nullptr),
        SQLITE_OK);
    for (const Row& row : stored_rows()) {
      const std::vector<unsigned char> bytes = record(row.fill);
      sqlite3_bind_int64(insert, 1, row.id);
      sqlite3_bind_int64(insert, 2, row.data_id);
      sqlite3_bind_text(insert, 3, row.time.c_str(), -1, SQLITE_TRANSIENT);
      sqlite3_bind_blob(insert, 4, bytes.data(), static_cast<int>(bytes.size()), SQLITE_TRANSIENT);
      ASSERT_EQ(sqlite3_step(insert), SQLITE_DONE);
      sqlite3_reset(insert);
    }
    sqlite3_finalize(insert);
    execute(db, "COMMIT");
    sqlite3_close(db);
  }
  const auto read_each_filter = [this] {
    std::vector<std::vector<Row>> found;
    const auto store = open(HistoryStore::Access::read_only);
    for (const RowFilter& filter : kFilters) {
      std::string error;
      const auto cursor = store->query(filter, error);
      found.push_back(cursor != nullptr ? read_all(*cursor)
                                        : std::vector<Row>{
                                              {-1, 0, error, 0}
      });
    }
    return found;
  };
  const std::vector<std::vector<Row>> without_index = read_each_filter();
  ASSERT_EQ(query_text("SELECT count(*) FROM sqlite_master WHERE name = 'history_by_time'"), "0");
  open();  // a host's start adds the index
  ASSERT_EQ(query_text("SELECT count(*) FROM sqlite_master WHERE name = 'history_by_time'"), "1");
  const std::vector<std::vector<Row>> with_index = read_each_filter();
  std::string error;
  EXPECT_EQ(open(HistoryStore::Access::read_only)->data_ids(error),
            (std::vector<std::uint32_t>{1, 2}))
      << error;

  for (std::size_t i = 0; i < std::size(kFilters); ++i) {
    const std::vector<Row> expected = expected_rows(stored_rows(), kFilters[i]);
    EXPECT_EQ(without_index[i], expected) << label(kFilters[i]);
    EXPECT_EQ(with_index[i], expected) << label(kFilters[i]);
  }
}

// Each unit's rows of a period come from the index, in its order: no scan
// of the table and no sort.
TEST_F(HistoryFile, RowsOfAPeriodAreFoundThroughTheTimeIndex) {
  open();
  sqlite3* db = nullptr;
  ASSERT_EQ(sqlite3_open_v2(path_.c_str(), &db, SQLITE_OPEN_READONLY, nullptr), SQLITE_OK);
  for (const RowFilter& filter : kFilters) {
    const std::string sql = "EXPLAIN QUERY PLAN " + HistoryCursor::unit_rows_sql(filter);
    sqlite3_stmt* statement = nullptr;
    ASSERT_EQ(sqlite3_prepare_v2(db, sql.c_str(), -1, &statement, nullptr), SQLITE_OK);
    std::string plan;
    while (sqlite3_step(statement) == SQLITE_ROW) {
      plan += reinterpret_cast<const char*>(sqlite3_column_text(statement, 3));
      plan += "; ";
    }
    sqlite3_finalize(statement);
    EXPECT_NE(plan.find("SEARCH history USING INDEX history_by_time (data_id=? AND time>?"),
              std::string::npos)
        << label(filter) << ": " << plan;
    EXPECT_EQ(plan.find("TEMP B-TREE"), std::string::npos) << label(filter) << ": " << plan;
  }
  sqlite3_close(db);
}

// A reading started while no host had the file open reads it as immutable;
// a host then starts, removes the oldest rows (pages move), adds rows and
// writes its log into the file. The reading goes on soundly after the rows
// it had read, with or without the host still there.
TEST_F(HistoryFile, AReadingStartedBeforeAHostWritesGoesOnSoundly) {
  constexpr int kRows = 2000;
  constexpr int kReadBefore = 600;
  constexpr int kAdded = 100;
  for (const bool host_stays : {true, false}) {
    SCOPED_TRACE(host_stays ? "the host stays" : "the host has gone");
    TearDown();
    SetUp();
    std::vector<Row> rows;
    {
      std::vector<sitehost::HistoryRow> stored(kRows);
      for (int i = 0; i < kRows; ++i) {
        rows.push_back({i + 1, 1, time_text(i), static_cast<unsigned char>(i % 251)});
        stored[static_cast<std::size_t>(i)] = {0, 1, rows.back().time, record(rows.back().fill)};
      }
      ASSERT_EQ(open()->append_all(stored), "");
    }
    ASSERT_FALSE(exists(path_ + "-wal"));
    std::string error;
    const auto reader = open(HistoryStore::Access::read_only);
    const auto cursor = reader->query({}, error);
    ASSERT_NE(cursor, nullptr) << error;
    std::vector<Row> read;
    for (int i = 0; i < kReadBefore && cursor->next(); ++i) {
      read.push_back({cursor->row().id, cursor->row().data_id, std::string(cursor->row().time),
                      cursor->row().record[0]});
    }

    auto host = open();
    ASSERT_EQ(host->remove_oldest(kReadBefore / 2, error), kReadBefore / 2) << error;
    while (host->release_free_pages(256, error) > 0) {
    }
    for (int i = kRows; i < kRows + kAdded; ++i) {
      rows.push_back({i + 1, 1, time_text(i), static_cast<unsigned char>(i % 251)});
      const auto bytes = record(rows.back().fill);
      ASSERT_EQ(host->append(1, rows.back().time, bytes.data(), bytes.size()), "");
    }
    ASSERT_TRUE(host->empty_log(error)) << error;
    if (!host_stays) {
      host.reset();
    }
    for (const Row& row : read_all(*cursor)) {
      read.push_back(row);
    }
    EXPECT_EQ(read, rows);
  }
}

}  // namespace
