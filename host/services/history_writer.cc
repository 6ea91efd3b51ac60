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
// With a retention and no row coming, how often the writer looks for rows
// that have aged beyond it.
constexpr std::chrono::seconds kRetentionLook{60};

}  // namespace

HistoryWriter::HistoryWriter(std::unique_ptr<HistoryStore> store, ReportSink on_report,
                             Retention retention)
    : store_(std::move(store)),
      on_report_(std::move(on_report)),
      pruner_(retention),
      thread_([this] { run(); }) {}

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
  const bool retains = !pruner_.retention().keeps_everything();
  bool prune_due = retains;
  std::vector<HistoryRow> batch;
  while (true) {
    std::optional<HistoryRow> first;
    if (!retains) {
      first = queue_.pop();
    } else if (prune_due) {
      first = queue_.try_pop();
    } else {
      first = queue_.pop_until(std::chrono::steady_clock::now() + kRetentionLook);
    }
    if (!first) {
      if (queue_.drained()) {
        break;
      }
      prune_due = retains && prune();
      continue;
    }
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
    // Enough steps to remove as many rows as came and to hand back the pages
    // they took, so that pruning keeps pace with any flow of rows.
    for (std::size_t steps = batch.size() / kPruneRowsPerStep + 2; retains && steps > 0; --steps) {
      prune_due = prune();
      if (!prune_due) {
        break;
      }
    }
  }
  if (storing_.failing) {
    report("history: " + std::to_string(storing_.count) + " rows could not be stored");
  }
}

void HistoryWriter::write(const std::vector<HistoryRow>& batch) {
  if (batch.size() > 1 && store_->append_all(batch).empty()) {
    stored();
    return;
  }
  for (const HistoryRow& row : batch) {
    const std::string error =
        store_->append(row.data_id, row.time, row.record.data(), row.record.size());
    if (error.empty()) {
      stored();
    } else {
      not_stored(error);
    }
  }
}

void HistoryWriter::stored() {
  if (storing_.failing) {
    report("history: storing rows again; " + std::to_string(storing_.count) +
           " rows could not be stored");
    storing_ = {};
  }
}

void HistoryWriter::not_stored(const std::string& error) {
  ++lost_rows_;
  ++storing_.count;
  if (!storing_.failing) {
    storing_.failing = true;
    report("history: " + error + "; polling goes on, and rows that cannot be stored are counted");
  }
}

bool HistoryWriter::prune() {
  std::string error;
  const bool more = pruner_.step(*store_, std::chrono::steady_clock::now(), error);
  if (!error.empty() && !pruning_failed_) {
    report("history: " + error + "; old rows stay until it can be done");
  } else if (error.empty() && pruning_failed_) {
    report("history: removing old rows again");
  }
  pruning_failed_ = !error.empty();
  return more;
}

void HistoryWriter::report(const std::string& line) const {
  if (on_report_) {
    on_report_(line);
  }
}

}  // namespace sitehost
