// The host's history writer: the time and the CPU of the whole process
// (the writer's thread included) to store a round's records of many units,
// queued at once as the buses complete their cycles, and one record alone.
#include <benchmark/benchmark.h>
#include <stdlib.h>
#include <unistd.h>

#include <chrono>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "host/services/history_store.h"
#include "host/services/history_writer.h"

namespace {

constexpr std::size_t kRecordSize = 441;

// A history file in a fresh folder, removed with it.
class HistoryFolder {
 public:
  HistoryFolder() {
    char pattern[] = "/tmp/velmocair-history-bench-XXXXXX";
    folder_ = mkdtemp(pattern) != nullptr ? pattern : "/tmp";
    path_ = folder_ + "/history.sqlite";
  }
  ~HistoryFolder() {
    for (const char* suffix : {"", "-wal", "-shm"}) {
      unlink((path_ + suffix).c_str());
    }
    rmdir(folder_.c_str());
  }
  HistoryFolder(const HistoryFolder&) = delete;
  HistoryFolder& operator=(const HistoryFolder&) = delete;

  std::unique_ptr<sitehost::HistoryWriter> writer() const {
    std::string error;
    auto store =
        sitehost::HistoryStore::open(path_, sitehost::HistoryStore::Access::read_write, error);
    return std::make_unique<sitehost::HistoryWriter>(std::move(store), nullptr);
  }

 private:
  std::string folder_;
  std::string path_;
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

}  // namespace
