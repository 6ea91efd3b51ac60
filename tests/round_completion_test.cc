// Round completion: what a finished record sets off, in which order; the
// cache reload that runs the same completion; and the value query.
#include <gtest/gtest.h>

#include <stdexcept>
#include <string>
#include <vector>

#include "host/TracingController.h"
#include "tests/support/test_unit.h"

namespace {

using boost::posix_time::seconds;

constexpr int kAlarmPoints = 149;
const std::string kStampHex =
    "e50703050708"
    "09";  // 2021-03-05 07:08:09

// Names of the calls made from the completion on: everything after the last
// read request of the cycle.
std::vector<std::string> completion_calls(const TestHost& host) {
  std::vector<std::string> names = host.call_names();
  std::size_t last_read = 0;
  for (std::size_t i = 0; i < names.size(); ++i) {
    if (names[i] == "modbus_read_bits" || names[i] == "modbus_read_registers") {
      last_read = i + 1;
    }
  }
  return {names.begin() + static_cast<std::ptrdiff_t>(last_read), names.end()};
}

std::vector<std::string> expected_completion(const std::vector<std::string>& analog_calls) {
  std::vector<std::string> names = {"SendSP", "Reset"};
  names.insert(names.end(), kAlarmPoints, "CheckThresholdBool");
  names.insert(names.end(), analog_calls.begin(), analog_calls.end());
  names.insert(names.end(), {"DoBatchCheckThreshold", "SaveDeviceHistory"});
  return names;
}

TEST(RoundCompletion, PublishesEvaluatesAndStoresInThatOrder) {
  TestUnit unit;
  unit.run_cycle(0, 0x0102);
  EXPECT_EQ(completion_calls(unit.host), expected_completion({}));
  EXPECT_EQ(unit.device.alarm_seq, kAlarmPoints + 1);
  EXPECT_TRUE(unit.device.data_ready);
  EXPECT_EQ(unit.device.last_round_time, unit.now);
}

TEST(RoundCompletion, PublishesAndStoresTheStampedRecordWithItsDataId) {
  TestUnit unit;
  unit.run_cycle(1, 0x0102);
  const std::string record = to_hex(unit.device.bytes(), sizeof(Velmocair_Data_t));
  EXPECT_EQ(record.substr(0, 8), "0d0c0b0a");
  EXPECT_EQ(record.substr(2 * 434), kStampHex);

  const auto published = unit.host.calls_named("SendSP");
  ASSERT_EQ(published.size(), 1u);
  EXPECT_EQ(published[0]["args"], args(5156, record, 441, false));
  const auto stored = unit.host.calls_named("SaveDeviceHistory");
  ASSERT_EQ(stored.size(), 1u);
  EXPECT_EQ(stored[0]["args"], args(record, 441));
}

TEST(RoundCompletion, ReportsTheQueuedRulesAndClearsThem) {
  TestUnit unit;
  unit.host.script->on_check_bool = [](ORBVDevice& device, const std::string& text, bool,
                                       unsigned short index) {
    if (index == 3 || index == 149) {
      device.pending_rules.push_back({2, "12017", text, true, index});
    }
  };
  testing::internal::CaptureStdout();
  unit.run_cycle();
  EXPECT_EQ(testing::internal::GetCapturedStdout(), "rvSize is 2\n");

  const auto batch = unit.host.calls_named("DoBatchCheckThreshold");
  ASSERT_EQ(batch.size(), 1u);
  const Json::Value& rules = batch[0]["args"][0];
  ASSERT_EQ(rules.size(), 2u);
  EXPECT_EQ(rules[0]["index"], 3);
  EXPECT_EQ(rules[0]["text"], "缺相错误");
  EXPECT_EQ(rules[1]["index"], 149);
  EXPECT_TRUE(unit.device.pending_rules.empty());
}

TEST(RoundCompletion, CallsTheBatchCheckEvenWithNothingQueued) {
  TestUnit unit;
  testing::internal::CaptureStdout();
  unit.run_cycle();
  EXPECT_EQ(testing::internal::GetCapturedStdout(), "rvSize is 0\n");
  const auto batch = unit.host.calls_named("DoBatchCheckThreshold");
  ASSERT_EQ(batch.size(), 1u);
  EXPECT_EQ(batch[0]["args"], args(Json::Value(Json::arrayValue)));
}

TEST(RoundCompletion, ChecksOnlyAnalogKeysThatHaveAValue) {
  TestUnit unit;
  unit.device.analog_keys = {"supply", "return", "room"};
  unit.device.analog_values = {
      {"return",   2.5f },
      {"room",     -1.0f},
      {"unlisted", 9.0f }
  };
  unit.run_cycle();
  EXPECT_EQ(completion_calls(unit.host), expected_completion({"CheckAOReport", "CheckThreshold",
                                                              "CheckAOReport", "CheckThreshold"}));
  const auto reports = unit.host.calls_named("CheckAOReport");
  const auto thresholds = unit.host.calls_named("CheckThreshold");
  ASSERT_EQ(reports.size(), 2u);
  ASSERT_EQ(thresholds.size(), 2u);
  EXPECT_EQ(reports[0]["args"], args("return", 2.5));
  EXPECT_EQ(thresholds[0]["args"], args("return", "", 2.5, 1));
  EXPECT_EQ(reports[1]["args"], args("room", -1.0));
  EXPECT_EQ(thresholds[1]["args"], args("room", "", -1.0, 1));
  EXPECT_EQ(unit.device.analog_values.size(), 3u);
}

struct ReportFlagCase {
  bool first_report;
  bool second_report;
  bool batch;
  bool expected;
};

class ReportFlag : public testing::TestWithParam<ReportFlagCase> {};

TEST_P(ReportFlag, IsSetWhenAnyReportOrTheBatchCheckAnswersTrue) {
  const ReportFlagCase& c = GetParam();
  TestUnit unit;
  unit.device.analog_keys = {"a", "b"};
  unit.device.analog_values = {
      {"a", 1.0f},
      {"b", 2.0f}
  };
  unit.host.script->ao_report_result = [&c](const std::string& key) {
    return key == "a" ? c.first_report : c.second_report;
  };
  unit.host.script->batch_result = c.batch;
  unit.device.report_flag = true;  // a completion starts afresh
  unit.run_cycle();
  EXPECT_EQ(unit.device.report_flag, c.expected);
  EXPECT_EQ(unit.host.calls_named("CheckAOReport").size(), 2u);
}

// clang-format off
INSTANTIATE_TEST_SUITE_P(Table, ReportFlag, testing::Values(
    //             report a  report b  batch  flag
    ReportFlagCase{false,    false,    false, false},
    ReportFlagCase{true,     false,    false, true},
    ReportFlagCase{false,    true,     false, true},
    ReportFlagCase{true,     true,     false, true},
    ReportFlagCase{false,    false,    true,  true},
    ReportFlagCase{true,     false,    true,  true}));
// clang-format on

TEST(RoundCompletion, AnExceptionFromAHostCheckPropagatesAndStopsTheRound) {
  TestUnit unit;
  unit.host.script->on_check_bool = [](ORBVDevice&, const std::string&, bool,
                                       unsigned short index) {
    if (index == 5) {
      throw std::runtime_error("threshold service down");
    }
  };
  EXPECT_THROW(unit.run_cycle(), std::runtime_error);
  EXPECT_EQ(unit.host.calls_named("CheckThresholdBool").size(), 5u);
  EXPECT_TRUE(unit.host.calls_named("SaveDeviceHistory").empty());
  EXPECT_TRUE(unit.host.calls_named("DoBatchCheckThreshold").empty());
  EXPECT_EQ(unit.device.alarm_seq, 6);

  // The next round starts again at index 1.
  unit.host.script->on_check_bool = nullptr;
  unit.host.calls.clear();
  unit.run_cycle();
  const auto checks = unit.host.calls_named("CheckThresholdBool");
  ASSERT_EQ(checks.size(), static_cast<std::size_t>(kAlarmPoints));
  EXPECT_EQ(checks.front()["args"][6], 1);
}

// --- cache ---------------------------------------------------------------

std::vector<unsigned char> stored_record() {
  std::vector<unsigned char> bytes(sizeof(Velmocair_Data_t));
  for (std::size_t i = 0; i < bytes.size(); ++i) {
    bytes[i] = static_cast<unsigned char>(i * 7 + 3);
  }
  return bytes;
}

class CacheOfWrongLength : public testing::TestWithParam<int> {};

TEST_P(CacheOfWrongLength, IsRefusedAndChangesNothing) {
  TestUnit unit;
  const std::string before = to_hex(unit.device.bytes(), sizeof(Velmocair_Data_t));
  const std::vector<unsigned char> blob(1000, 0x77);
  EXPECT_FALSE(unit.device.LoadFromCache(blob.data(), GetParam()));
  EXPECT_FALSE(unit.device.LoadFromCache(
      std::string(reinterpret_cast<const char*>(blob.data()), GetParam() < 0 ? 0 : GetParam())));
  EXPECT_TRUE(unit.host.calls.empty());
  EXPECT_FALSE(unit.device.data_ready);
  EXPECT_EQ(to_hex(unit.device.bytes(), sizeof(Velmocair_Data_t)), before);
}

INSTANTIATE_TEST_SUITE_P(Lengths, CacheOfWrongLength, testing::Values(0, 1, 440, 442, 882, -441));

TEST(Cache, AFullRecordIsTakenStampedWithTheLoadTimeAndCompleted) {
  TestUnit unit;
  unit.now += seconds(3600);
  const std::vector<unsigned char> blob = stored_record();
  EXPECT_TRUE(unit.device.LoadFromCache(blob.data(), static_cast<int>(blob.size())));
  EXPECT_TRUE(unit.device.data_ready);
  EXPECT_EQ(unit.device.last_round_time, unit.now);

  const std::string loaded = to_hex(unit.device.bytes(), blob.size());
  EXPECT_EQ(loaded.substr(0, 2 * 434), to_hex(blob.data(), 434));
  EXPECT_EQ(loaded.substr(2 * 434),
            "e507030508"
            "0809");  // 08:08:09, the load time

  const auto published = unit.host.calls_named("SendSP");
  ASSERT_EQ(published.size(), 1u);
  EXPECT_EQ(published[0]["args"], args(5156, loaded, 441, false));
  const auto stored = unit.host.calls_named("SaveDeviceHistory");
  ASSERT_EQ(stored.size(), 1u);
  EXPECT_EQ(stored[0]["args"], args(loaded, 441));
  EXPECT_EQ(unit.host.calls_named("CheckThresholdBool").size(),
            static_cast<std::size_t>(kAlarmPoints));
}

TEST(Cache, TheStringFormTakesExactlyAFullRecord) {
  TestUnit unit;
  const std::vector<unsigned char> blob = stored_record();
  const std::string text(blob.begin(), blob.end());
  EXPECT_FALSE(unit.device.LoadFromCache(text.substr(1)));
  EXPECT_FALSE(unit.device.LoadFromCache(text + "x"));
  EXPECT_TRUE(unit.host.calls.empty());
  EXPECT_TRUE(unit.device.LoadFromCache(text));
  EXPECT_EQ(to_hex(unit.device.bytes(), 434), to_hex(blob.data(), 434));
  EXPECT_EQ(unit.host.calls_named("SendSP").size(), 1u);
}

TEST(Cache, ANullRecordIsRefused) {
  TestUnit unit;
  EXPECT_FALSE(unit.device.LoadFromCache(nullptr, 441));
  EXPECT_TRUE(unit.host.calls.empty());
  EXPECT_FALSE(unit.device.data_ready);
}

// --- value query ---------------------------------------------------------

std::string value_query_message(const Velmocair& device) {
  try {
    device.Get_Value(1, "回风温度");
  } catch (const std::out_of_range& error) {
    return error.what();
  }
  return "no std::out_of_range thrown";
}

TEST(ValueQuery, AFreshDeviceHasNoData) {
  TestUnit unit;
  EXPECT_EQ(value_query_message(unit.device), "数据未就绪");
}

struct AgeCase {
  long age_seconds;
  const char* message;
};

class ValueQueryAge : public testing::TestWithParam<AgeCase> {};

TEST_P(ValueQueryAge, SaysWhetherTheDataIsFreshOrStale) {
  TestUnit unit;
  unit.run_cycle();
  unit.now += seconds(GetParam().age_seconds);
  EXPECT_EQ(value_query_message(unit.device), GetParam().message) << GetParam().age_seconds << " s";
}

// clang-format off
INSTANTIATE_TEST_SUITE_P(Table, ValueQueryAge, testing::Values(
    //      age   message
    AgeCase{   0, "不支持变量"},
    AgeCase{  59, "不支持变量"},
    AgeCase{  60, "不支持变量"},
    AgeCase{  61, "数据已超时"},
    AgeCase{3600, "数据已超时"},
    AgeCase{  -5, "不支持变量"},     // clock set back
    AgeCase{-86400, "不支持变量"}));
// clang-format on

TEST(ValueQuery, ACacheLoadMakesTheDataFresh) {
  TestUnit unit;
  const std::vector<unsigned char> blob = stored_record();
  unit.device.LoadFromCache(blob.data(), static_cast<int>(blob.size()));
  EXPECT_EQ(value_query_message(unit.device), "不支持变量");
}

}  // namespace
