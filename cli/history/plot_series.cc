#include "cli/history/plot_series.h"

#include <algorithm>
#include <cmath>
#include <map>

namespace velmocair::cli {
namespace {

// A step this many times the usual one is a gap in the history.
constexpr std::int64_t kGapFactor = 10;

// The median of the positive steps between rows; 1 when there is none.
// Steps are counted by length: few lengths, however many rows.
std::int64_t usual_step(const PlotColumns& rows) {
  std::map<std::int64_t, std::size_t> steps;
  std::size_t count = 0;
  for (std::size_t i = 1; i < rows.size(); ++i) {
    const std::int64_t step = rows.seconds(i) - rows.seconds(i - 1);
    if (step > 0) {
      ++steps[step];
      ++count;
    }
  }
  std::size_t seen = 0;
  for (const auto& [step, times] : steps) {
    seen += times;
    if (seen > count / 2) {
      return step;
    }
  }
  return 1;
}

// The least and greatest value of one line in one column, with their rows.
struct Extremes {
  std::size_t least = 0;
  std::size_t greatest = 0;
  bool any = false;
};

}  // namespace

void PlotColumns::add(std::int64_t seconds, bool alarm, const float* values) {
  if (offsets_.empty()) {
    origin_ = seconds;
  }
  offsets_.push_back(static_cast<std::uint32_t>(seconds - origin_));
  alarms_.push_back(alarm ? 1 : 0);
  values_.insert(values_.end(), values, values + value_count_);
}

PlotData reduce_for_chart(const PlotColumns& rows, std::size_t columns) {
  PlotData data;
  data.data_id = rows.data_id();
  const std::size_t value_count = rows.value_count();
  data.series.resize(value_count);
  if (rows.size() == 0) {
    return data;
  }
  const std::int64_t gap = kGapFactor * usual_step(rows);
  const std::int64_t first = rows.seconds(0);
  const std::int64_t span = rows.seconds(rows.size() - 1) - first + 1;
  const bool reduce = rows.size() > 2 * columns;
  // Few rows: each row a column of its own.
  const auto column_of = [&](std::size_t row) {
    return reduce ? static_cast<std::size_t>((rows.seconds(row) - first) *
                                             static_cast<std::int64_t>(columns) / span)
                  : row;
  };

  // Lines: the rows of one column at a time.
  for (std::size_t start = 0; start < rows.size();) {
    const std::size_t column = column_of(start);
    std::size_t end = start;
    bool gap_before = start > 0 && rows.seconds(start) - rows.seconds(start - 1) > gap;
    while (end < rows.size() && column_of(end) == column) {
      gap_before = gap_before || (end > start && rows.seconds(end) - rows.seconds(end - 1) > gap);
      ++end;
    }
    for (std::size_t value = 0; value < value_count; ++value) {
      Extremes extremes;
      for (std::size_t i = start; i < end; ++i) {
        const float v = rows.value(i, value);
        if (std::isnan(v)) {
          continue;
        }
        if (!extremes.any || v < rows.value(extremes.least, value)) {
          extremes.least = i;
        }
        if (!extremes.any || v > rows.value(extremes.greatest, value)) {
          extremes.greatest = i;
        }
        extremes.any = true;
      }
      if (!extremes.any) {
        continue;
      }
      std::vector<PlotPoint>& line = data.series[value];
      const std::size_t earlier = std::min(extremes.least, extremes.greatest);
      const std::size_t later = std::max(extremes.least, extremes.greatest);
      line.push_back({rows.seconds(earlier), rows.value(earlier, value), gap_before});
      if (later != earlier) {
        line.push_back({rows.seconds(later), rows.value(later, value), false});
      }
    }
    start = end;
  }

  // Alarm spans: each active row to the next row, or a usual step at a gap.
  const std::int64_t join = std::max<std::int64_t>(1, span / static_cast<std::int64_t>(columns));
  for (std::size_t i = 0; i < rows.size(); ++i) {
    if (!rows.alarm(i)) {
      continue;
    }
    const std::int64_t at = rows.seconds(i);
    const bool next_close = i + 1 < rows.size() && rows.seconds(i + 1) - at <= gap;
    const std::int64_t to = next_close ? rows.seconds(i + 1) : at + gap / kGapFactor;
    if (!data.alarm_spans.empty() && at - data.alarm_spans.back().second <= join) {
      data.alarm_spans.back().second = std::max(data.alarm_spans.back().second, to);
    } else {
      data.alarm_spans.emplace_back(at, to);
    }
  }
  return data;
}

}  // namespace velmocair::cli
