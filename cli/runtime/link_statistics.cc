#include "cli/runtime/link_statistics.h"

#include <algorithm>
#include <cstdio>
#include <iterator>
#include <sstream>

namespace velmocair::cli {
namespace {

using sitehost::LinkCounters;

constexpr double kMedian = 0.5;
constexpr double kNinetyNinth = 0.99;
constexpr double kPercent = 100.0;
constexpr double kMicrosecondsPerMillisecond = 1000.0;
// Below these many milliseconds a time shows a hundredth, a tenth.
constexpr double kHundredthsBelow = 1.0;
constexpr double kTenthsBelow = 10.0;
constexpr const char* kColumnGap = "  ";

// A response time, "-" when none was recorded.
std::string milliseconds(const sitehost::ResponseTimes& times, std::chrono::microseconds time) {
  return times.count() == 0 ? "-" : milliseconds_text(time);
}

std::string ok_percent(const LinkCounters& link) {
  if (link.attempts == 0) {
    return "-";
  }
  // Of the tries, so that a line that needs retries shows it.
  char text[32];
  std::snprintf(
      text, sizeof text, "%.1f",
      kPercent * static_cast<double>(link.answered()) / static_cast<double>(link.attempts));
  return text;
}

std::string count(std::uint64_t value) { return std::to_string(value); }

// "0", or "2 (up to 210 ms)": late replies and the most one came late by.
std::string late_replies(const LinkCounters& link) {
  if (link.late_replies == 0) {
    return "0";
  }
  return count(link.late_replies) + " (up to " + milliseconds_text(link.most_late) + " ms)";
}

// One column of the --stats table: its heading and its value for a unit.
struct Column {
  const char* heading;
  std::string (*value)(const LinkCounters&);
};

// clang-format off
// heading          value
constexpr Column kColumns[] = {
    {"exchanges",   [](const LinkCounters& l) { return count(l.exchanges); }},
    {"ok %",        [](const LinkCounters& l) { return ok_percent(l); }},
    {"replies",     [](const LinkCounters& l) { return count(l.replies); }},
    {"time-outs",   [](const LinkCounters& l) { return count(l.timeouts); }},
    {"exceptions",  [](const LinkCounters& l) { return exception_counts(l); }},
    {"broken",      [](const LinkCounters& l) { return count(l.broken_frames); }},
    {"retries",     [](const LinkCounters& l) { return count(l.retries); }},
    {"late",        [](const LinkCounters& l) { return late_replies(l); }},
    {"lost",        [](const LinkCounters& l) { return count(l.connection_losses); }},
    {"failed opens", [](const LinkCounters& l) { return count(l.open_failures); }},
    {"reconnects",  [](const LinkCounters& l) { return count(l.reconnects); }},
    {"median ms",   [](const LinkCounters& l) { return milliseconds(l.response_times, l.response_times.quantile(kMedian)); }},
    {"p99 ms",      [](const LinkCounters& l) { return milliseconds(l.response_times, l.response_times.quantile(kNinetyNinth)); }},
    {"max ms",      [](const LinkCounters& l) { return milliseconds(l.response_times, l.response_times.max()); }},
    {"cycles ok",   [](const LinkCounters& l) { return count(l.cycles_completed); }},
    {"failed",      [](const LinkCounters& l) { return count(l.cycles_failed); }},
};
// clang-format on
static_assert(std::size(kColumns) == 16);

std::string padded(const std::string& text, std::size_t width, bool left) {
  const std::string fill(width > text.size() ? width - text.size() : 0, ' ');
  return left ? text + fill : fill + text;
}

}  // namespace

std::string milliseconds_text(std::chrono::microseconds time) {
  const double ms = static_cast<double>(time.count()) / kMicrosecondsPerMillisecond;
  char text[32];
  std::snprintf(text, sizeof text,
                ms < kHundredthsBelow ? "%.2f"
                : ms < kTenthsBelow   ? "%.1f"
                                      : "%.0f",
                ms);
  return text;
}

std::string exception_counts(const LinkCounters& link) {
  if (link.exceptions.empty()) {
    return "none";
  }
  std::string text;
  for (const auto& [code, times] : link.exceptions) {
    char item[32];
    std::snprintf(item, sizeof item, "%s%02X x%llu", text.empty() ? "" : ", ", code,
                  static_cast<unsigned long long>(times));
    text += item;
  }
  return text;
}

std::string link_summary(const LinkCounters& link) {
  if (link.exchanges == 0) {
    return "link: no exchanges yet";
  }
  return "link " + ok_percent(link) + " % ok, p99 " +
         milliseconds(link.response_times, link.response_times.quantile(kNinetyNinth)) + " ms";
}

std::string link_view_line(const LinkCounters& link) {
  std::ostringstream line;
  line << "link: " << link.exchanges << " exchanges, " << ok_percent(link) << " % ok; "
       << link.timeouts << " time-outs, exceptions " << exception_counts(link) << ", "
       << link.broken_frames << " broken frames, " << link.retries << " retries, "
       << late_replies(link) << " late, " << link.connection_losses << " lost, "
       << link.open_failures << " failed opens, " << link.reconnects
       << " reconnects; response median "
       << milliseconds(link.response_times, link.response_times.quantile(kMedian)) << " ms, p99 "
       << milliseconds(link.response_times, link.response_times.quantile(kNinetyNinth))
       << " ms, max " << milliseconds(link.response_times, link.response_times.max())
       << " ms; cycles " << link.cycles_completed << " completed, " << link.cycles_failed
       << " failed";
  return line.str();
}

std::string statistics_table(const std::vector<std::pair<std::string, LinkCounters>>& units) {
  std::vector<std::vector<std::string>> rows{{"unit"}};
  for (const Column& column : kColumns) {
    rows[0].push_back(column.heading);
  }
  for (const auto& [name, link] : units) {
    std::vector<std::string> row{name};
    for (const Column& column : kColumns) {
      row.push_back(column.value(link));
    }
    rows.push_back(std::move(row));
  }
  std::vector<std::size_t> widths(rows[0].size(), 0);
  for (const auto& row : rows) {
    for (std::size_t i = 0; i < row.size(); ++i) {
      widths[i] = std::max(widths[i], row[i].size());
    }
  }
  std::ostringstream table;
  for (const auto& row : rows) {
    for (std::size_t i = 0; i < row.size(); ++i) {
      table << (i == 0 ? "" : kColumnGap) << padded(row[i], widths[i], i == 0);
    }
    table << "\n";
  }
  return table.str();
}

}  // namespace velmocair::cli
