// velmocair-host's reading commands on history files of known rows: export
// (every column the status document of its record), alarm events, trend
// charts, and bad input refused without touching the history or leaving
// an output file behind.
#include <gtest/gtest.h>
#include <json/reader.h>
#include <sys/stat.h>

#include <cmath>
#include <cstdio>
#include <filesystem>
#include <random>
#include <set>

#include "alarms/alarm_table.h"
#include "cli/history/row_formats.h"
#include "device/Velmocair_Data_t.h"
#include "host/services/history_store.h"
#include "tests/support/host_run.h"

namespace velmocair::testing {
namespace {

constexpr std::size_t kStamp = offsetof(Velmocair_Data_t, time_stamp);
constexpr std::size_t kReturnAir = 87;        // register 8005, tenths
constexpr std::size_t kHighTemperature = 46;  // coil 8043
constexpr std::size_t kFilterService = 65;    // coil 8062

struct StoredRow {
  std::uint32_t data_id;
  std::string time;
  std::vector<unsigned char> record;
};

std::vector<unsigned char> blank_record(std::uint16_t year = 2024) {
  std::vector<unsigned char> record(kRecordSize, 0);
  record[kStamp] = static_cast<unsigned char>(year & 0xFF);
  record[kStamp + 1] = static_cast<unsigned char>(year >> 8);
  const unsigned char rest[] = {3, 4, 5, 6, 7};
  std::copy(std::begin(rest), std::end(rest), record.begin() + kStamp + 2);
  return record;
}

void set_word(std::vector<unsigned char>& record, std::size_t offset, std::uint16_t value) {
  record[offset] = static_cast<unsigned char>(value & 0xFF);
  record[offset + 1] = static_cast<unsigned char>(value >> 8);
}

void write_history(const std::string& path, const std::vector<StoredRow>& rows) {
  std::string error;
  auto store =
      sitehost::HistoryStore::open(path, sitehost::HistoryStore::Access::read_write, error);
  ASSERT_NE(store, nullptr) << error;
  for (const StoredRow& row : rows) {
    ASSERT_EQ(store->append(row.data_id, row.time, row.record.data(), row.record.size()), "");
  }
}

// One line of RFC 4180 CSV, quotes undone.
std::vector<std::string> csv_fields(const std::string& line) {
  std::vector<std::string> fields(1);
  bool quoted = false;
  for (std::size_t i = 0; i < line.size(); ++i) {
    const char c = line[i];
    if (quoted && c == '"' && i + 1 < line.size() && line[i + 1] == '"') {
      fields.back() += '"';
      ++i;
    } else if (c == '"') {
      quoted = !quoted;
    } else if (c == ',' && !quoted) {
      fields.emplace_back();
    } else {
      fields.back() += c;
    }
  }
  return fields;
}

// Every leaf of a document with its path joined by "/", in member order.
void leaves(const Json::Value& value, const std::string& path,
            std::vector<std::pair<std::string, Json::Value>>& out) {
  if (!value.isObject()) {
    out.emplace_back(path, value);
    return;
  }
  for (const std::string& name : value.getMemberNames()) {
    leaves(value[name], path.empty() ? name : path + "/" + name, out);
  }
}

std::vector<std::string> export_lines(const std::string& text) {
  std::vector<std::string> lines;
  std::size_t start = 0;
  while (start < text.size()) {
    const std::size_t end = text.find("\r\n", start);
    EXPECT_NE(end, std::string::npos) << "every CSV line ends in CR LF";
    lines.push_back(text.substr(start, end - start));
    start = end + 2;
  }
  return lines;
}

std::string stamp_of(const std::vector<unsigned char>& record) {
  const unsigned char* s = record.data() + kStamp;
  return std::to_string(s[0] | (s[1] << 8)) + "-" + std::to_string(s[2]) + "-" +
         std::to_string(s[3]) + " " + std::to_string(s[4]) + ":" + std::to_string(s[5]) + ":" +
         std::to_string(s[6]);
}

// A stored time as the export writes it in UTC, the time zone the tests
// run the host in.
std::string iso_utc(const std::string& stored) {
  return stored.substr(0, 10) + "T" + stored.substr(11) + "+00:00";
}

class HistoryCommands : public ::testing::Test {
 protected:
  void SetUp() override { setenv("TZ", "UTC", 1); }

  HostRun history(std::vector<std::string> arguments) {
    arguments.insert(arguments.begin(), "history");
    arguments.insert(arguments.begin() + 2, {"--history", path_});
    return run_host(folder_, arguments);
  }

  ScratchFolder folder_;
  std::string path_ = folder_.path("history.sqlite");
};

TEST_F(HistoryCommands, ExportHoldsTheStatusDocumentOfEveryRecord) {
  std::mt19937 random(13);
  std::vector<StoredRow> rows;
  for (int i = 0; i < 4; ++i) {
    StoredRow row{5, "2024-03-01 10:00:0" + std::to_string(i), blank_record()};
    for (std::size_t offset = 4; offset < kStamp; ++offset) {
      row.record[offset] = static_cast<unsigned char>(random() % (i == 0 ? 3 : 256));
    }
    rows.push_back(row);
  }
  set_word(rows[0].record, kReturnAir, 253);
  write_history(path_, rows);

  const std::string csv_path = folder_.path("rows.csv");
  const HostRun csv = history({"export", "-o", csv_path, "--bom"});
  ASSERT_EQ(csv.status, 0) << csv.transcript();
  std::string csv_text = read_file(csv_path);
  ASSERT_EQ(csv_text.rfind("\xEF\xBB\xBF", 0), 0u) << "--bom";
  const std::vector<std::string> lines = export_lines(csv_text.substr(3));
  const HostRun jsonl = history({"export", "--format", "jsonl"});
  ASSERT_EQ(jsonl.status, 0) << jsonl.transcript();
  ASSERT_EQ(lines.size(), rows.size() + 1);
  ASSERT_EQ(jsonl.out.size(), rows.size());
  const std::vector<std::string> header = csv_fields(lines[0]);

  for (std::size_t i = 0; i < rows.size(); ++i) {
    const std::string record_path = folder_.path("record.bin");
    write_file(record_path, std::string(rows[i].record.begin(), rows[i].record.end()));
    const HostRun decoded = run_host(folder_, {"decode", record_path});
    ASSERT_EQ(decoded.status_documents().size(), 1u) << decoded.transcript();
    std::vector<std::pair<std::string, Json::Value>> expected;
    leaves(decoded.status_documents()[0], "", expected);
    const std::vector<std::string> cells = csv_fields(lines[i + 1]);
    Json::Value object;
    ASSERT_TRUE(Json::Reader().parse(jsonl.out[i], object)) << jsonl.out[i];
    ASSERT_EQ(cells.size(), expected.size() + 2) << "row " << i;
    EXPECT_EQ(cells[0], iso_utc(rows[i].time));
    EXPECT_EQ(cells[1], "5");
    EXPECT_EQ(object["time"], iso_utc(rows[i].time));
    EXPECT_EQ(object.getMemberNames().size(), expected.size() + 2);
    for (std::size_t c = 0; c < expected.size(); ++c) {
      const auto& [path, value] = expected[c];
      const std::string& cell = cells[c + 2];
      const std::string where = "row " + std::to_string(i) + " column " + path + ": " + cell;
      ASSERT_EQ(header[c + 2], path) << "columns in the order of the status text";
      if (path == "更新时间") {
        EXPECT_EQ(cell, stamp_of(rows[i].record)) << where << ": the record's own time stamp";
        EXPECT_EQ(object[path], cell);
      } else if (value.isBool()) {
        EXPECT_EQ(cell, value.asBool() ? "1" : "0") << where;
        EXPECT_EQ(object[path], value) << where;
      } else if (value.isString()) {
        EXPECT_EQ(cell, value.asString()) << where;
        EXPECT_EQ(object[path], value) << where;
      } else {
        // The unit's own decimals: none or one, the value it shows.
        const std::size_t point = cell.find('.');
        EXPECT_TRUE(point == std::string::npos || point + 2 == cell.size()) << where;
        EXPECT_NEAR(std::stod(cell), value.asDouble(), 0.01) << where;
        EXPECT_NEAR(object[path].asDouble(), value.asDouble(), 0.01) << where;
      }
    }
  }
  const auto return_air = std::find(header.begin(), header.end(), "室内机组状态/回风温度");
  ASSERT_NE(return_air, header.end());
  EXPECT_EQ(csv_fields(lines[1])[static_cast<std::size_t>(return_air - header.begin())], "25.3");
}

TEST_F(HistoryCommands, ExportSelectsRowsByUnitAndPeriod) {
  // clang-format off
  const std::vector<StoredRow> rows = {
      {1, "2024-03-01 23:59:59", blank_record()},
      {1, "2024-03-02 00:00:00", blank_record()},
      {2, "2024-03-02 08:00:00", blank_record()},
      {1, "2024-03-02 23:59:59", blank_record()},
      {1, "2024-03-03 00:00:00", blank_record()},
  };
  // clang-format on
  write_history(path_, rows);
  struct Selection {
    std::vector<std::string> options;
    std::vector<std::string> times;
  };
  // clang-format off
  const Selection selections[] = {
      {{},                                                      {"2024-03-01 23:59:59", "2024-03-02 00:00:00", "2024-03-02 08:00:00", "2024-03-02 23:59:59", "2024-03-03 00:00:00"}},
      {{"--data-id", "1", "--from", "2024-03-02", "--to", "2024-03-03"}, {"2024-03-02 00:00:00", "2024-03-02 23:59:59"}},
      {{"--from", "2024-03-02T08:00"},                          {"2024-03-02 08:00:00", "2024-03-02 23:59:59", "2024-03-03 00:00:00"}},
      {{"--data-id", "2", "--to", "2024-03-02 08:00:00"},       {}},
  };
  // clang-format on
  for (const Selection& selection : selections) {
    std::vector<std::string> arguments{"export", "-o", folder_.path("rows.csv")};
    arguments.insert(arguments.end(), selection.options.begin(), selection.options.end());
    const HostRun run = history(arguments);
    ASSERT_EQ(run.status, 0) << run.transcript();
    const std::vector<std::string> lines = export_lines(read_file(folder_.path("rows.csv")));
    std::vector<std::string> times;
    for (std::size_t i = 1; i < lines.size(); ++i) {
      times.push_back(csv_fields(lines[i])[0]);
    }
    std::vector<std::string> expected;
    std::transform(selection.times.begin(), selection.times.end(), std::back_inserter(expected),
                   iso_utc);
    EXPECT_EQ(times, expected) << ::testing::PrintToString(selection.options);
  }
}

TEST(CsvField, QuotesTextsThatNeedIt) {
  // clang-format off
  const std::pair<const char*, const char*> cases[] = {
      {"正常",              "正常"},
      {"a,b",               "\"a,b\""},
      {"say \"hi\"",        "\"say \"\"hi\"\"\""},
      {"two\nlines",        "\"two\nlines\""},
      {"cr\r",              "\"cr\r\""},
      {"",                  ""},
  };
  // clang-format on
  for (const auto& [text, field] : cases) {
    std::string out;
    cli::append_csv_field(out, text);
    EXPECT_EQ(out, field) << text;
    EXPECT_EQ(csv_fields(out), std::vector<std::string>{text}) << "reads back: " << out;
  }
}

std::string alarm_point(std::size_t offset) {
  for (const AlarmEntry& entry : kAlarmTable) {
    if (entry.offset.value == offset) {
      return "#" + std::to_string(entry.index) + " " + entry.text;
    }
  }
  return "none";
}

TEST_F(HistoryCommands, AlarmEventsRunFromRaiseToClear) {
  std::vector<StoredRow> rows;
  for (int i = 0; i < 8; ++i) {
    char time[32];
    std::snprintf(time, sizeof time, "2024-03-01 10:0%d:00", i);
    StoredRow row{9, time, blank_record()};
    row.record[kHighTemperature] = i >= 1 && i < 4 ? 1 : 0;  // raised 10:01, cleared 10:04
    row.record[kFilterService] = i >= 6 ? 1 : 0;             // raised 10:06, still at 10:07
    rows.push_back(row);
  }
  rows[5].record[kHighTemperature] = 1;  // raised again 10:05, cleared 10:06
  rows.push_back({10, "2024-03-01 10:03:00", blank_record()});
  write_history(path_, rows);

  const HostRun run = history({"alarms"});
  ASSERT_EQ(run.status, 0) << run.transcript();
  const std::string high = alarm_point(kHighTemperature);
  const std::string filter = alarm_point(kFilterService);
  const std::vector<std::string> expected = {
      "data id 9: rows from 2024-03-01 10:00:00 to 2024-03-01 10:07:00",
      "raised               cleared                    active  point",
      "2024-03-01 10:01:00  2024-03-01 10:04:00       0:03:00  " + high,
      "2024-03-01 10:05:00  2024-03-01 10:06:00       0:01:00  " + high,
      "2024-03-01 10:06:00  still active              0:01:00  " + filter,
      "events        active  point",
      "     2       0:04:00  " + high,
      "     1       0:01:00  " + filter,
      "data id 10: rows from 2024-03-01 10:03:00 to 2024-03-01 10:03:00",
      "raised               cleared                    active  point",
      "no alarm point was active",
  };
  EXPECT_EQ(run.out, expected) << run.transcript();

  const HostRun one_unit = history({"alarms", "--data-id", "9", "--from", "2024-03-01 10:02"});
  ASSERT_EQ(one_unit.status, 0) << one_unit.transcript();
  ASSERT_GE(one_unit.out.size(), 3u);
  EXPECT_EQ(one_unit.out[2], "2024-03-01 10:02:00* 2024-03-01 10:04:00       0:02:00  " + high)
      << "an event active in the first row of the period counts from that row, marked";
  ASSERT_GE(one_unit.out.size(), 6u);
  EXPECT_EQ(one_unit.out[5], "* active in the unit's first row: raised then or before");
}

// The lines of an SVG chart, by their legend titles, and the shading.
struct Chart {
  std::vector<std::string> titles;
  std::vector<std::size_t> points;  // per line, the points of its path
};

Chart read_chart(const std::string& svg) {
  Chart chart;
  const std::string group = "<g id=\"gnuplot_plot_";
  const std::string title = "<title>";
  const std::string path_data = "d='";
  std::size_t at = svg.find(group);
  while (at != std::string::npos) {
    const std::size_t next = svg.find(group, at + 1);
    const std::size_t end = next == std::string::npos ? svg.size() : next;
    const std::size_t title_start = svg.find(title, at) + title.size();
    chart.titles.push_back(
        svg.substr(title_start, svg.find("</title>", title_start) - title_start));
    std::size_t points = 0;
    for (std::size_t d = svg.find(path_data, at); d < end; d = svg.find(path_data, d + 1)) {
      const std::size_t close = svg.find('\'', d + path_data.size());
      points +=
          static_cast<std::size_t>(std::count_if(svg.begin() + static_cast<std::ptrdiff_t>(d),
                                                 svg.begin() + static_cast<std::ptrdiff_t>(close),
                                                 [](char c) { return c == 'L' || c == 'M'; }));
    }
    chart.points.push_back(points);
    at = next;
  }
  return chart;
}

TEST_F(HistoryCommands, PlotDrawsOneLinePerValueAndShadesAlarms) {
  constexpr int kRows = 3000;  // more than two points per pixel column of 1200
  std::vector<StoredRow> rows;
  for (int i = 0; i < kRows; ++i) {
    char time[32];
    std::snprintf(time, sizeof time, "2024-03-%02d %02d:%02d:%02d", 1 + i / 3600 / 24,
                  i / 3600 % 24, i / 60 % 60, i % 60);
    StoredRow row{3, time, blank_record()};
    set_word(row.record, kReturnAir, static_cast<std::uint16_t>(200 + i % 97));
    row.record[kHighTemperature] = i > 1000 && i < 1600 ? 1 : 0;
    rows.push_back(row);
    // A second unit in the same period, its alarm at another time.
    row.data_id = 7;
    row.record[kHighTemperature] = i > 2000 && i < 2100 ? 1 : 0;
    rows.push_back(row);
  }
  write_history(path_, rows);
  const std::string svg = folder_.path("chart.svg");
  const HostRun run = history({"plot", "--values",
                               "回风温度,参数设定/回风温度设定值,室内机组状态/AlertArray/高温报警",
                               "-o", svg, "--data-id", "3"});
  ASSERT_EQ(run.status, 0) << run.transcript();
  const Chart chart = read_chart(read_file(svg));
  const std::vector<std::string> titles = {"回风温度", "参数设定/回风温度设定值",
                                           "室内机组状态/AlertArray/高温报警",
                                           "any alarm point active"};
  EXPECT_EQ(chart.titles, titles);
  ASSERT_EQ(chart.points.size(), titles.size());
  for (std::size_t line = 0; line < 3; ++line) {
    EXPECT_GT(chart.points[line], 2u) << titles[line];
    EXPECT_LE(chart.points[line], 2 * 1200u + 10) << titles[line] << ": reduced per pixel column";
  }

  const HostRun both = history({"plot", "--values", "回风温度", "-o", svg});
  ASSERT_EQ(both.status, 0) << both.transcript();
  const Chart per_unit = read_chart(read_file(svg));
  const std::vector<std::string> unit_titles = {"回风温度 (data id 3)", "回风温度 (data id 7)",
                                                "data id 3: an alarm point active",
                                                "data id 7: an alarm point active"};
  EXPECT_EQ(per_unit.titles, unit_titles) << "one line per unit, no zig-zag between them";
  ASSERT_EQ(per_unit.points.size(), unit_titles.size());
  EXPECT_EQ(per_unit.points[0], chart.points[0]) << "unit 3's line as drawn alone";

  // Two minutes: tick labels with seconds, none repeated.
  const HostRun short_span = history({"plot", "--values", "回风温度", "-o", svg, "--from",
                                      "2024-03-01 00:10", "--to", "2024-03-01 00:12"});
  ASSERT_EQ(short_span.status, 0) << short_span.transcript();
  const std::string short_svg = read_file(svg);
  std::vector<std::string> labels;
  for (std::size_t at = short_svg.find("00:1"); at != std::string::npos;
       at = short_svg.find("00:1", at + 1)) {
    if (short_svg[at + 8] == '<' && short_svg[at - 1] == '>') {
      labels.push_back(short_svg.substr(at, 8));
    }
  }
  EXPECT_GE(labels.size(), 3u) << short_svg.substr(0, 2000);
  EXPECT_EQ(std::set<std::string>(labels.begin(), labels.end()).size(), labels.size())
      << ::testing::PrintToString(labels);
  const std::string png = folder_.path("chart.png");
  const HostRun as_png =
      history({"plot", "--values", "回风温度", "-o", png, "--to", "2024-03-01 00:30"});
  ASSERT_EQ(as_png.status, 0) << as_png.transcript();
  EXPECT_EQ(read_file(png).substr(0, 8), "\x89PNG\r\n\x1A\n");
}

struct BadReading {
  std::vector<std::string> arguments;  // after "history"; FILE stands for the history
  int status;
  const char* says;
};

TEST_F(HistoryCommands, BadInputIsOneLineAndChangesNothing) {
  write_history(path_, {
                           {1, "2024-03-01 10:00:00", blank_record()},
                           {1, "2024-03-01 10:00:05", blank_record()},
  });
  const std::string not_history = folder_.path("not-history.sqlite");
  write_file(not_history, "just text, no database");
  const std::string out = folder_.path("out.svg");
  // clang-format off
  const BadReading cases[] = {
      {{"export", "--history", folder_.path("none.sqlite")},            1, "cannot read history"},
      {{"export", "--history", not_history},                            2, "not a history file"},
      {{"alarms", "--history", "FILE", "--from", "2024-13-01"},         2, "--from: expected a local time"},
      {{"alarms", "--history", "FILE", "--to", "yesterday"},            2, "--to: expected a local time"},
      {{"export", "--history", "FILE", "--from", "2024-03-02", "--to", "2024-03-01"}, 2, "--from 2024-03-02 00:00:00 is after --to"},
      {{"plot", "--history", "FILE", "--values", "风速", "-o", out},     2, "--values: no value '风速'"},
      {{"plot", "--history", "FILE", "--values", "出水水温", "-o", out}, 2, "names several values"},
      {{"plot", "--history", "FILE", "--values", "室内机组状态/加湿器", "-o", out}, 2, "is a text, not a number"},
      {{"plot", "--history", "FILE", "--values", "回风温度", "-o", folder_.path("chart.gif")}, 2, "FILE.svg or FILE.png"},
      {{"plot", "--history", "FILE", "--values", "回风温度", "-o", "/nonexistent/c.svg"}, 1, "cannot write /nonexistent/c.svg"},
      {{"plot", "--history", "FILE", "--values", "回风温度", "-o", out, "--from", "2025-01-01"}, 1, "no stored records to plot"},
      {{"export", "--history", "FILE", "-o", folder_.path("no-folder/rows.csv")}, 1, "cannot write"},
      {{"export", "--history", "FILE", "--format", "xml"},              2, "--format: expected csv, jsonl or jsonl-compact"},
      {{"export", "--history", "FILE", "--format", "jsonl", "--bom"},   2, "--bom: only with CSV"},
      {{"export", "--history", folder_.path("")},                       2, "a folder, not a history file"},
      {{"export", "--history", "FILE", "--data-id", "5"},               1, "no rows of data id 5 (its unit: 1)"},
      {{"alarms", "--history", "FILE", "--data-id", "5", "-o", out},    1, "no rows of data id 5"},
      {{"plot", "--history", "FILE", "--values", "回风温度", "-o", out, "--to", "2024-03-01 10:00:01"}, 1, "stored at one time; a chart needs two at least"},
      {{"export", "--history", "FILE", "--utc", "--format", "jsonl-compact", "-o", out, "--data-id", "0"}, 1, "no rows of data id 0 (its unit: 1)"},
      {{"plot", "--history", "FILE"},                                   2, "give --values"},
      {{"export"},                                                      2, "--history FILE"},
      {{"graph"},                                                       2, "unknown command 'graph'"},
  };
  // clang-format on
  const std::string before = read_file(path_);
  for (const BadReading& test : cases) {
    std::vector<std::string> arguments{"history"};
    for (const std::string& argument : test.arguments) {
      arguments.push_back(argument == "FILE" ? path_ : argument);
    }
    const HostRun run = run_host(folder_, arguments);
    const std::string shown = ::testing::PrintToString(test.arguments);
    EXPECT_EQ(run.status, test.status) << shown << "\n" << run.transcript();
    ASSERT_EQ(run.err.size(), 1u) << shown << "\n" << run.transcript();
    EXPECT_NE(run.err[0].find(test.says), std::string::npos) << shown << ": " << run.err[0];
    EXPECT_FALSE(std::filesystem::exists(out)) << shown;
  }
  for (const auto& entry : std::filesystem::directory_iterator(folder_.path(""))) {
    const std::string name = entry.path().filename();
    EXPECT_NE(name[0], '.') << "a temporary output file stayed: " << name;
    EXPECT_EQ(name.find("-wal"), std::string::npos) << name;
    EXPECT_EQ(name.find("-shm"), std::string::npos) << name;
  }
  EXPECT_EQ(read_file(path_), before) << "the history file is never changed";
}

}  // namespace
}  // namespace velmocair::testing
