// The readable view and summary line the host builds from a status document.
#include "cli/runtime/status_view.h"

#include <gtest/gtest.h>

namespace velmocair::cli {
namespace {

constexpr const char* kDocument = R"({
  "更新时间": "2024-5-6 7:8:9",
  "泵柜1状态": {"氟泵实际转速": 2850.0, "与室内机通讯故障": "告警", "泵柜相序保护": "正常",
               "AlertArray": {"与室内机通讯故障": true, "泵柜相序保护": false}},
  "参数设定": {"回风温度设定值": 24.0, "设定湿度": 45.299999237060547, "开/关机": "开机"}
})";

TEST(StatusView, ParsesOnlyAnObject) {
  EXPECT_TRUE(parse_status_text(kDocument));
  EXPECT_FALSE(parse_status_text("null\n"));
  EXPECT_FALSE(parse_status_text(""));
  EXPECT_FALSE(parse_status_text("{\"a\": "));
}

// Alarm points as the host's threshold rules last saw them; #6 has no set
// flag in the document, which takes its smoke alarm from another source.
const std::vector<sitehost::ActiveCheck> kActivePoints = {
    {6,   "烟雾报警"            },
    {138, "与室内机通讯故障"},
};

struct SummaryCase {
  const char* name;
  std::vector<sitehost::ActiveCheck> active;
  const char* line;
};

TEST(StatusView, SummarisesTheActiveAlarmPoints) {
  // clang-format off
  const SummaryCase cases[] = {
      {"none",   {},                 "cycle 2 unit a: updated 2024-5-6 7:8:9, 0 active alarm points\n"},
      {"one",    {kActivePoints[0]}, "cycle 2 unit a: updated 2024-5-6 7:8:9, 1 active alarm point: #6 烟雾报警\n"},
      {"two",    kActivePoints,      "cycle 2 unit a: updated 2024-5-6 7:8:9, 2 active alarm points: #6 烟雾报警, #138 与室内机通讯故障\n"},
  };
  // clang-format on
  const Json::Value document = *parse_status_text(kDocument);
  EXPECT_EQ(update_time(document), "2024-5-6 7:8:9");
  for (const SummaryCase& test : cases) {
    EXPECT_EQ(summary_line("cycle 2 unit a", document, test.active, ""), test.line) << test.name;
  }
}

TEST(StatusView, ListsTheActiveAlarmPointsAndShowsTheGroupsFlags) {
  const std::string view =
      readable_view("cycle 1 unit a", *parse_status_text(kDocument), kActivePoints, "");
  for (const char* expected :
       {"== cycle 1 unit a, 更新时间 2024-5-6 7:8:9 ==\nactive alarm points: 2\n"
        "  #6 烟雾报警  #138 与室内机通讯故障\n",
        "参数设定\n", "回风温度设定值 24", "设定湿度 45.3", "开/关机 开机", "氟泵实际转速 2850",
        "  ! 与室内机通讯故障\n", "  alarm flags: 1 set, 1 clear\n"}) {
    EXPECT_NE(view.find(expected), std::string::npos) << "lacks \"" << expected << "\":\n" << view;
  }
  EXPECT_EQ(view.find("泵柜相序保护"), std::string::npos) << "clear flags are only counted";
  EXPECT_EQ(view.find("AlertArray"), std::string::npos);
  EXPECT_NE(readable_view("unit", *parse_status_text(kDocument), {}, "")
                .find("==\nactive alarm points: 0\n参数设定\n"),
            std::string::npos);
}

TEST(StatusView, WrapsLongGroupsToTheViewWidth) {
  Json::Value document(Json::objectValue);
  for (int i = 0; i < 40; ++i) {
    document["组"]["名称" + std::to_string(i)] = "开启";
  }
  const std::string view = readable_view("unit", document, {}, "");
  std::size_t lines = 0;
  for (std::size_t start = 0, end; (end = view.find('\n', start)) != std::string::npos;
       start = end + 1, ++lines) {
    EXPECT_LE(end - start, 3 * 100u) << "a line wider than 100 columns of wide characters";
  }
  EXPECT_GT(lines, 4u) << view;
}

}  // namespace
}  // namespace velmocair::cli
