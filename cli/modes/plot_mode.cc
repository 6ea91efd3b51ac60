#include <algorithm>
#include <cmath>
#include <limits>

#include "cli/history/decoder_check.h"
#include "cli/history/document_columns.h"
#include "cli/history/gnuplot_chart.h"
#include "cli/history/history_reading.h"
#include "cli/history/output_file.h"
#include "cli/history/stored_rows.h"
#include "cli/modes/modes.h"
#include "cli/options/exit_status.h"
#include "device/Velmocair_Data_t.h"

namespace velmocair::cli {
namespace {

struct ChartKind {
  const char* extension;
  ChartFormat format;
};
constexpr ChartKind kChartKinds[] = {
    {".svg", ChartFormat::svg},
    {".png", ChartFormat::png}
};

ChartFormat chart_format(const std::string& output) {
  for (const ChartKind& kind : kChartKinds) {
    const std::string extension = kind.extension;
    if (output.size() > extension.size() &&
        output.compare(output.size() - extension.size(), extension.size(), extension) == 0) {
      return kind.format;
    }
  }
  throw UsageError("-o " + output + ": the chart is FILE.svg or FILE.png");
}

// The document column a --values key names: its path, or its own member
// name when no other number or flag has it.
const DocumentColumn& plotted_column(const std::string& key, const Json::Value& blank,
                                     const DocumentColumns& columns) {
  std::vector<const DocumentColumn*> found;
  for (const DocumentColumn& column : columns.columns()) {
    if (column.path == key) {
      found.assign(1, &column);
      break;
    }
    if (column.members.back() == key) {
      found.push_back(&column);
    }
  }
  if (found.empty()) {
    throw UsageError("--values: no value '" + key +
                     "' in the status document (give a path such as 室内机组状态/回风温度)");
  }
  if (found.size() > 1) {
    std::string paths;
    for (const DocumentColumn* column : found) {
      paths += (paths.empty() ? "" : ", ") + column->path;
    }
    throw UsageError("--values: '" + key + "' names several values: " + paths);
  }
  const Json::Value* leaf = &blank;
  for (const std::string& member : found[0]->members) {
    leaf = &(*leaf)[member];
  }
  if (!leaf->isNumeric() && !leaf->isBool()) {
    throw UsageError("--values: " + found[0]->path + " is a text, not a number");
  }
  return *found[0];
}

// The leaf at the column's members, as a number (a flag as 0 or 1); NaN
// when the document has none there.
double leaf_number(const Json::Value& document, const DocumentColumn& column) {
  const Json::Value* leaf = &document;
  for (const std::string& member : column.members) {
    leaf = leaf->find(member.data(), member.data() + member.size());
    if (leaf == nullptr) {
      return std::numeric_limits<double>::quiet_NaN();
    }
  }
  return leaf->isNumeric() || leaf->isBool() ? leaf->asDouble()
                                             : std::numeric_limits<double>::quiet_NaN();
}

// Where a plotted value comes from: its leaf of the decoded cells, or its
// column of the plug-in's document.
struct PlottedValue {
  const DocumentColumn* column;
  std::size_t leaf;
};

float cell_number(const status::Cell& cell) {
  return static_cast<float>(cell.kind == status::CellKind::flag ? (cell.flag ? 1.0 : 0.0)
                                                                : cell.number);
}

}  // namespace

int run_plot(const HostOptions& options) {
  const ChartFormat format = chart_format(options.output);
  StoredRows rows(options);
  const Json::Value* blank_document =
      rows.plugin().document(std::vector<unsigned char>(sizeof(Velmocair_Data_t)));
  if (blank_document == nullptr) {
    throw RunError("the plug-in builds no status document");
  }
  const Json::Value blank = *blank_document;
  const DocumentColumns columns(blank);
  const std::vector<status::DocumentLeaf>& leaves = rows.cells().leaves();
  std::vector<PlottedValue> plotted;
  std::vector<std::size_t> leaf_indexes;
  for (const std::string& key : options.values) {
    const DocumentColumn& column = plotted_column(key, blank, columns);
    std::size_t leaf = 0;
    while (leaf < leaves.size() && status::leaf_path(leaves[leaf]) != column.path) {
      ++leaf;
    }
    if (leaf == leaves.size() && !rows.through_plugin()) {
      throw RunError("--values: " + column.path + " is not among the decoded leaves");
    }
    plotted.push_back({&column, leaf});
    leaf_indexes.push_back(leaf);
  }

  std::vector<PlotColumns> units;
  std::vector<float> values(plotted.size());
  std::vector<unsigned char> record;
  while (rows.next()) {
    const sitehost::StoredRow& row = rows.row();
    bool alarm = false;
    if (rows.through_plugin()) {
      record.assign(row.record, row.record + row.record_size);
      const Json::Value* document = rows.plugin().document(record);
      if (document == nullptr) {
        continue;
      }
      alarm = !rows.plugin().recorded_points().empty();
      for (std::size_t i = 0; i < plotted.size(); ++i) {
        values[i] = static_cast<float>(leaf_number(*document, *plotted[i].column));
      }
    } else {
      if (!rows.cells().decode(row.record, row.record_size, leaf_indexes)) {
        continue;
      }
      alarm = any_alarm_active(row.record);
      for (std::size_t i = 0; i < plotted.size(); ++i) {
        values[i] = cell_number(rows.cells().cells()[plotted[i].leaf]);
      }
    }
    auto unit = std::find_if(units.begin(), units.end(), [&](const PlotColumns& columns_of) {
      return columns_of.data_id() == row.data_id;
    });
    if (unit == units.end()) {
      unit = units.insert(units.end(), PlotColumns(row.data_id, plotted.size()));
    }
    unit->add(wall_seconds(row.time), alarm, values.data());
  }
  if (units.empty()) {
    throw RunError("no stored records to plot in " + rows_origin(options));
  }
  std::sort(units.begin(), units.end(),
            [](const PlotColumns& a, const PlotColumns& b) { return a.data_id() < b.data_id(); });
  std::vector<PlotData> charted;
  std::int64_t first = INT64_MAX;
  std::int64_t last = INT64_MIN;
  for (const PlotColumns& unit : units) {
    first = std::min(first, unit.seconds(0));
    last = std::max(last, unit.seconds(unit.size() - 1));
    charted.push_back(reduce_for_chart(unit, kChartWidth));
  }
  if (first == last) {
    throw RunError("nothing to draw: the rows of " + rows_origin(options) +
                   " were all stored at one time; a chart needs two at least");
  }
  OutputFile out(options.output);
  ChartRequest request;
  request.titles = options.values;
  request.heading = rows_origin(options);
  request.format = format;
  draw_chart(charted, request, out);
  out.commit();
  return kExitOk;
}

std::string plot_help() {
  return "usage: velmocair-host history plot --history FILE --values KEY,... [--data-id N] "
         "[--from TIME] [--to TIME] -o FILE.svg|FILE.png\n\n"
         "A trend chart drawn by gnuplot: one line per value and unit on a local-time\n"
         "axis, the periods in which any alarm point of a unit was active shaded;\n"
         "long periods are reduced to the least and greatest value per pixel column.\n";
}

}  // namespace velmocair::cli
