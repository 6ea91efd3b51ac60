#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "host/services/blocking_queue.h"
#include "host/services/history_store.h"

namespace sitehost {

// Writes history rows on its own thread from a queue, so that storing never
// holds up a bus. The rows queued within a short gathering period after
// the thread takes one are written together in one transaction, so that a
// round of many units, or many cycles of a unit polled back to back, cost
// one commit rather than one each. Stopping (or destroying) it writes what
// is queued first.
class HistoryWriter {
 public:
  using ErrorSink = std::function<void(const std::string& error)>;

  HistoryWriter(std::unique_ptr<HistoryStore> store, ErrorSink on_error);
  ~HistoryWriter();
  HistoryWriter(const HistoryWriter&) = delete;
  HistoryWriter& operator=(const HistoryWriter&) = delete;

  void enqueue(std::uint32_t data_id, std::string time, const unsigned char* data,
               std::size_t length);
  // Writes the queued rows and ends the thread; later rows are dropped.
  void stop();

 private:
  void run();
  // Writes the batch in one transaction; when that fails, row by row, so
  // that every row that can be stored is, and each failure is reported.
  void write(const std::vector<HistoryRow>& batch);

  std::unique_ptr<HistoryStore> store_;
  ErrorSink on_error_;
  BlockingQueue<HistoryRow> queue_;
  std::thread thread_;
};

}  // namespace sitehost
