#include "cli/history/gnuplot_chart.h"

#include <fcntl.h>
#include <spawn.h>
#include <stdlib.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <iterator>
#include <sstream>

#include "cli/options/exit_status.h"
#include "cli/runtime/interrupt.h"

extern char** environ;

namespace velmocair::cli {
namespace {

constexpr const char* kGnuplot = "gnuplot";
// Alarm shading, a colour per unit in turn.
constexpr const char* kShades[] = {"#f6d0cc", "#cce0f6", "#d6f0cc", "#efd9f4"};
constexpr std::int64_t kSecondsPerHour = 3600;
constexpr std::int64_t kSecondsPerDay = 86400;
constexpr std::int64_t kDaysInMonth = 31;
// Room on either side of a chart of a single moment.
constexpr std::int64_t kLoneMomentMargin = 60;

// clang-format off
// span up to (seconds)           tick labels
struct TickFormat {
  std::int64_t span;
  const char* format;
};
constexpr TickFormat kTickFormats[] = {
    {kSecondsPerHour,               "%H:%M:%S"},
    {kSecondsPerDay,                "%H:%M"},
    {kDaysInMonth * kSecondsPerDay, "%m-%d\\n%H:%M"},
    {INT64_MAX,                     "%Y-%m-%d"},
};
// clang-format on

// A folder of scratch files, removed with them.
class ScratchFiles {
 public:
  ScratchFiles() {
    const char* base = std::getenv("TMPDIR");
    std::string pattern =
        std::string(base != nullptr && *base != '\0' ? base : "/tmp") + "/velmocair-plot-XXXXXX";
    std::vector<char> name(pattern.begin(), pattern.end());
    name.push_back('\0');
    if (mkdtemp(name.data()) == nullptr) {
      throw RunError("cannot make a scratch folder for gnuplot: " +
                     std::string(std::strerror(errno)));
    }
    folder_ = name.data();
  }
  ~ScratchFiles() {
    for (const char* name : {kData, kScript, kMessages, kChart}) {
      unlink(path(name).c_str());
    }
    rmdir(folder_.c_str());
  }
  ScratchFiles(const ScratchFiles&) = delete;
  ScratchFiles& operator=(const ScratchFiles&) = delete;

  std::string path(const char* name) const { return folder_ + "/" + name; }

  static constexpr const char* kData = "data.tsv";
  static constexpr const char* kScript = "chart.gp";
  static constexpr const char* kMessages = "gnuplot.txt";
  static constexpr const char* kChart = "chart";

 private:
  std::string folder_;
};

// A gnuplot string in double quotes.
std::string quoted(const std::string& text) {
  std::string out = "\"";
  for (const char c : text) {
    if (c == '"' || c == '\\') {
      out += '\\';
    }
    out += c;
  }
  return out + "\"";
}

std::string time_value(std::int64_t seconds) { return quoted(std::to_string(seconds)); }

// Each line a block of "seconds<TAB>value" rows, unit after unit; a blank
// line where it breaks, two between lines.
void write_data(const std::vector<PlotData>& units, const std::string& path) {
  std::ofstream out(path);
  char value[32];
  for (const PlotData& data : units) {
    for (const std::vector<PlotPoint>& line : data.series) {
      for (const PlotPoint& point : line) {
        if (point.breaks_before) {
          out << "\n";
        }
        std::snprintf(value, sizeof value, "%.6g", point.value);
        out << point.seconds << '\t' << value << '\n';
      }
      out << "\n\n";
    }
  }
  if (!out) {
    throw RunError("cannot write gnuplot's data to " + path);
  }
}

std::string script(const std::vector<PlotData>& units, const ChartRequest& request,
                   const std::string& data_path, const std::string& output) {
  std::int64_t first = INT64_MAX;
  std::int64_t last = INT64_MIN;
  for (const PlotData& data : units) {
    for (const std::vector<PlotPoint>& line : data.series) {
      for (const PlotPoint& point : line) {
        first = std::min(first, point.seconds);
        last = std::max(last, point.seconds);
      }
    }
    for (const auto& span : data.alarm_spans) {
      first = std::min(first, span.first);
      last = std::max(last, span.second);
    }
  }
  if (first >= last) {
    first -= kLoneMomentMargin;
    last += kLoneMomentMargin;
  }
  const char* ticks = kTickFormats[0].format;
  for (const TickFormat& format : kTickFormats) {
    if (last - first <= format.span) {
      ticks = format.format;
      break;
    }
  }
  std::ostringstream text;
  if (request.format == ChartFormat::svg) {
    text << "set terminal svg size " << kChartWidth << "," << kChartHeight
         << " dynamic font \"sans,11\" background \"#ffffff\"\n";
  } else {
    text << "set terminal pngcairo size " << kChartWidth << "," << kChartHeight
         << " font \"sans,10\" background \"#ffffff\"\n";
  }
  text << "set output " << quoted(output) << "\n"
       << "set encoding utf8\n"
       << "set datafile separator \"\\t\"\n"
       << "set xdata time\nset timefmt \"%s\"\n"
       << "set format x \"" << ticks << "\"\n"
       << "set xlabel \"local time\"\n"
       << "set xrange [" << time_value(first) << ":" << time_value(last) << "]\n"
       << "set grid\nset key outside bottom center horizontal noenhanced\n"
       << "set title " << quoted(request.heading) << " noenhanced\n";
  // Several units: each shades a band of its own, the first at the top.
  const bool several = units.size() > 1;
  int object = 1;
  for (std::size_t unit = 0; unit < units.size(); ++unit) {
    const double top = 1.0 - static_cast<double>(unit) / static_cast<double>(units.size());
    const double bottom = 1.0 - static_cast<double>(unit + 1) / static_cast<double>(units.size());
    for (const auto& span : units[unit].alarm_spans) {
      text << "set object " << object++ << " rect from " << time_value(span.first) << ", graph "
           << bottom << " to " << time_value(span.second) << ", graph " << top
           << " behind fc rgb \"" << kShades[unit % std::size(kShades)]
           << "\" fs solid 1.0 noborder\n";
    }
  }
  text << "plot ";
  std::size_t block = 0;
  for (const PlotData& data : units) {
    const std::string unit_name = " (data id " + std::to_string(data.data_id) + ")";
    for (const std::string& title : request.titles) {
      text << (block == 0 ? quoted(data_path) : std::string("''")) << " index " << block
           << " using 1:2 with lines lw 1.5 title " << quoted(several ? title + unit_name : title)
           << ", ";
      ++block;
    }
  }
  for (std::size_t unit = 0; unit < units.size(); ++unit) {
    if (!units[unit].alarm_spans.empty()) {
      const std::string title =
          several ? "data id " + std::to_string(units[unit].data_id) + ": an alarm point active"
                  : "any alarm point active";
      text << "keyentry with boxes fs solid 1.0 fc rgb \"" << kShades[unit % std::size(kShades)]
           << "\" title " << quoted(title) << ", ";
    }
  }
  text << "\n";
  return text.str();
}

// Runs gnuplot on the script; its messages go to `messages`.
void run_gnuplot(const std::string& script_path, const std::string& messages) {
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, STDIN_FILENO, "/dev/null", O_RDONLY, 0);
  posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, messages.c_str(),
                                   O_WRONLY | O_CREAT | O_TRUNC, 0600);
  posix_spawn_file_actions_adddup2(&actions, STDOUT_FILENO, STDERR_FILENO);
  std::vector<char*> argv{const_cast<char*>(kGnuplot), const_cast<char*>(script_path.c_str()),
                          nullptr};
  pid_t pid = -1;
  const int failed = posix_spawnp(&pid, kGnuplot, &actions, nullptr, argv.data(), environ);
  posix_spawn_file_actions_destroy(&actions);
  if (failed != 0) {
    throw RunError(std::string("cannot run gnuplot (Debian package gnuplot-nox): ") +
                   std::strerror(failed));
  }
  int status = 0;
  while (waitpid(pid, &status, 0) < 0 && errno == EINTR) {
  }
  if (interrupted()) {
    throw Interrupted();
  }
  if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) {
    std::ifstream said(messages);
    // gnuplot ends with the line that names what went wrong.
    std::string line;
    std::string last;
    while (std::getline(said, line)) {
      if (line.find_first_not_of(" \t^") != std::string::npos) {
        last = line;
      }
    }
    throw RunError("gnuplot could not draw the chart: " + last);
  }
}

}  // namespace

void draw_chart(const std::vector<PlotData>& units, const ChartRequest& request, OutputFile& out) {
  const ScratchFiles scratch;
  const std::string data_path = scratch.path(ScratchFiles::kData);
  write_data(units, data_path);
  const std::string script_path = scratch.path(ScratchFiles::kScript);
  const std::string chart_path = scratch.path(ScratchFiles::kChart);
  std::ofstream(script_path) << script(units, request, data_path, chart_path);
  run_gnuplot(script_path, scratch.path(ScratchFiles::kMessages));
  if (interrupted()) {
    throw Interrupted();
  }
  std::ifstream chart(chart_path, std::ios::binary);
  const std::string bytes((std::istreambuf_iterator<char>(chart)),
                          std::istreambuf_iterator<char>());
  if (!chart) {
    throw RunError("gnuplot wrote no chart");
  }
  out.write(bytes);
}

}  // namespace velmocair::cli
