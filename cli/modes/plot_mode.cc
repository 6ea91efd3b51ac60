#include <cmath>
#include <limits>

#include "cli/history/document_columns.h"
#include "cli/history/gnuplot_chart.h"
#include "cli/history/history_reading.h"
#include "cli/history/output_file.h"
#include "cli/history/record_decoder.h"
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

}  // namespace

int run_plot(const HostOptions& options) {
  const ChartFormat format = chart_format(options.output);
  const auto store = open_history_to_read(options.history);
  RecordDecoder decoder(options.plugin);
  const Json::Value* blank_document =
      decoder.document(std::vector<unsigned char>(sizeof(Velmocair_Data_t)));
  if (blank_document == nullptr) {
    throw RunError(options.plugin + ": the device builds no status document");
  }
  const Json::Value blank = *blank_document;
  const DocumentColumns columns(blank);
  std::vector<const DocumentColumn*> plotted;
  for (const std::string& key : options.values) {
    plotted.push_back(&plotted_column(key, blank, columns));
  }

  std::vector<PlotRow> rows;
  const std::string error =
      store->for_each_row(row_filter(options), [&](const sitehost::HistoryRow& row) {
        const Json::Value* document = decoder.document(row.record);
        if (document == nullptr) {
          return;
        }
        PlotRow plot_row;
        plot_row.seconds = wall_seconds(row.time);
        plot_row.alarm = !decoder.recorded_points().empty();
        for (const DocumentColumn* column : plotted) {
          plot_row.values.push_back(leaf_number(*document, *column));
        }
        rows.push_back(std::move(plot_row));
      });
  if (!error.empty()) {
    throw RunError(options.history + ": " + error);
  }
  if (rows.empty()) {
    throw RunError("no stored records to plot in " + rows_origin(options));
  }
  OutputFile out(options.output);
  ChartRequest request;
  request.titles = options.values;
  request.heading = rows_origin(options);
  request.format = format;
  request.output = out.temporary_path();
  draw_chart(reduce_for_chart(std::move(rows), plotted.size(), kChartWidth), request);
  out.commit();
  return kExitOk;
}

std::string plot_help() {
  return "usage: velmocair-host history plot --history FILE --values KEY,... [--data-id N] "
         "[--from TIME] [--to TIME] -o FILE.svg|FILE.png\n\n"
         "A trend chart drawn by gnuplot: one line per value on a local-time axis,\n"
         "the periods in which any alarm point was active shaded; long periods are\n"
         "reduced to the least and greatest value per pixel column.\n";
}

}  // namespace velmocair::cli
