#pragma once

#include <string>
#include <vector>

#include "cli/history/plot_series.h"

namespace velmocair::cli {

enum class ChartFormat : unsigned char { svg, png };

struct ChartRequest {
  std::vector<std::string> titles;  // one per line of the data
  std::string heading;
  ChartFormat format = ChartFormat::svg;
  std::string output;  // the file gnuplot writes
};

// The chart's width in pixels; reduce_for_chart keeps two points a column
// of it.
inline constexpr std::size_t kChartWidth = 1200;
inline constexpr std::size_t kChartHeight = 600;

// Draws the chart with gnuplot: lines on a local-time axis, alarm spans
// shaded behind them. Throws RunError with gnuplot's first complaint when
// it cannot.
void draw_chart(const PlotData& data, const ChartRequest& request);

}  // namespace velmocair::cli
