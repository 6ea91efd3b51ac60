#include "host/services/history_writer.h"

#include <chrono>

namespace sitehost {
namespace {

// Rows written in one transaction at most.
constexpr std::size_t kMaxBatchRows = 1000;
// How long the writer lets rows gather after the first before it writes
// them: a commit costs far more than a row, so a unit polled back to back
// gets many rows a commit, and a row is stored this much later at most.
constexpr std::chrono::milliseconds kGatherPeriod{10};

}  // namespace

HistoryWriter::HistoryWriter(std::unique_ptr<HistoryStore> store, ErrorSink on_error)
    : store_(std::move(store)), on_error_(std::move(on_error)), thread_([this] { run(); }) {}

HistoryWriter::~HistoryWriter() { stop(); }

void HistoryWriter::enqueue(std::uint32_t data_id, std::string time, const unsigned char* data,
                            std::size_t length) {
  HistoryRow row;
  row.data_id = data_id;
  row.time = std::move(time);
  if (data != nullptr) {
    row.record.assign(data, data + length);
  }
  queue_.push(std::move(row));
}

void HistoryWriter::stop() {
  queue_.close();
  if (thread_.joinable()) {
    thread_.join();
  }
}

void HistoryWriter::run() {
  std::vector<HistoryRow> batch;
  while (std::optional<HistoryRow> first = queue_.pop()) {
    batch.clear();
    batch.push_back(std::move(*first));
    std::this_thread::sleep_for(kGatherPeriod);
    while (batch.size() < kMaxBatchRows) {
      std::optional<HistoryRow> more = queue_.try_pop();
      if (!more) {
        break;
      }
      batch.push_back(std::move(*more));
    }
    write(batch);
  }
}

void HistoryWriter::write(const std::vector<HistoryRow>& batch) {
  if (batch.size() > 1 && store_->append_all(batch).empty()) {
    return;
  }
  for (const HistoryRow& row : batch) {
    const std::string error =
        store_->append(row.data_id, row.time, row.record.data(), row.record.size());
    if (!error.empty() && on_error_) {
      on_error_(error);
    }
  }
}

}  // namespace sitehost
