// Configuration: the data id header, the alarm mode from "appSetting" /
// "b_mode", and the hand-over of the whole configuration to the host.
#include <gtest/gtest.h>

#include <climits>
#include <cstring>

#include "tests/support/test_unit.h"

namespace {

struct ModeCase {
  const char* setting;
  int mode_before;  // set by an earlier call
  int expected;
};

class InitSettingMode : public testing::TestWithParam<ModeCase> {};

TEST_P(InitSettingMode, ReadsBModeUnderAppSetting) {
  const ModeCase& c = GetParam();
  TestUnit unit;
  unit.device.mode = c.mode_before;
  unit.device.InitSetting(parse_json(c.setting));
  EXPECT_EQ(unit.device.mode, c.expected) << c.setting;
}

// clang-format off
INSTANTIATE_TEST_SUITE_P(Table, InitSettingMode, testing::Values(
    //        configuration                                     before  mode
    ModeCase{R"({"appSetting": {"b_mode": "2"}})",               1,       2},
    ModeCase{R"({"appSetting": {"b_mode": 2}})",                 1,       2},
    ModeCase{R"({"appSetting": {"b_mode": 3.0}})",               1,       3},
    ModeCase{R"({"appSetting": {"b_mode": "2.9"}})",             1,       2},
    ModeCase{R"({"appSetting": {"b_mode": "-1.5"}})",            1,      -1},
    ModeCase{R"({"appSetting": {"b_mode": " 4abc"}})",           1,       4},
    ModeCase{R"({"appSetting": {"b_mode": "abc"}})",             1,       0},
    ModeCase{R"({"appSetting": {"b_mode": ""}})",                1,       0},
    ModeCase{R"({"appSetting": {"b_mode": true}})",              1,       0},
    ModeCase{R"({"appSetting": {"b_mode": false}})",             1,       0},
    // beyond the range of int: clamped, never undefined
    ModeCase{R"({"appSetting": {"b_mode": "1e300"}})",           1, INT_MAX},
    ModeCase{R"({"appSetting": {"b_mode": "-1e300"}})",          1, INT_MIN},
    ModeCase{R"({"appSetting": {"b_mode": 1e300}})",             1, INT_MAX},
    ModeCase{R"({"appSetting": {"b_mode": "nan"}})",             1,       0},
    // nothing to read: mode keeps what it had
    ModeCase{R"({})",                                            5,       5},
    ModeCase{R"({"appSetting": null})",                          5,       5},
    ModeCase{R"({"appSetting": "b_mode"})",                      5,       5},
    ModeCase{R"({"appSetting": [1, 2]})",                        5,       5},
    ModeCase{R"({"appSetting": {}})",                            5,       5},
    ModeCase{R"({"appSetting": {"b_mode": null}})",              5,       5},
    ModeCase{R"({"b_mode": 2})",                                 5,       5},
    // of a kind the text form does not cover: left alone instead of throwing
    ModeCase{R"({"appSetting": {"b_mode": [2]}})",               5,       5},
    ModeCase{R"({"appSetting": {"b_mode": {"v": 2}}})",          5,       5},
    ModeCase{R"([1, 2])",                                        5,       5},
    ModeCase{R"("text")",                                        5,       5},
    ModeCase{R"(null)",                                          5,       5}));
// clang-format on

TEST(InitSetting, ASecondCallWithoutBModeKeepsTheFirstValue) {
  TestUnit unit;
  unit.device.InitSetting(parse_json(R"({"appSetting": {"b_mode": 3}})"));
  unit.device.InitSetting(parse_json(R"({"appSetting": {}})"));
  EXPECT_EQ(unit.device.mode, 3);
}

TEST(InitSetting, HeaderHoldsTheDataIdLittleEndianAndNothingElseIsWritten) {
  TestUnit unit;
  unit.device.InitSetting(Json::Value(Json::objectValue));
  const unsigned char* bytes = unit.device.bytes();
  EXPECT_EQ(bytes[0], 0x0D);
  EXPECT_EQ(bytes[1], 0x0C);
  EXPECT_EQ(bytes[2], 0x0B);
  EXPECT_EQ(bytes[3], 0x0A);
  for (std::size_t i = 4; i < sizeof(Velmocair_Data_t); ++i) {
    ASSERT_EQ(bytes[i], 0) << "offset " << i;
  }
}

TEST(InitSetting, TheWholeConfigurationReachesTheHostAndItsResultComesBack) {
  TestUnit unit;
  unit.host.script->init_setting_result = -42;
  const Json::Value setting =
      parse_json(R"({"appSetting": {"b_mode": 1}, "modbus": {"unit_id": 9}, "site": "x"})");
  EXPECT_EQ(unit.device.InitSetting(setting), -42);
  ASSERT_EQ(unit.host.calls.size(), 1u);
  EXPECT_EQ(unit.host.calls[0]["call"], "InitSetting");
  EXPECT_EQ(unit.host.calls[0]["args"], args(setting));
}

TEST(Construction, AFreshDeviceHasItsDefaults) {
  VelmocairProbe device;
  EXPECT_EQ(device.DeviceType(), "velmocair");
  EXPECT_EQ(device.write_result, -1);
  EXPECT_EQ(device.write_value, -1);
  EXPECT_EQ(device.mode, 1);
  EXPECT_EQ(device.modbus_preset_int, 9600);
  EXPECT_EQ(device.modbus_preset_byte, 1);
  EXPECT_TRUE(device.status_doc.isNull());
  EXPECT_TRUE(device.status_doc_time.is_not_a_date_time());
  const unsigned char* bytes = device.bytes();
  for (std::size_t i = 0; i < sizeof(Velmocair_Data_t); ++i) {
    ASSERT_EQ(bytes[i], 0) << "offset " << i;
  }
}

}  // namespace
