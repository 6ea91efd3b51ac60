// The readable view and summary line the host builds from a status document.
#include "cli/status_view.h"

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

TEST(StatusView, ListsActiveAlarmsByGroup) {
  const Json::Value document = *parse_status_text(kDocument);
  EXPECT_EQ(active_alarms(document), std::vector<std::string>{"泵柜1状态/与室内机通讯故障"});
  EXPECT_EQ(update_time(document), "2024-5-6 7:8:9");
  EXPECT_EQ(summary_line("cycle 2 unit a", document),
            "cycle 2 unit a: updated 2024-5-6 7:8:9, 1 active alarm: 泵柜1状态/与室内机通讯故障\n");
}

TEST(StatusView, ShowsValuesAndMarksActiveAlarms) {
  const std::string view = readable_view("cycle 1 unit a", *parse_status_text(kDocument));
  for (const char* expected :
       {"== cycle 1 unit a, 更新时间 2024-5-6 7:8:9 ==\n", "参数设定\n", "回风温度设定值 24",
        "设定湿度 45.3", "开/关机 开机", "氟泵实际转速 2850", "  ! 与室内机通讯故障\n",
        "  1 alarm points normal\n"}) {
    EXPECT_NE(view.find(expected), std::string::npos) << "lacks \"" << expected << "\":\n" << view;
  }
  EXPECT_EQ(view.find("泵柜相序保护"), std::string::npos) << "normal alarms are only counted";
  EXPECT_EQ(view.find("AlertArray"), std::string::npos);
}

TEST(StatusView, WrapsLongGroupsToTheViewWidth) {
  Json::Value document(Json::objectValue);
  for (int i = 0; i < 40; ++i) {
    document["组"]["名称" + std::to_string(i)] = "开启";
  }
  const std::string view = readable_view("unit", document);
  std::size_t lines = 0;
  for (std::size_t start = 0, end; (end = view.find('\n', start)) != std::string::npos;
       start = end + 1, ++lines) {
    EXPECT_LE(end - start, 3 * 100u) << "a line wider than 100 columns of wide characters";
  }
  EXPECT_GT(lines, 4u) << view;
}

}  // namespace
}  // namespace velmocair::cli
