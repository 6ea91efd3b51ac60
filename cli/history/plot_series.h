#pragma once

#include <cstddef>
#include <cstdint>
#include <utility>
#include <vector>

namespace velmocair::cli {

// One unit's rows as the chart takes them, column by column, in time order:
// flat arrays that grow with the rows, nothing allocated per row.
class PlotColumns {
 public:
  PlotColumns(std::uint32_t data_id, std::size_t value_count)
      : data_id_(data_id), value_count_(value_count) {}

  // A row at `seconds` (wall_seconds, not before the last row), whether any
  // alarm point was active, and its values (value_count of them; NaN: none).
  void add(std::int64_t seconds, bool alarm, const float* values);

  std::uint32_t data_id() const { return data_id_; }
  std::size_t value_count() const { return value_count_; }
  std::size_t size() const { return offsets_.size(); }
  std::int64_t seconds(std::size_t row) const { return origin_ + offsets_[row]; }
  bool alarm(std::size_t row) const { return alarms_[row] != 0; }
  float value(std::size_t row, std::size_t value) const {
    return values_[row * value_count_ + value];
  }

 private:
  std::uint32_t data_id_;
  std::size_t value_count_;
  std::int64_t origin_ = 0;             // the first row's time
  std::vector<std::uint32_t> offsets_;  // seconds after it
  std::vector<unsigned char> alarms_;
  std::vector<float> values_;  // row after row
};

struct PlotPoint {
  std::int64_t seconds = 0;
  double value = 0;
  bool breaks_before = false;  // a gap in the history ends the line before it
};

// What the chart draws of one unit: one line per value, and the spans in
// which any of its alarm points was active, [from, to).
struct PlotData {
  std::uint32_t data_id = 0;
  std::vector<std::vector<PlotPoint>> series;
  std::vector<std::pair<std::int64_t, std::int64_t>> alarm_spans;
};

// The rows for a chart `columns` pixels wide: all of them when they are
// few, else per column the least and the greatest value of each line in
// their order, so that no peak is lost. A step between rows of more than
// ten times the usual one is a gap: lines break there and a span of alarm
// ends. Alarm spans closer than a column are joined.
PlotData reduce_for_chart(const PlotColumns& rows, std::size_t columns);

}  // namespace velmocair::cli
