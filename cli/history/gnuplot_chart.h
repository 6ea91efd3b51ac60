#pragma once

#include <string>
#include <vector>

#include "cli/history/output_file.h"
#include "cli/history/plot_series.h"

namespace velmocair::cli {

enum class ChartFormat : unsigned char { svg, png };

struct ChartRequest {
  std::vector<std::string> titles;  // one per value
  std::string heading;
  ChartFormat format = ChartFormat::svg;
};

// The chart's width in pixels; reduce_for_chart keeps two points a column
// of it.
inline constexpr std::size_t kChartWidth = 1200;
inline constexpr std::size_t kChartHeight = 600;

// Draws the chart of the units with gnuplot into `out`: lines on a
// local-time axis, each unit's alarm spans shaded behind them (in a band
// of its own when there are several units, whose lines then name their
// data id). Throws RunError with gnuplot's last complaint when it cannot,
// Interrupted when SIGINT or SIGTERM came meanwhile.
void draw_chart(const std::vector<PlotData>& units, const ChartRequest& request, OutputFile& out);

}  // namespace velmocair::cli
