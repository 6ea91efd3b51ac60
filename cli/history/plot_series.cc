#include "cli/history/plot_series.h"

#include <algorithm>
#include <cmath>

namespace velmocair::cli {
namespace {

// A step this many times the usual one is a gap in the history.
constexpr std::int64_t kGapFactor = 10;

// The median of the positive steps between rows; 1 when there is none.
std::int64_t usual_step(const std::vector<PlotRow>& rows) {
  std::vector<std::int64_t> steps;
  for (std::size_t i = 1; i < rows.size(); ++i) {
    if (rows[i].seconds > rows[i - 1].seconds) {
      steps.push_back(rows[i].seconds - rows[i - 1].seconds);
    }
  }
  if (steps.empty()) {
    return 1;
  }
  std::nth_element(steps.begin(), steps.begin() + static_cast<std::ptrdiff_t>(steps.size() / 2),
                   steps.end());
  return steps[steps.size() / 2];
}

// The least and greatest value of one line in one column, with their rows.
struct Extremes {
  std::size_t least = 0;
  std::size_t greatest = 0;
  bool any = false;
};

}  // namespace

PlotData reduce_for_chart(std::vector<PlotRow> rows, std::size_t value_count, std::size_t columns) {
  PlotData data;
  data.series.resize(value_count);
  if (rows.empty()) {
    return data;
  }
  std::stable_sort(rows.begin(), rows.end(),
                   [](const PlotRow& a, const PlotRow& b) { return a.seconds < b.seconds; });
  const std::int64_t gap = kGapFactor * usual_step(rows);
  const std::int64_t first = rows.front().seconds;
  const std::int64_t span = rows.back().seconds - first + 1;
  const bool reduce = rows.size() > 2 * columns;
  // Few rows: each row a column of its own.
  const auto column_of = [&](std::size_t row) {
    return reduce ? static_cast<std::size_t>((rows[row].seconds - first) *
                                             static_cast<std::int64_t>(columns) / span)
                  : row;
  };

  // Lines: the rows of one column at a time.
  for (std::size_t start = 0; start < rows.size();) {
    const std::size_t column = column_of(start);
    std::size_t end = start;
    bool gap_before = start > 0 && rows[start].seconds - rows[start - 1].seconds > gap;
    while (end < rows.size() && column_of(end) == column) {
      gap_before = gap_before || (end > start && rows[end].seconds - rows[end - 1].seconds > gap);
      ++end;
    }
    for (std::size_t value = 0; value < value_count; ++value) {
      Extremes extremes;
      for (std::size_t i = start; i < end; ++i) {
        const double v = rows[i].values[value];
        if (std::isnan(v)) {
          continue;
        }
        if (!extremes.any || v < rows[extremes.least].values[value]) {
          extremes.least = i;
        }
        if (!extremes.any || v > rows[extremes.greatest].values[value]) {
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
      line.push_back({rows[earlier].seconds, rows[earlier].values[value], gap_before});
      if (later != earlier) {
        line.push_back({rows[later].seconds, rows[later].values[value], false});
      }
    }
    start = end;
  }

  // Alarm spans: each active row to the next row, or a usual step at a gap.
  const std::int64_t join = std::max<std::int64_t>(1, span / static_cast<std::int64_t>(columns));
  for (std::size_t i = 0; i < rows.size(); ++i) {
    if (!rows[i].alarm) {
      continue;
    }
    const bool next_close = i + 1 < rows.size() && rows[i + 1].seconds - rows[i].seconds <= gap;
    const std::int64_t to = next_close ? rows[i + 1].seconds : rows[i].seconds + gap / kGapFactor;
    if (!data.alarm_spans.empty() && rows[i].seconds - data.alarm_spans.back().second <= join) {
      data.alarm_spans.back().second = std::max(data.alarm_spans.back().second, to);
    } else {
      data.alarm_spans.emplace_back(rows[i].seconds, to);
    }
  }
  return data;
}

}  // namespace velmocair::cli
