// The stand-in host's base classes: the Modbus base's settings, its
// outstanding request and reply path, get_ttime, and operations without a host.
#include <gtest/gtest.h>

#include <stdexcept>
#include <string>
#include <vector>

#include "host/SPModbus.h"
#include "host/ttime.h"
#include "tests/support/scripted_host.h"

namespace {

// The smallest concrete Modbus device: it counts the replies it is handed.
class CountingDevice : public SPModbus {
 public:
  int process_payload(tab_type table, unsigned count) override {
    payloads.push_back({table, count});
    return 7;
  }
  struct Payload {
    tab_type table;
    unsigned count;
  };
  std::vector<Payload> payloads;
};

struct SettingCase {
  const char* setting;
  int result;  // -1: refused before it reaches the host
  int unit_id;
  int baud;
};

class ModbusSetting : public testing::TestWithParam<SettingCase> {};

TEST_P(ModbusSetting, ResolvesUnitAndBaudFromThePresets) {
  const SettingCase& c = GetParam();
  TestHost host;
  CountingDevice device;
  EXPECT_EQ(device.Init(host.controller, 1, parse_json(c.setting)), c.result) << c.setting;
  EXPECT_EQ(host.calls.size(), c.result == 0 ? 1u : 0u);
  if (c.result == 0) {
    EXPECT_EQ(device.unit_id(), c.unit_id);
    EXPECT_EQ(device.baud_rate(), c.baud);
  }
}

// clang-format off
INSTANTIATE_TEST_SUITE_P(Table, ModbusSetting, testing::Values(
    //           configuration                                     result unit   baud
    SettingCase{R"({})",                                            0,    1,   9600},
    SettingCase{R"(null)",                                          0,    1,   9600},
    SettingCase{R"({"modbus": {}})",                                0,    1,   9600},
    SettingCase{R"({"modbus": {"unit_id": 9}})",                    0,    9,   9600},
    SettingCase{R"({"modbus": {"unit_id": 247, "baud": 19200}})",   0,  247,  19200},
    SettingCase{R"({"modbus": {"baud": 115200}})",                  0,    1, 115200},
    SettingCase{R"({"modbus": {"unit_id": 0}})",                    0,    0,   9600},
    SettingCase{R"({"modbus": {"unit_id": 255}})",                  0,  255,   9600},
    SettingCase{R"({"modbus": {"unit_id": 256}})",                 -1,    0,      0},
    SettingCase{R"({"modbus": {"unit_id": -1}})",                  -1,    0,      0},
    SettingCase{R"({"modbus": {"unit_id": "9"}})",                 -1,    0,      0},
    SettingCase{R"({"modbus": {"unit_id": 1.5}})",                 -1,    0,      0},
    SettingCase{R"({"modbus": {"baud": 0}})",                      -1,    0,      0},
    SettingCase{R"({"modbus": {"baud": 1e12}})",                   -1,    0,      0},
    SettingCase{R"({"modbus": [1]})",                              -1,    0,      0}));
// clang-format on

TEST(ModbusBase, ARequestIsOutstandingUntilItsReplyIsHandled) {
  TestHost host;
  CountingDevice device;
  device.Init(host.controller, 1, Json::Value());
  EXPECT_FALSE(device.IsProcessing());
  device.modbus_read_bits(8001, 10);
  EXPECT_TRUE(device.IsProcessing());
  EXPECT_EQ(device.pending_request().address, 8001);
  EXPECT_EQ(device.pending_request().count, 10);

  unsigned char pdu[] = {0x01, 2, 0xFF, 0x03};
  EXPECT_EQ(device.process(pdu, sizeof pdu), 7);
  EXPECT_FALSE(device.IsProcessing());
  ASSERT_EQ(device.payloads.size(), 1u);
  EXPECT_EQ(device.payloads[0].table, SPModbus::tab_bits);
  EXPECT_EQ(device.payloads[0].count, 10u);
  EXPECT_EQ(device.bit_buffer[9], 1);
  EXPECT_EQ(device.bit_buffer[10], 0);
}

TEST(ModbusBase, AReplyWithNothingOutstandingIsRefused) {
  CountingDevice device;
  unsigned char pdu[] = {0x03, 2, 0x00, 0x01};
  EXPECT_EQ(device.process(pdu, sizeof pdu), -1);
  EXPECT_TRUE(device.payloads.empty());
}

TEST(ModbusBase, AnExceptionReplyAbandonsTheExchangeThroughTheErrorHook) {
  TestHost host;
  CountingDevice device;
  device.Init(host.controller, 1, Json::Value());
  device.modbus_read_registers(8001, 38);
  unsigned char pdu[] = {0x83, 0x02};
  testing::internal::CaptureStdout();
  EXPECT_EQ(device.process(pdu, sizeof pdu), -1);
  EXPECT_EQ(testing::internal::GetCapturedStdout(), "SPModbus get error\n");
  EXPECT_FALSE(device.IsProcessing());
  EXPECT_TRUE(device.IsStalled());
  EXPECT_EQ(device.last_reply().status, ReplyDecode::exception);
  EXPECT_TRUE(device.payloads.empty());
}

TEST(ModbusBase, ReadsBeyondTheProtocolLimitsAreNotIssued) {
  TestHost host;
  CountingDevice device;
  device.Init(host.controller, 1, Json::Value());
  host.calls.clear();
  EXPECT_EQ(device.modbus_read_bits(1, 0), -1);
  EXPECT_EQ(device.modbus_read_bits(1, SPModbus::kMaxReadBits + 1), -1);
  EXPECT_EQ(device.modbus_read_registers(1, SPModbus::kMaxReadRegisters + 1), -1);
  EXPECT_FALSE(device.IsProcessing());
  EXPECT_TRUE(host.calls.empty());
}

TEST(ModbusBase, ResetEndsTheExchange) {
  TestHost host;
  CountingDevice device;
  device.Init(host.controller, 1, Json::Value());
  device.modbus_write_register(3509, 1);
  EXPECT_TRUE(device.IsProcessing());
  device.Reset();
  EXPECT_FALSE(device.IsProcessing());
  unsigned char pdu[] = {0x06, 0x0D, 0xB5, 0x00, 0x01};
  EXPECT_EQ(device.process(pdu, sizeof pdu), -1);
}

TEST(ModbusBase, WithoutAHostEveryServiceReportsFailure) {
  CountingDevice device;
  std::vector<rule_value> rules;
  int out_len = 0;
  EXPECT_EQ(device.modbus_read_bits(8001, 1), -1);
  EXPECT_EQ(device.SendSP(5156, nullptr, 0, false), -1);
  EXPECT_EQ(device.SaveDeviceHistory(nullptr, 0), -1);
  EXPECT_EQ(device.DeviceIoControl(0, nullptr, 0, nullptr, 0, out_len), -1);
  EXPECT_FALSE(device.CheckThresholdBool(2, "a", "a", "t", "t", true, 1));
  EXPECT_FALSE(device.DoBatchCheckThreshold(rules));
  EXPECT_EQ(device.OpenPort(), -1);
}

TEST(Tracing, ACallThatThrowsIsReportedAndRethrown) {
  TestHost host;
  host.script->on_check_bool = [](ORBVDevice&, const std::string&, bool, unsigned short) {
    throw std::runtime_error("no rules");
  };
  CountingDevice device;
  device.Init(host.controller, 3, Json::Value());
  host.calls.clear();
  EXPECT_THROW(device.CheckThresholdBool(2, "12017", "12017", "a", "a", true, 9),
               std::runtime_error);
  ASSERT_EQ(host.calls.size(), 1u);
  EXPECT_EQ(host.calls[0]["exception"], "no rules");
  EXPECT_EQ(host.calls[0]["device"], 3);
  EXPECT_FALSE(host.calls[0].isMember("result"));
}

struct TtimeCase {
  boost::posix_time::ptime time;
  std::vector<unsigned char> bytes;
};

TEST(Ttime, GivesTheSevenByteCalendarForm) {
  using boost::gregorian::date;
  using boost::posix_time::ptime;
  using boost::posix_time::time_duration;
  // clang-format off
  const TtimeCase cases[] = {
      {ptime(date(2021, 3, 5), time_duration(7, 8, 9)),     {0xE5, 0x07, 3, 5, 7, 8, 9}},
      {ptime(date(2026, 12, 31), time_duration(23, 59, 59)), {0xEA, 0x07, 12, 31, 23, 59, 59}},
      {ptime(date(1400, 1, 1), time_duration(0, 0, 0)),     {0x78, 0x05, 1, 1, 0, 0, 0}},
      {ptime(),                                             {0, 0, 0, 0, 0, 0, 0}},
      {ptime(boost::posix_time::pos_infin),                 {0, 0, 0, 0, 0, 0, 0}},
  };
  // clang-format on
  for (const TtimeCase& c : cases) {
    const ttime_t bytes = get_ttime(c.time);
    EXPECT_EQ(std::vector<unsigned char>(bytes.begin(), bytes.end()), c.bytes)
        << "case " << &c - cases;
  }
}

}  // namespace
