// The host's history: the writer (the time and the CPU of the whole process,
// the writer's thread included, to store a round's records of many units,
// queued at once as the buses complete their cycles, and one record alone),
// and the reading (a stored record decoded into the status document's cells,
// a day's rows and an hour's rows out of a month, each beside SQLite alone
// reading the same rows). Reading benchmarks report heap allocations per
// iteration as "allocs".
#include <benchmark/benchmark.h>
#include <sqlite3.h>
#include <stdlib.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstring>
#include <ctime>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "bench/allocation_counter.h"
#include "commands/probe_records.h"
#include "commands/record_cells.h"
#include "device/Velmocair_Data_t.h"
#include "host/services/history_cursor.h"
#include "host/services/history_store.h"
#include "host/services/history_writer.h"

namespace {

constexpr std::size_t kRecordSize = sizeof(Velmocair_Data_t);

// History files in a fresh folder, removed with it.
class HistoryFolder {
 public:
  HistoryFolder() {
    char pattern[] = "/tmp/velmocair-history-bench-XXXXXX";
    folder_ = mkdtemp(pattern) != nullptr ? pattern : "/tmp";
  }
  ~HistoryFolder() {
    for (const std::string& name : names_) {
      for (const char* suffix : {"", "-wal", "-shm"}) {
        unlink((folder_ + "/" + name + suffix).c_str());
      }
    }
    rmdir(folder_.c_str());
  }
  HistoryFolder(const HistoryFolder&) = delete;
  HistoryFolder& operator=(const HistoryFolder&) = delete;

  std::string path(const std::string& name) {
    if (std::find(names_.begin(), names_.end(), name) == names_.end()) {
      names_.push_back(name);
    }
    return folder_ + "/" + name;
  }

  std::unique_ptr<sitehost::HistoryWriter> writer() {
    std::string error;
    auto store = sitehost::HistoryStore::open(path("history.sqlite"),
                                              sitehost::HistoryStore::Access::read_write, error);
    return std::make_unique<sitehost::HistoryWriter>(std::move(store), nullptr);
  }

 private:
  std::string folder_;
  std::vector<std::string> names_;
};

// Queues one record for each of `range(0)` units and waits until the writer
// has stored them all.
void BM_HistoryRound(benchmark::State& state) {
  const auto units = static_cast<std::uint32_t>(state.range(0));
  const std::vector<unsigned char> record(kRecordSize);
  const std::string time = sitehost::local_time_text();
  HistoryFolder folder;
  for (auto _ : state) {
    state.PauseTiming();
    auto writer = folder.writer();
    state.ResumeTiming();
    for (std::uint32_t unit = 1; unit <= units; ++unit) {
      writer->enqueue(unit, time, record.data(), record.size());
    }
    writer->stop();
  }
  state.counters["rows/s"] = benchmark::Counter(static_cast<double>(state.iterations() * units),
                                                benchmark::Counter::kIsRate);
}
BENCHMARK(BM_HistoryRound)
    ->Arg(1)
    ->Arg(1000)
    ->Unit(benchmark::kMillisecond)
    ->MeasureProcessCPUTime()
    ->UseRealTime();

// One record every `range(0)` microseconds, as one unit polled back to back
// completes its cycles, for a fixed number of records: the process CPU of
// all of them, nearly all the writer's (this thread only sleeps and queues).
void BM_HistoryStream(benchmark::State& state) {
  constexpr int kRows = 200;
  const std::chrono::microseconds pace(state.range(0));
  const std::vector<unsigned char> record(kRecordSize);
  const std::string time = sitehost::local_time_text();
  HistoryFolder folder;
  for (auto _ : state) {
    state.PauseTiming();
    auto writer = folder.writer();
    state.ResumeTiming();
    for (int row = 0; row < kRows; ++row) {
      writer->enqueue(1, time, record.data(), record.size());
      std::this_thread::sleep_for(pace);
    }
    writer->stop();
  }
  state.counters["rows"] = kRows;
}
BENCHMARK(BM_HistoryStream)
    ->Arg(500)
    ->Unit(benchmark::kMillisecond)
    ->MeasureProcessCPUTime()
    ->UseRealTime();

// ---------------------------------------------------------------------------
// Reading.

// A day of one unit at 1 s; a month of two units at 20 s each.
constexpr int kDayRows = 86400;
constexpr int kMonthDays = 30;
constexpr int kMonthStep = 20;
constexpr std::uint32_t kMonthUnits = 2;
constexpr int kSecondsPerDay = 86400;
constexpr int kSecondsPerHour = 3600;
// Distinct records the decoding benchmarks cycle through.
constexpr int kDistinctRecords = 1024;
// 2026-12-01 00:00:00, the first stored time.
constexpr std::time_t kFirstTime = 1796083200;

// A stored time, `seconds` after the first.
std::string stored_time(std::int64_t seconds) {
  const std::time_t time = kFirstTime + static_cast<std::time_t>(seconds);
  std::tm calendar{};
  gmtime_r(&time, &calendar);
  char text[sizeof "YYYY-MM-DD HH:MM:SS"];
  std::strftime(text, sizeof text, "%Y-%m-%d %H:%M:%S", &calendar);
  return text;
}

// A record of the `row`th cycle: a unit at work (the ramp record) whose
// return-air temperature, supply humidity and high-temperature alarm
// change from row to row, so that no two neighbours are alike.
std::vector<unsigned char> cycle_record(int row) {
  const velmocair::status::RecordBytes ramp = velmocair::status::probe_records().back();
  std::vector<unsigned char> record(ramp.begin(), ramp.end());
  constexpr std::size_t kReturnAir = 87;
  constexpr std::size_t kSupplyHumidity = 107;
  constexpr std::size_t kHighTemperatureAlarm = 46;
  constexpr int kAlarmPeriod = 600;
  record[kReturnAir] = static_cast<unsigned char>(200 + row % 50);
  record[kSupplyHumidity] = static_cast<unsigned char>(row % 251);
  record[kSupplyHumidity + 1] = static_cast<unsigned char>(row / 251 % 3);
  record[kHighTemperatureAlarm] = static_cast<unsigned char>(row / kAlarmPeriod % 2);
  return record;
}

// Records the decoding benchmarks cycle through.
std::vector<std::vector<unsigned char>> distinct_records() {
  std::vector<std::vector<unsigned char>> records;
  for (int row = 0; row < kDistinctRecords; ++row) {
    records.push_back(cycle_record(row));
  }
  return records;
}

// The day's and the month's history files, made once and removed at exit.
class ReadingFiles {
 public:
  static const ReadingFiles& get() {
    static const ReadingFiles files;
    return files;
  }
  const std::string& day() const { return day_; }
  const std::string& month() const { return month_; }
  // The hour in the middle of the month.
  static sitehost::RowFilter middle_hour(std::optional<std::uint32_t> data_id) {
    constexpr int kMiddle = kMonthDays / 2 * kSecondsPerDay;
    return {data_id, stored_time(kMiddle), stored_time(kMiddle + kSecondsPerHour)};
  }

 private:
  ReadingFiles() : day_(folder_.path("day.sqlite")), month_(folder_.path("month.sqlite")) {
    fill(day_, kDayRows, 1, 1);
    fill(month_, kMonthDays * kSecondsPerDay / kMonthStep, kMonthUnits, kMonthStep);
  }

  // `rows` rows of each unit, one every `step` seconds, the units in turn.
  static void fill(const std::string& path, int rows, std::uint32_t units, int step) {
    std::string error;
    auto store =
        sitehost::HistoryStore::open(path, sitehost::HistoryStore::Access::read_write, error);
    constexpr std::size_t kRowsATransaction = 10000;
    std::vector<sitehost::HistoryRow> batch;
    for (int row = 0; row < rows; ++row) {
      for (std::uint32_t unit = 1; unit <= units; ++unit) {
        batch.push_back(
            {0, unit, stored_time(static_cast<std::int64_t>(row) * step), cycle_record(row)});
      }
      if (batch.size() >= kRowsATransaction || row + 1 == rows) {
        store->append_all(batch);
        batch.clear();
      }
    }
  }

  HistoryFolder folder_;
  std::string day_;
  std::string month_;
};

// A read-only SQLite connection of its own, as the reading's own opens it.
class FloorConnection {
 public:
  explicit FloorConnection(const std::string& path) {
    sqlite3_open_v2(("file:" + path + "?immutable=1").c_str(), &db_,
                    SQLITE_OPEN_READONLY | SQLITE_OPEN_URI, nullptr);
  }
  ~FloorConnection() { sqlite3_close(db_); }
  FloorConnection(const FloorConnection&) = delete;
  FloorConnection& operator=(const FloorConnection&) = delete;

  // Steps through the rows of `sql` with `data_id`, `from` and `to` bound
  // where it names them, touching each row's time and record as a reader
  // does: the rows read.
  std::int64_t read(const std::string& sql, const sitehost::RowFilter& filter) const {
    sqlite3_stmt* statement = nullptr;
    sqlite3_prepare_v2(db_, sql.c_str(), -1, &statement, nullptr);
    if (filter.data_id) {
      sqlite3_bind_int64(statement, sqlite3_bind_parameter_index(statement, ":data_id"),
                         *filter.data_id);
    }
    sqlite3_bind_text(statement, sqlite3_bind_parameter_index(statement, ":from"),
                      filter.from.c_str(), -1, SQLITE_STATIC);
    sqlite3_bind_text(statement, sqlite3_bind_parameter_index(statement, ":to"), filter.to.c_str(),
                      -1, SQLITE_STATIC);
    std::int64_t rows = 0;
    while (sqlite3_step(statement) == SQLITE_ROW) {
      benchmark::DoNotOptimize(sqlite3_column_int64(statement, 0));
      benchmark::DoNotOptimize(sqlite3_column_int64(statement, 1));
      benchmark::DoNotOptimize(sqlite3_column_text(statement, 2));
      benchmark::DoNotOptimize(sqlite3_column_blob(statement, 3));
      benchmark::DoNotOptimize(sqlite3_column_bytes(statement, 3));
      ++rows;
    }
    sqlite3_finalize(statement);
    return rows;
  }

 private:
  sqlite3* db_ = nullptr;
};

void report_rows(benchmark::State& state, std::int64_t rows_an_iteration) {
  state.counters["rows"] = static_cast<double>(rows_an_iteration);
  state.counters["rows/s"] = benchmark::Counter(
      static_cast<double>(state.iterations() * rows_an_iteration), benchmark::Counter::kIsRate);
}

// A stored record decoded into the cells of its status document.
void BM_RecordCells(benchmark::State& state) {
  const std::vector<std::vector<unsigned char>> records = distinct_records();
  velmocair::status::RecordCells cells;
  std::size_t next = 0;
  AllocationsPerIteration allocations(state);
  for (auto _ : state) {
    const std::vector<unsigned char>& record = records[next++ % records.size()];
    benchmark::DoNotOptimize(cells.decode(record.data(), record.size()));
    benchmark::DoNotOptimize(cells.cells().data());
  }
}
BENCHMARK(BM_RecordCells);

// Two leaves of a record, as a chart of two values decodes it.
void BM_RecordCellsTwoLeaves(benchmark::State& state) {
  const std::vector<std::vector<unsigned char>> records = distinct_records();
  velmocair::status::RecordCells cells;
  std::vector<std::size_t> drawn;
  for (std::size_t leaf = 0; leaf < cells.leaves().size(); ++leaf) {
    const std::string path = velmocair::status::leaf_path(cells.leaves()[leaf]);
    if (path == "室内机组状态/回风温度" || path == "室内机组状态/送风温度") {
      drawn.push_back(leaf);
    }
  }
  std::size_t next = 0;
  AllocationsPerIteration allocations(state);
  for (auto _ : state) {
    const std::vector<unsigned char>& record = records[next++ % records.size()];
    benchmark::DoNotOptimize(cells.decode(record.data(), record.size(), drawn));
    benchmark::DoNotOptimize(cells.cells()[drawn.front()].number);
  }
  state.counters["leaves"] = static_cast<double>(drawn.size());
}
BENCHMARK(BM_RecordCellsTwoLeaves);

// A record decoded and written as a CSV line into a flat buffer (cell texts
// need no quoting): what the export of a row costs beside reading it.
void BM_RecordCellsCsvLine(benchmark::State& state) {
  const std::vector<std::vector<unsigned char>> records = distinct_records();
  velmocair::status::RecordCells cells;
  const std::string time = stored_time(0);
  std::vector<char> line(1 << 16);
  std::size_t next = 0;
  std::size_t length = 0;
  const auto append = [](char*& out, std::string_view text) {
    std::memcpy(out, text.data(), text.size());
    out += text.size();
  };
  AllocationsPerIteration allocations(state);
  for (auto _ : state) {
    const std::vector<unsigned char>& record = records[next++ % records.size()];
    cells.decode(record.data(), record.size());
    char* out = line.data();
    append(out, time);
    append(out, ",1");
    for (const velmocair::status::Cell& cell : cells.cells()) {
      *out++ = ',';
      if (cell.kind == velmocair::status::CellKind::number) {
        char text[velmocair::status::kNumberTextCapacity];
        append(out, std::string_view(text, velmocair::status::number_text(cell, text)));
      } else if (cell.kind == velmocair::status::CellKind::flag) {
        *out++ = cell.flag ? '1' : '0';
      } else {
        append(out, cell.text);
      }
    }
    append(out, "\r\n");
    length = static_cast<std::size_t>(out - line.data());
    benchmark::DoNotOptimize(line.data());
  }
  state.counters["bytes"] = static_cast<double>(length);
}
BENCHMARK(BM_RecordCellsCsvLine);

// Every row of the day through the history's cursor, and through SQLite
// alone in the order of storing (the floor).
void BM_HistoryDayCursor(benchmark::State& state) {
  const ReadingFiles& files = ReadingFiles::get();
  std::string error;
  const auto store =
      sitehost::HistoryStore::open(files.day(), sitehost::HistoryStore::Access::read_only, error);
  std::int64_t rows = 0;
  AllocationsPerIteration allocations(state);
  for (auto _ : state) {
    const auto cursor = store->query({}, error);
    rows = 0;
    while (cursor->next()) {
      benchmark::DoNotOptimize(cursor->row().record);
      ++rows;
    }
  }
  report_rows(state, rows);
}
BENCHMARK(BM_HistoryDayCursor)->Unit(benchmark::kMillisecond);

void BM_HistoryDayFloor(benchmark::State& state) {
  const FloorConnection floor(ReadingFiles::get().day());
  std::int64_t rows = 0;
  for (auto _ : state) {
    rows = floor.read("SELECT id, data_id, time, record FROM history ORDER BY id", {});
  }
  report_rows(state, rows);
}
BENCHMARK(BM_HistoryDayFloor)->Unit(benchmark::kMillisecond);

// The hour in the middle of the month, of unit 1 (argument 1) or of both
// (argument 0): through the cursor; through SQLite alone by the time index
// (the floor); and as a reading found them before the time index, by the
// unit index or, for every unit, by scanning the whole table.
std::optional<std::uint32_t> unit_of(const benchmark::State& state) {
  return state.range(0) != 0 ? std::optional<std::uint32_t>(1) : std::nullopt;
}

void BM_HistoryHourCursor(benchmark::State& state) {
  const ReadingFiles& files = ReadingFiles::get();
  std::string error;
  const auto store =
      sitehost::HistoryStore::open(files.month(), sitehost::HistoryStore::Access::read_only, error);
  const sitehost::RowFilter hour = ReadingFiles::middle_hour(unit_of(state));
  std::int64_t rows = 0;
  AllocationsPerIteration allocations(state);
  for (auto _ : state) {
    const auto cursor = store->query(hour, error);
    rows = 0;
    while (cursor->next()) {
      benchmark::DoNotOptimize(cursor->row().record);
      ++rows;
    }
  }
  report_rows(state, rows);
}
BENCHMARK(BM_HistoryHourCursor)->Arg(1)->Arg(0)->Unit(benchmark::kMicrosecond);

void BM_HistoryHourFloor(benchmark::State& state) {
  const FloorConnection floor(ReadingFiles::get().month());
  const std::optional<std::uint32_t> unit = unit_of(state);
  std::int64_t rows = 0;
  for (auto _ : state) {
    rows = 0;
    for (std::uint32_t data_id = 1; data_id <= kMonthUnits; ++data_id) {
      if (!unit || *unit == data_id) {
        rows += floor.read(
            "SELECT id, data_id, time, record FROM history INDEXED BY history_by_time"
            " WHERE data_id = :data_id AND time >= :from AND time < :to ORDER BY time, id",
            ReadingFiles::middle_hour(data_id));
      }
    }
  }
  report_rows(state, rows);
}
BENCHMARK(BM_HistoryHourFloor)->Arg(1)->Arg(0)->Unit(benchmark::kMicrosecond);

void BM_HistoryHourWithoutTimeIndex(benchmark::State& state) {
  const FloorConnection floor(ReadingFiles::get().month());
  const sitehost::RowFilter hour = ReadingFiles::middle_hour(unit_of(state));
  const std::string sql =
      hour.data_id ? "SELECT id, data_id, time, record FROM history INDEXED BY history_by_unit"
                     " WHERE data_id = :data_id AND time >= :from AND time < :to ORDER BY id"
                   : "SELECT id, data_id, time, record FROM history NOT INDEXED"
                     " WHERE time >= :from AND time < :to ORDER BY id";
  std::int64_t rows = 0;
  for (auto _ : state) {
    rows = floor.read(sql, hour);
  }
  report_rows(state, rows);
}
BENCHMARK(BM_HistoryHourWithoutTimeIndex)->Arg(1)->Arg(0)->Unit(benchmark::kMillisecond);

}  // namespace
