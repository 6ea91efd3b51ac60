#include "host/services/history_cursor.h"

#include <sqlite3.h>

#include <algorithm>
#include <limits>

#include "host/services/history_read_connection.h"
#include "host/services/history_statement.h"

namespace sitehost {
namespace {

// Rows read, and checked sound, at a time.
constexpr std::size_t kBatchRows = 256;
constexpr std::int64_t kBeforeAnyId = std::numeric_limits<std::int64_t>::min();
// The next unit after a data id, from the index that starts with it.
constexpr const char* kNextUnit =
    "SELECT data_id FROM history WHERE data_id > ? ORDER BY data_id LIMIT 1";

}  // namespace

std::string HistoryCursor::unit_rows_sql(const RowFilter& filter) {
  std::string sql =
      "SELECT id, time, record FROM history WHERE data_id = :data_id AND time >= :from"
      " AND (time > :from OR id > :after)";
  if (!filter.to.empty()) {
    sql += " AND time < :to";
  }
  return sql + " ORDER BY time, id";
}

bool HistoryCursor::units_in(sqlite3* db, std::vector<std::uint32_t>& data_ids) {
  const HistoryStatement next_unit(db, kNextUnit);
  if (next_unit.get() == nullptr) {
    return false;
  }
  std::int64_t last = -1;
  int step = SQLITE_ROW;
  while (sqlite3_bind_int64(next_unit.get(), 1, last) == SQLITE_OK &&
         (step = sqlite3_step(next_unit.get())) == SQLITE_ROW) {
    last = sqlite3_column_int64(next_unit.get(), 0);
    data_ids.push_back(static_cast<std::uint32_t>(last));
    sqlite3_reset(next_unit.get());
  }
  return step == SQLITE_DONE;
}

HistoryCursor::HistoryCursor(std::string path, RowFilter filter)
    : path_(std::move(path)),
      filter_(std::move(filter)),
      after_time_(filter_.from),
      after_id_(kBeforeAnyId) {}

std::unique_ptr<HistoryCursor> HistoryCursor::open(const std::string& path, const RowFilter& filter,
                                                   std::string& error) {
  std::unique_ptr<HistoryCursor> cursor(new HistoryCursor(path, filter));
  if (!cursor->fill() && !cursor->error_.empty()) {
    error = cursor->error_;
    return nullptr;
  }
  return cursor;
}

HistoryCursor::~HistoryCursor() { finish(); }

bool HistoryCursor::next() {
  if (next_in_batch_ == batch_.size() && !fill()) {
    return false;
  }
  const BatchRow& row = batch_[next_in_batch_++];
  const unsigned char* const arena = arena_.data();
  row_.id = row.id;
  row_.data_id = row.data_id;
  row_.time = std::string_view(reinterpret_cast<const char*>(arena + row.time_at), row.time_size);
  row_.record = arena + row.record_at;
  row_.record_size = row.record_size;
  return true;
}

bool HistoryCursor::fill() {
  batch_.clear();
  arena_.clear();
  next_in_batch_ = 0;
  if (done_) {
    return false;
  }
  for (int connection = 0; connection < kMostHistoryReadConnections; ++connection) {
    const bool read = (connection_ != nullptr || start()) && read_batch();
    if (connection_ == nullptr || (!read && connection_->sound())) {
      done_ = true;  // a failure ends the reading
      return false;
    }
    if (connection_->sound()) {
      if (pending_.empty()) {
        done_ = true;
        finish();  // lets a host reuse its log at once
      } else {
        const BatchRow& last = batch_.back();
        after_time_.assign(reinterpret_cast<const char*>(arena_.data() + last.time_at),
                           last.time_size);
        after_id_ = last.id;
      }
      return !batch_.empty();
    }
    // A host has changed the file under an immutable reading: what was read
    // since the last sound batch goes, and a new connection goes on after it.
    finish();
    batch_.clear();
    arena_.clear();
    error_.clear();
  }
  error_ = "cannot read history " + path_ + ": the file kept changing while it was read";
  done_ = true;
  return false;
}

bool HistoryCursor::start() {
  connection_ = HistoryReadConnection::open(path_, error_);
  if (connection_ == nullptr) {
    return false;
  }
  sqlite3* const db = connection_->db();
  // One snapshot for every unit's statement.
  if (sqlite3_exec(db, "BEGIN", nullptr, nullptr, nullptr) != SQLITE_OK) {
    return failure("cannot read history");
  }
  std::vector<std::uint32_t> data_ids;
  if (filter_.data_id) {
    data_ids.push_back(*filter_.data_id);
  } else if (!units_in(db, data_ids)) {
    return failure("cannot read history");
  }
  const std::string sql = unit_rows_sql(filter_);
  for (const std::uint32_t data_id : data_ids) {
    units_.push_back({});
    UnitRows& unit = units_.back();
    unit.data_id = data_id;
    sqlite3_stmt* statement = nullptr;
    if (sqlite3_prepare_v2(db, sql.c_str(), -1, &statement, nullptr) != SQLITE_OK) {
      return failure("cannot read history");
    }
    unit.statement = statement;
    const auto parameter = [statement](const char* name) {
      return sqlite3_bind_parameter_index(statement, name);
    };
    sqlite3_bind_int64(statement, parameter(":data_id"), data_id);
    sqlite3_bind_text(statement, parameter(":from"), after_time_.c_str(), -1, SQLITE_TRANSIENT);
    sqlite3_bind_int64(statement, parameter(":after"), after_id_);
    sqlite3_bind_text(statement, parameter(":to"), filter_.to.c_str(), -1, SQLITE_TRANSIENT);
    if (step(unit)) {
      pending_.push_back(units_.size() - 1);
    } else if (!error_.empty()) {
      return false;
    }
  }
  std::make_heap(pending_.begin(), pending_.end(), Later{this});
  return true;
}

void HistoryCursor::finish() {
  for (UnitRows& unit : units_) {
    sqlite3_finalize(unit.statement);
  }
  units_.clear();
  pending_.clear();
  if (connection_ != nullptr) {
    sqlite3_exec(connection_->db(), "COMMIT", nullptr, nullptr, nullptr);
    connection_.reset();
  }
}

bool HistoryCursor::step(UnitRows& unit) {
  const int step = sqlite3_step(unit.statement);
  if (step == SQLITE_ROW) {
    unit.id = sqlite3_column_int64(unit.statement, 0);
    const auto* time = reinterpret_cast<const char*>(sqlite3_column_text(unit.statement, 1));
    unit.time = std::string_view(time != nullptr ? time : "",
                                 static_cast<std::size_t>(sqlite3_column_bytes(unit.statement, 1)));
    return true;
  }
  if (step != SQLITE_DONE) {
    failure("cannot read history");
  }
  return false;
}

bool HistoryCursor::read_batch() {
  while (batch_.size() < kBatchRows && !pending_.empty()) {
    std::pop_heap(pending_.begin(), pending_.end(), Later{this});
    UnitRows& unit = units_[pending_.back()];
    const auto* record = static_cast<const unsigned char*>(sqlite3_column_blob(unit.statement, 2));
    const auto record_size = static_cast<std::size_t>(sqlite3_column_bytes(unit.statement, 2));
    BatchRow row{unit.id, unit.data_id, arena_.size(), unit.time.size(), 0, record_size};
    arena_.insert(arena_.end(), unit.time.begin(), unit.time.end());
    row.record_at = arena_.size();
    arena_.insert(arena_.end(), record, record + record_size);
    batch_.push_back(row);
    if (step(unit)) {
      std::push_heap(pending_.begin(), pending_.end(), Later{this});
    } else {
      pending_.pop_back();
      if (!error_.empty()) {
        return false;
      }
    }
  }
  return true;
}

bool HistoryCursor::Later::operator()(std::size_t a, std::size_t b) const {
  const UnitRows& first = cursor->units_[a];
  const UnitRows& second = cursor->units_[b];
  return first.time != second.time ? first.time > second.time : first.id > second.id;
}

bool HistoryCursor::failure(const char* doing) {
  error_ = std::string(doing) + " " + path_ + ": " + sqlite3_errmsg(connection_->db());
  return false;
}

}  // namespace sitehost
