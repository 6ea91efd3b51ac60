#pragma once

#include <cstddef>
#include <cstdint>
#include <utility>
#include <vector>

namespace velmocair::cli {

// One stored row as the chart sees it: its wall-clock time (wall_seconds),
// whether any alarm point was active, and the values drawn (NaN: none).
struct PlotRow {
  std::int64_t seconds = 0;
  bool alarm = false;
  std::vector<double> values;
};

struct PlotPoint {
  std::int64_t seconds = 0;
  double value = 0;
  bool breaks_before = false;  // a gap in the history ends the line before it
};

// What the chart draws: one line per value, and the spans in which any
// alarm point was active, [from, to).
struct PlotData {
  std::vector<std::vector<PlotPoint>> series;
  std::vector<std::pair<std::int64_t, std::int64_t>> alarm_spans;
};

// The rows (any order) for a chart `columns` pixels wide: all of them when
// they are few, else per column the least and the greatest value of each
// line in their order, so that no peak is lost. A step between rows of more
// than ten times the usual one is a gap: lines break there and a span of
// alarm ends. Alarm spans closer than a column are joined.
PlotData reduce_for_chart(std::vector<PlotRow> rows, std::size_t value_count, std::size_t columns);

}  // namespace velmocair::cli
