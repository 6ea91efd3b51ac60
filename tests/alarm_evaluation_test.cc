// Alarm evaluation: the 149 points, each with its text, index and coil, in
// reporting order; the modes that report nothing; what counts as active.
#include <gtest/gtest.h>

#include <climits>
#include <string>
#include <vector>

#include "tests/support/test_unit.h"

namespace {

// Record bytes of each coil block, as the unit's documentation lists them.
struct CoilBlock {
  int first_coil;
  int last_coil;
  std::size_t first_byte;
};
// clang-format off
constexpr CoilBlock kCoilBlocks[] = {
    {8001, 8032,   4}, {8033, 8040,  36}, {8041, 8048,  44}, {8049, 8051,  52},
    {8052, 8055,  55}, {8056, 8075,  59}, {8101, 8131, 155}, {8133, 8152, 206},
    {8501, 8532, 246}, {8533, 8564, 290}, {8201, 8232, 362}, {8233, 8264, 398},
};
// clang-format on

std::size_t record_byte_of(int coil) {
  for (const CoilBlock& block : kCoilBlocks) {
    if (coil >= block.first_coil && coil <= block.last_coil) {
      return block.first_byte + static_cast<std::size_t>(coil - block.first_coil);
    }
  }
  ADD_FAILURE() << "coil " << coil << " is not in the record";
  return 0;
}

struct Point {
  int coil;
  const char* text;
};

// The points of one section; the second unit of a pair (refrigerant system,
// outdoor unit, pump cabinet) repeats the first's list 32 coils on.
// clang-format off
const std::vector<Point> kIndoor = {
    {8017, "电源故障/A路电源故障"}, {8018, "相序错误"}, {8019, "缺相错误"}, {8020, "电加热保护"},
    {8021, "加湿器报警"}, {8022, "烟雾报警"}, {8023, "水浸报警"}, {8024, "湿膜低水位报警"},
    {8025, "湿膜水位开关故障"}, {8026, "EEPROM故障"}, {8029, "本地联网通讯故障"},
    {8030, "扩展板通讯故障"}, {8031, "远程内温探头故障"}, {8032, "滤网堵塞报警"},
    {8033, "风机1故障/转速反馈故障"}, {8034, "风机2故障/转速反馈故障"},
    {8035, "风机3故障/转速反馈故障"}, {8036, "风机4故障/转速反馈故障"},
    {8037, "风机5故障/转速反馈故障"}, {8038, "风机6故障/转速反馈故障"},
    {8039, "风机7故障/转速反馈故障"}, {8040, "风机8故障/转速反馈故障"},
    {8041, "风机过载故障"}, {8042, "气流丢失故障"}, {8043, "高温报警"}, {8044, "低温报警"},
    {8045, "高湿报警"}, {8046, "低湿报警"}, {8047, "送风高温报警"}, {8048, "送风低温报警"},
    {8049, "回风温度探头1故障"}, {8050, "回风温度探头2故障"}, {8051, "回风温度探头3故障"},
    {8052, "回风湿度探头故障"}, {8053, "送风温度1探头故障"}, {8054, "送风温度2探头故障"},
    {8055, "送风温度3探头故障"}, {8056, "送风湿度探头故障"}, {8057, "系统排水故障"},
    {8058, "风压差传感器故障"}, {8059, "加湿器运行时间超限"}, {8060, "冷凝水高水位保护"},
    {8062, "滤网维护"}, {8063, "智能电表通讯故障"},
    {8065, "风机9故障/转速反馈故障"}, {8066, "风机10故障/转速反馈故障"},
    {8067, "风机11故障/转速反馈故障"}, {8068, "风机12故障/转速反馈故障"},
    {8069, "风机13故障/转速反馈故障"}, {8070, "风机14故障/转速反馈故障"},
    {8071, "风机15故障/转速反馈故障"}, {8072, "风机16故障/转速反馈故障"},
    {8073, "B路电源故障"}, {8074, "内机与电源板通讯故障"}, {8075, "内机与ATS通讯故障"},
};
const std::vector<Point> kSystem1 = {
    {8101, "系统高压保护"}, {8102, "系统低压保护"}, {8103, "高压开关故障"}, {8104, "低压开关故障"},
    {8105, "内管温探头故障"}, {8106, "排气温度探头故障"}, {8107, "系统变频驱动故障"},
    {8108, "系统变频驱动通讯故障"}, {8109, "系统压力传感器故障"}, {8110, "系统吸气温感故障"},
    {8112, "压缩机故障"}, {8113, "排气高温保护(锁定)"}, {8118, "盘管冻结报警"},
    {8120, "冷媒泄漏/不足报警"},
};
const std::vector<Point> kOutdoor1 = {
    {8504, "外风机驱动1通讯故障"}, {8505, "室外温度传感器故障"}, {8506, "压力传感器故障"},
    {8507, "系统高压保护(锁定)"}, {8508, "系统低压保护(锁定)"},
    {8509, "机架：液管温感故障/非机架（水冷）出水温度过高告警"},
    {8510, "机架:外管温温感1故障/非机架（水冷）出水温度过低告警"},
    {8511, "机架:外管网温感2故障/非机架（水冷）：冷却水低流量保护"},
    {8512, "变频驱动故障/外风机1故障"}, {8513, "风机过热保护/外风机2故障"},
    {8514, "机架：压缩机过流保护/非机架：进水温度传感器故障"}, {8515, "出水温度传感器故障"},
    {8517, "非机架（水冷）：进水温度过高告警"}, {8518, "非机架（水冷）：进水温度过低告警"},
    {8520, "非机架（水冷）：冷却水防冻保护"}, {8524, "外机与扩展板通讯故障"},
    {8525, "喷淋水泵进口压力传感器故障"}, {8526, "喷淋水泵出口压力传感器故障"},
    {8527, "喷淋水泵故障"}, {8528, "喷淋水泵进水压力过低告警"}, {8529, "外风机驱动2通讯故障"},
    {8532, "与室内机通讯故障"},
};
const std::vector<Point> kPump1 = {
    {8202, "泵柜环温传感器故障"}, {8203, "氟泵入口压力传感器故障"},
    {8204, "氟泵出口压力传感器故障"}, {8205, "泵柜相序保护"}, {8206, "泵柜驱动器故障"},
    {8207, "泵柜驱动器通讯故障"}, {8211, "氟泵高扬程锁定告警"}, {8212, "氟泵低扬程锁定告警"},
    {8213, "氟泵过温锁定告警"}, {8214, "氟泵入口温度传感器故障"}, {8232, "与室内机通讯故障"},
};
// clang-format on

constexpr int kSecondUnitCoilShift = 32;

void append(std::vector<Point>& points, const std::vector<Point>& section, int coil_shift) {
  for (const Point& point : section) {
    points.push_back({point.coil + coil_shift, point.text});
  }
}

// All 149 points in reporting order; index = position + 1.
std::vector<Point> all_points() {
  std::vector<Point> points;
  append(points, kIndoor, 0);
  append(points, kSystem1, 0);
  append(points, kSystem1, kSecondUnitCoilShift);
  points[81 - 1].text = "排气高温保护（锁定）";  // system 2 writes it with full-width parentheses
  append(points, kOutdoor1, 0);
  append(points, kOutdoor1, kSecondUnitCoilShift);
  append(points, kPump1, 0);
  append(points, kPump1, kSecondUnitCoilShift);
  return points;
}

std::vector<Json::Value> evaluate(TestUnit& unit) {
  unit.host.calls.clear();
  unit.device.alarm_seq = 1;
  unit.device.RunCheckThreshold();
  return unit.host.calls_named("CheckThresholdBool");
}

TEST(AlarmPoints, EachPointCarriesItsTextIndexAndCoil) {
  const std::vector<Point> points = all_points();
  ASSERT_EQ(points.size(), 149u);
  TestUnit unit;
  for (std::size_t i = 0; i < points.size(); ++i) {
    const Point& point = points[i];
    const int index = static_cast<int>(i) + 1;
    SCOPED_TRACE("index " + std::to_string(index) + ", coil " + std::to_string(point.coil));
    std::fill(unit.device.bytes(), unit.device.bytes() + sizeof(Velmocair_Data_t), 0);
    unit.device.bytes()[record_byte_of(point.coil)] = 1;

    const std::vector<Json::Value> checks = evaluate(unit);
    ASSERT_EQ(checks.size(), points.size());
    EXPECT_EQ(checks[i]["args"], args(2, "12017", "12017", point.text, point.text, true, index));
    for (std::size_t j = 0; j < checks.size(); ++j) {
      if (j != i) {
        ASSERT_EQ(checks[j]["args"][5], false) << "index " << j + 1 << " follows another coil";
      }
    }
  }
}

TEST(AlarmPoints, AnAllZeroRecordReportsEveryPointInactiveInOrder) {
  TestUnit unit;
  const std::vector<Json::Value> checks = evaluate(unit);
  const std::vector<Point> points = all_points();
  ASSERT_EQ(checks.size(), points.size());
  for (std::size_t i = 0; i < checks.size(); ++i) {
    EXPECT_EQ(checks[i]["args"],
              args(2, "12017", "12017", points[i].text, points[i].text, false, int(i) + 1));
  }
  EXPECT_EQ(unit.device.alarm_seq, 150);
}

TEST(AlarmPoints, TheLinkToTheIndoorUnitIsReportedFourTimesEachByItsOwnCoil) {
  TestUnit unit;
  unit.device.bytes()[record_byte_of(8564)] = 1;
  unit.device.bytes()[record_byte_of(8232)] = 1;
  const std::vector<Json::Value> checks = evaluate(unit);
  struct Expected {
    int index;
    bool active;
  };
  for (const Expected e : {
           Expected{105, false},
           {127, true },
           {138, true },
           {149, false}
  }) {
    EXPECT_EQ(checks[e.index - 1]["args"],
              args(2, "12017", "12017", "与室内机通讯故障", "与室内机通讯故障", e.active, e.index));
  }
}

class ActiveByte : public testing::TestWithParam<int> {};

TEST_P(ActiveByte, AnyNonZeroByteIsActive) {
  TestUnit unit;
  unit.device.bytes()[record_byte_of(8102)] = static_cast<unsigned char>(GetParam());
  const std::vector<Json::Value> checks = evaluate(unit);
  EXPECT_EQ(checks[57 - 1]["args"][5], GetParam() != 0) << "low pressure, system 1";
  EXPECT_EQ(checks[56 - 1]["args"][5], false) << "high pressure follows its own coil";
  EXPECT_EQ(checks[71 - 1]["args"][5], false) << "system 2 follows its own coil";
}

INSTANTIATE_TEST_SUITE_P(Bytes, ActiveByte, testing::Values(0, 1, 2, 255));

// Coils of the read blocks that carry no alarm point.
struct CoilRange {
  int first;
  int last;
};
// clang-format off
constexpr CoilRange kCoilsWithoutPoint[] = {
    {8001, 8016}, {8027, 8028}, {8061, 8061}, {8064, 8064},
    {8111, 8111}, {8114, 8117}, {8119, 8119}, {8121, 8131},
    {8143, 8143}, {8146, 8149}, {8151, 8151},
    {8501, 8503}, {8516, 8516}, {8519, 8519}, {8521, 8523}, {8530, 8531},
    {8533, 8535}, {8548, 8548}, {8551, 8551}, {8553, 8555}, {8562, 8563},
    {8201, 8201}, {8208, 8210}, {8215, 8231},
    {8233, 8233}, {8240, 8242}, {8247, 8263},
};
// clang-format on

TEST(AlarmPoints, CoilsWithoutAPointChangeNoCheck) {
  TestUnit unit;
  for (const CoilRange& range : kCoilsWithoutPoint) {
    for (int coil = range.first; coil <= range.last; ++coil) {
      unit.device.bytes()[record_byte_of(coil)] = 0xFF;
    }
  }
  for (const Json::Value& check : evaluate(unit)) {
    EXPECT_EQ(check["args"][5], false) << "index " << check["args"][6];
  }
}

TEST(AlarmPoints, TheRegisterBlocksAndTheStampAreNeverRead) {
  TestUnit unit;
  unit.run_cycle(0, 0xFFFF);
  for (const Json::Value& check : unit.host.calls_named("CheckThresholdBool")) {
    EXPECT_EQ(check["args"][5], false) << "index " << check["args"][6];
  }
}

class AlarmMode : public testing::TestWithParam<int> {};

TEST_P(AlarmMode, ModesTwoAndThreeReportNothing) {
  TestUnit unit;
  unit.device.mode = GetParam();
  unit.device.bytes()[record_byte_of(8017)] = 1;
  const std::vector<Json::Value> checks = evaluate(unit);
  if (GetParam() == 2 || GetParam() == 3) {
    EXPECT_TRUE(checks.empty());
    EXPECT_EQ(unit.device.alarm_seq, 1);
  } else {
    ASSERT_EQ(checks.size(), 149u);
    EXPECT_EQ(checks[0]["args"][5], true);
    EXPECT_EQ(unit.device.alarm_seq, 150);
  }
}

INSTANTIATE_TEST_SUITE_P(Modes, AlarmMode, testing::Values(INT_MIN, -1, 0, 1, 2, 3, 4, INT_MAX));

TEST(AlarmPoints, TheRunningIndexWrapsAtSixteenBits) {
  TestUnit unit;
  unit.device.alarm_seq = 65535;
  unit.device.RunCheckThreshold();
  const auto checks = unit.host.calls_named("CheckThresholdBool");
  ASSERT_EQ(checks.size(), 149u);
  EXPECT_EQ(checks[0]["args"][6], 65535);
  EXPECT_EQ(checks[1]["args"][6], 0);
  EXPECT_EQ(unit.device.alarm_seq, 148);
}

}  // namespace
