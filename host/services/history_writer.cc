#include "host/services/history_writer.h"

namespace sitehost {

HistoryWriter::HistoryWriter(std::unique_ptr<HistoryStore> store, ErrorSink on_error)
    : store_(std::move(store)), on_error_(std::move(on_error)), thread_([this] { run(); }) {}

HistoryWriter::~HistoryWriter() { stop(); }

void HistoryWriter::enqueue(std::uint32_t data_id, std::string time, const unsigned char* data,
                            std::size_t length) {
  Row row{data_id, std::move(time), {}};
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
  while (std::optional<Row> row = queue_.pop()) {
    const std::string error =
        store_->append(row->data_id, row->time, row->record.data(), row->record.size());
    if (!error.empty() && on_error_) {
      on_error_(error);
    }
  }
}

}  // namespace sitehost
