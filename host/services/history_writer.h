#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "host/services/blocking_queue.h"
#include "host/services/history_retention.h"
#include "host/services/history_store.h"

namespace sitehost {

// Writes history rows on its own thread from a queue, so that storing never
// holds up a bus. The rows queued within a short gathering period after
// the thread takes one are written together in one transaction, so that a
// round of many units, or many cycles of a unit polled back to back, cost
// one commit rather than one each. Stopping (or destroying) it writes what
// is queued first.
//
// With a retention, the same thread removes the rows beyond it in small
// steps between writes (after a batch, as many steps as remove its rows and
// hand back their pages), then empties the write-ahead log so that the file
// shrinks at once, and looks again at least once a minute while no row comes.
//
// Rows that cannot be stored (a full disk, a read-only file) are counted,
// not kept: the first failure is reported once, and so is the end of a run
// of failures, with the number of rows lost; a run still going at the stop
// is reported then. Each report is one line through `on_report`.
class HistoryWriter {
 public:
  using ReportSink = std::function<void(const std::string& line)>;

  HistoryWriter(std::unique_ptr<HistoryStore> store, ReportSink on_report,
                Retention retention = {});
  ~HistoryWriter();
  HistoryWriter(const HistoryWriter&) = delete;
  HistoryWriter& operator=(const HistoryWriter&) = delete;

  void enqueue(std::uint32_t data_id, std::string time, const unsigned char* data,
               std::size_t length);
  // Writes the queued rows and ends the thread; later rows are dropped.
  void stop();
  // Rows that could not be stored so far.
  std::uint64_t lost_rows() const { return lost_rows_.load(); }

 private:
  // A kind of work that fails or succeeds in runs: its first failure and
  // its first success after failing are reported, nothing in between.
  struct Streak {
    bool failing = false;
    std::uint64_t count = 0;  // rows lost in the current run of failures
  };

  void run();
  // Writes the batch in one transaction; when that fails, row by row, so
  // that every row that can be stored is.
  void write(const std::vector<HistoryRow>& batch);
  void stored();
  void not_stored(const std::string& error);
  // One step of pruning: true while more is due.
  bool prune();
  void report(const std::string& line) const;

  std::unique_ptr<HistoryStore> store_;
  ReportSink on_report_;
  HistoryPruner pruner_;
  Streak storing_;
  bool pruning_failed_ = false;
  std::atomic<std::uint64_t> lost_rows_{0};
  BlockingQueue<HistoryRow> queue_;
  std::thread thread_;
};

}  // namespace sitehost
