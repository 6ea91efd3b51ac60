// The record layout and the alarm list in docs/record.md match the tables the
// plug-in walks, row by row.
#include <gtest/gtest.h>

#include <sstream>
#include <string>
#include <vector>

#include "alarms/alarm_table.h"
#include "device/poll_cycle_table.h"
#include "tests/support/child_process.h"

namespace velmocair {
namespace {

// The cells of the table rows (lines "| ... |" whose first cell is a number)
// between a heading and the next heading.
std::vector<std::vector<std::string>> rows_under(const std::string& heading) {
  std::vector<std::vector<std::string>> rows;
  bool inside = false;
  for (const std::string& line : testing::lines_of(testing::read_file(VELMOCAIR_RECORD_DOC))) {
    if (line.rfind("#", 0) == 0) {
      inside = line == heading;
      continue;
    }
    if (!inside || line.size() < 3 || line[0] != '|' || line[2] < '0' || line[2] > '9') {
      continue;
    }
    std::vector<std::string> cells;
    std::istringstream stream(line.substr(1));
    for (std::string cell; std::getline(stream, cell, '|');) {
      cells.push_back(cell.substr(1, cell.size() - 2));
    }
    rows.push_back(cells);
  }
  return rows;
}

TEST(RecordDoc, RecordLayoutMatchesThePollTable) {
  const auto rows = rows_under("## The published record");
  ASSERT_EQ(rows.size(), std::size(kPollCycle) + 2) << "header, 20 blocks, time stamp";
  EXPECT_EQ(rows.front()[0], "0");
  EXPECT_EQ(rows.front()[1], "4");
  EXPECT_EQ(rows.back()[0], std::to_string(offsetof(Velmocair_Data_t, time_stamp)));
  EXPECT_EQ(rows.back()[1], "7");
  for (std::size_t i = 0; i < std::size(kPollCycle); ++i) {
    const PollStep& step = kPollCycle[i];
    const std::vector<std::string>& row = rows[i + 1];
    const std::string source =
        std::string(step.request.kind == ReadKind::coils ? "coils " : "registers ") +
        std::to_string(step.request.first) + ".." +
        std::to_string(step.request.first + step.request.count - 1);
    EXPECT_EQ(row[0], std::to_string(step.target.offset)) << "step " << step.step;
    EXPECT_EQ(row[1], std::to_string(step.target.bytes)) << "step " << step.step;
    EXPECT_EQ(row[2], source) << "step " << step.step;
  }
}

TEST(RecordDoc, AlarmListMatchesTheAlarmTable) {
  const auto rows = rows_under("## Alarm list");
  ASSERT_EQ(rows.size(), std::size(kAlarmTable));
  for (std::size_t i = 0; i < rows.size(); ++i) {
    const AlarmEntry& entry = kAlarmTable[i];
    ASSERT_EQ(rows[i].size(), 5u) << "row " << i + 1;
    EXPECT_EQ(rows[i][0], std::to_string(entry.index));
    EXPECT_EQ(rows[i][1], std::to_string(entry.offset.value)) << "index " << entry.index;
    EXPECT_EQ(rows[i][2], std::to_string(entry.coil.value)) << "index " << entry.index;
    EXPECT_EQ(rows[i][4], entry.text) << "index " << entry.index;
  }
}

}  // namespace
}  // namespace velmocair
