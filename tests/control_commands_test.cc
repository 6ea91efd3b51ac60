// Control commands of DeviceIoControl: the numeric and JSON forms, the write
// each one issues, the state it leaves, the hand-over to the host's base,
// the unit's echo and the result query.
#include <gtest/gtest.h>

#include <array>
#include <cctype>
#include <climits>
#include <cstdint>
#include <cstring>
#include <optional>
#include <string>
#include <vector>

#include "tests/support/test_unit.h"

namespace {

// What the device holds before each case, so that a case can tell "set" from
// "left alone".
constexpr int kStepBefore = 17;  // a poll cycle under way
constexpr int kResultBefore = 5;
constexpr int kValueBefore = 7777;
constexpr int kBaseResult = 42;
constexpr unsigned char kUntouched = 0xAB;
constexpr int kOutCapacity = 16;
constexpr int kOutLenBefore = -99;

// The `in` and `in_len` a caller passes.
struct Input {
  std::string bytes;
  bool null = false;
  std::optional<int> length;  // in_len; the size of `bytes` when not given

  const void* data() const { return null ? nullptr : bytes.data(); }
  int size() const { return length ? *length : static_cast<int>(bytes.size()); }
};

Input none() { return {}; }
Input text(std::string json) { return {std::move(json), false, std::nullopt}; }
Input number(std::uint16_t units) {
  std::string bytes(sizeof units, '\0');
  std::memcpy(bytes.data(), &units, sizeof units);
  return {bytes, false, std::nullopt};
}
Input bytes_of(std::size_t count) { return {std::string(count, '\x07'), false, std::nullopt}; }
Input null_with(int length) { return {std::string(), true, length}; }
Input with_length(std::string bytes, int length) { return {std::move(bytes), false, length}; }

std::string nested(int depth) { return std::string(depth, '[') + std::string(depth, ']'); }

struct Write {
  int reg;
  int value;
};

struct CommandCase {
  const char* name;
  int code;
  Input input;
  std::optional<Write> write;
  int step;          // afterwards
  int write_result;  // afterwards: -1 once a command began, else untouched
  bool base_called;
  int result;
};

std::ostream& operator<<(std::ostream& out, const CommandCase& c) { return out << c.name; }

std::string hex(const Input& input) {
  const int length = input.size();
  return input.null || length <= 0 ? std::string()
                                   : to_hex(input.bytes.data(), static_cast<std::size_t>(length));
}

class Command : public testing::TestWithParam<CommandCase> {
 protected:
  Command() {
    unit.host.script->device_io_result = kBaseResult;
    unit.device.step = kStepBefore;
    unit.device.write_result = kResultBefore;
    unit.device.write_value = kValueBefore;
    out.fill(kUntouched);
  }

  int run(const CommandCase& c) {
    out_len = kOutLenBefore;
    return unit.device.DeviceIoControl(c.code, c.input.data(), c.input.size(), out.data(),
                                       kOutCapacity, out_len);
  }

  TestUnit unit;
  std::array<unsigned char, kOutCapacity> out{};
  int out_len = kOutLenBefore;
};

TEST_P(Command, IssuesItsWriteLeavesItsStateAndAnswers) {
  const CommandCase& c = GetParam();
  EXPECT_EQ(run(c), c.result);

  const auto writes = unit.host.calls_named("modbus_write_register");
  if (c.write) {
    ASSERT_EQ(writes.size(), 1u);
    EXPECT_EQ(writes[0]["args"], args(c.write->reg, c.write->value));
    EXPECT_EQ(unit.device.write_value, c.write->value);
  } else {
    EXPECT_TRUE(writes.empty()) << writes[0]["args"];
    EXPECT_EQ(unit.device.write_value, kValueBefore);
  }
  EXPECT_EQ(unit.device.step, c.step);
  EXPECT_EQ(unit.device.write_result, c.write_result);

  // A command that began opened the port, before any write.
  const bool began = c.write_result == -1;
  std::vector<std::string> expected_calls;
  if (began) {
    expected_calls.push_back("OpenPort");
  }
  if (c.write) {
    expected_calls.push_back("modbus_write_register");
  }
  if (c.base_called) {
    expected_calls.push_back("DeviceIoControl");
  }
  EXPECT_EQ(unit.host.call_names(), expected_calls);

  const auto base = unit.host.calls_named("DeviceIoControl");
  if (c.base_called && base.size() == 1) {
    EXPECT_EQ(base[0]["args"],
              args(c.code, hex(c.input), c.input.size(), kOutCapacity, kOutLenBefore));
  }
  // Commands leave the caller's output alone.
  EXPECT_EQ(out_len, kOutLenBefore);
  for (const unsigned char byte : out) {
    ASSERT_EQ(byte, kUntouched);
  }
}

// clang-format off
const CommandCase kCommandCases[] = {
    // name                                    code  input                                    write           step resulting  base  result
    // Numeric forms.
    {"start",                                  100, none(),                                   Write{3509, 1},     100, -1, true,  kBaseResult},
    {"start ignores its input",                100, bytes_of(5),                              Write{3509, 1},     100, -1, true,  kBaseResult},
    {"stop",                                   102, none(),                                   Write{3509, 0},     102, -1, true,  kBaseResult},
    {"temperature 24",                         106, number(24),                               Write{3501, 240},   106, -1, true,  kBaseResult},
    {"humidity 45",                            110, number(45),                               Write{3504, 450},   110, -1, true,  kBaseResult},
    {"temperature 0",                          106, number(0),                                Write{3501, 0},     106, -1, true,  kBaseResult},
    {"largest set-point that fits",            110, number(6553),                             Write{3504, 65530}, 110, -1, true,  kBaseResult},
    {"set-point whose tenths overflow",        106, number(6554),                             std::nullopt, kStepBefore, kResultBefore, true, kBaseResult},
    {"set-point 65535",                        110, number(65535),                            std::nullopt, kStepBefore, kResultBefore, true, kBaseResult},
    {"set-point of 4 bytes",                   110, bytes_of(4),                              std::nullopt, kStepBefore, kResultBefore, true, kBaseResult},
    {"set-point of 1 byte",                    106, bytes_of(1),                              std::nullopt, kStepBefore, kResultBefore, true, kBaseResult},
    {"set-point of no bytes",                  106, none(),                                   std::nullopt, kStepBefore, kResultBefore, true, kBaseResult},
    {"set-point with negative length",         110, with_length("\x18\x00", -2),              std::nullopt, kStepBefore, kResultBefore, true, kBaseResult},
    {"set-point from a null pointer",          106, null_with(2),                             std::nullopt, kStepBefore, kResultBefore, true, kBaseResult},
    // JSON switch commands.
    {"JSON start",                             320, text(R"({"signal_id": "140800280010"})"), Write{3509, 1},     100, -1, false, 0},
    {"JSON stop",                              320, text(R"({"signal_id": "140800300010"})"), Write{3509, 0},     102, -1, false, 0},
    {"JSON start, id as a number",             320, text(R"({"signal_id": 140800280010})"),   Write{3509, 1},     100, -1, false, 0},
    {"JSON text cut short by in_len",          320, with_length(R"({"signal_id": "140800280010"})", 28), std::nullopt, 320, -1, false, -1},
    {"JSON start with other members",          320, text(R"({"x": [1, {}], "signal_id": "140800280010", "SetValue": 9})"), Write{3509, 1}, 100, -1, false, 0},
    {"JSON start with comments",               320, text("// start\n{\"signal_id\": /* id */ \"140800280010\"}"), Write{3509, 1}, 100, -1, false, 0},
    {"set-point id under 320",                 320, text(R"({"signal_id": "150800310010"})"), std::nullopt, 320, -1, true,  kBaseResult},
    {"unknown id",                             320, text(R"({"signal_id": "140800280011"})"), std::nullopt, 320, -1, true,  kBaseResult},
    {"empty id",                               320, text(R"({"signal_id": ""})"),             std::nullopt, 320, -1, true,  kBaseResult},
    {"null id",                                320, text(R"({"signal_id": null})"),           std::nullopt, 320, -1, true,  kBaseResult},
    {"no id",                                  320, text(R"({"signal": "140800280010"})"),    std::nullopt, 320, -1, true,  kBaseResult},
    {"id in an array",                         320, text(R"({"signal_id": ["140800280010"]})"), std::nullopt, 320, -1, true, kBaseResult},
    {"id in an object",                        320, text(R"({"signal_id": {"id": "140800280010"}})"), std::nullopt, 320, -1, true, kBaseResult},
    {"root is an array",                       320, text(R"(["140800280010"])"),              std::nullopt, 320, -1, true,  kBaseResult},
    {"root is a string",                       320, text(R"("140800280010")"),                std::nullopt, 320, -1, true,  kBaseResult},
    {"root is a number",                       320, text("140800280010"),                     std::nullopt, 320, -1, true,  kBaseResult},
    {"not JSON",                               320, text("signal_id=140800280010"),           std::nullopt, 320, -1, false, -1},
    {"empty text",                             320, none(),                                   std::nullopt, 320, -1, false, -1},
    {"nested past the reader's limit",         320, text(nested(2000)),                       std::nullopt, 320, -1, false, -1},
    {"id nested past the reader's limit",      320, text(R"({"signal_id": )" + nested(2000) + "}"), std::nullopt, 320, -1, false, -1},
    {"negative length",                        320, with_length(R"({"signal_id": "140800280010"})", -1), std::nullopt, 320, -1, false, -1},
    {"null pointer with a length",             320, null_with(30),                            std::nullopt, 320, -1, false, -1},
    {"null pointer without a length",          320, null_with(0),                             std::nullopt, 320, -1, false, -1},
    // JSON set-point commands.
    {"JSON humidity 45.5 as text",             310, text(R"({"signal_id": "150800340010", "SetValue": "45.5"})"), Write{3504, 450}, 110, -1, false, 0},
    {"JSON temperature 24 as number",          310, text(R"({"signal_id": "150800310010", "SetValue": 24})"),     Write{3501, 240}, 106, -1, false, 0},
    {"JSON temperature 45.9 as number",        310, text(R"({"signal_id": "150800310010", "SetValue": 45.9})"),   Write{3501, 450}, 106, -1, false, 0},
    {"JSON set-point with leading blanks",     310, text(R"({"signal_id": "150800310010", "SetValue": "  12"})"), Write{3501, 120}, 106, -1, false, 0},
    {"JSON set-point without digits",          310, text(R"({"signal_id": "150800310010", "SetValue": "abc"})"),  Write{3501, 0},   106, -1, false, 0},
    {"JSON set-point of true",                 310, text(R"({"signal_id": "150800310010", "SetValue": true})"),   Write{3501, 0},   106, -1, false, 0},
    {"JSON negative set-point",                310, text(R"({"signal_id": "150800310010", "SetValue": "-5"})"),   Write{3501, -50}, 106, -1, false, 0},
    {"JSON largest set-point",                 310, text(R"({"signal_id": "150800340010", "SetValue": "3276"})"), Write{3504, 32760}, 110, -1, false, 0},
    {"JSON lowest set-point",                  310, text(R"({"signal_id": "150800340010", "SetValue": -3276})"), Write{3504, -32760}, 110, -1, false, 0},
    {"JSON set-point past 16 bits",            310, text(R"({"signal_id": "150800310010", "SetValue": "7000"})"), std::nullopt, 310, -1, true, kBaseResult},
    {"JSON set-point just past 16 bits",       310, text(R"({"signal_id": "150800310010", "SetValue": "3277"})"), std::nullopt, 310, -1, true, kBaseResult},
    {"JSON set-point just below 16 bits",      310, text(R"({"signal_id": "150800310010", "SetValue": "-3277"})"), std::nullopt, 310, -1, true, kBaseResult},
    {"JSON set-point of many digits",          310, text(R"({"signal_id": "150800310010", "SetValue": "99999999999999999999999"})"), std::nullopt, 310, -1, true, kBaseResult},
    {"JSON set-point of many negative digits", 310, text(R"({"signal_id": "150800310010", "SetValue": "-99999999999999999999999"})"), std::nullopt, 310, -1, true, kBaseResult},
    {"JSON set-point missing",                 310, text(R"({"signal_id": "150800310010"})"),                     std::nullopt, 310, -1, true, kBaseResult},
    {"JSON set-point null",                    310, text(R"({"signal_id": "150800340010", "SetValue": null})"),   std::nullopt, 310, -1, true, kBaseResult},
    {"JSON set-point in an array",             310, text(R"({"signal_id": "150800340010", "SetValue": [45]})"),   std::nullopt, 310, -1, true, kBaseResult},
    {"JSON set-point in an object",            310, text(R"({"signal_id": "150800340010", "SetValue": {"v": 45}})"), std::nullopt, 310, -1, true, kBaseResult},
    {"switch id under 310",                    310, text(R"({"signal_id": "140800280010", "SetValue": 1})"),      std::nullopt, 310, -1, true, kBaseResult},
    {"JSON set-point, no id",                  310, text(R"({"SetValue": 45})"),                                   std::nullopt, 310, -1, true, kBaseResult},
    {"JSON set-point, root an array",          310, text(R"([{"signal_id": "150800340010", "SetValue": 45}])"),    std::nullopt, 310, -1, true, kBaseResult},
    {"JSON set-point, not JSON",               310, text("{signal_id: 150800340010"),                             std::nullopt, 310, -1, false, -1},
    {"JSON set-point nested too deep",         310, text(R"({"signal_id": "150800340010", "SetValue": )" + nested(1500) + "}"), std::nullopt, 310, -1, false, -1},
};
// clang-format on

INSTANTIATE_TEST_SUITE_P(Table, Command, testing::ValuesIn(kCommandCases),
                         [](const testing::TestParamInfo<CommandCase>& info) {
                           std::string name;
                           for (const char c : std::string(info.param.name)) {
                             name += std::isalnum(static_cast<unsigned char>(c)) ? c : '_';
                           }
                           return name + "_" + std::to_string(info.index);
                         });

// The unit echoes the written register; a result query then reports the
// outcome.
struct EchoCase {
  const char* name;
  int code;
  Input input;
  std::uint16_t echo;
  int expected;  // write_result after the echo
};

std::ostream& operator<<(std::ostream& out, const EchoCase& c) { return out << c.name; }

class Echo : public testing::TestWithParam<EchoCase> {};

TEST_P(Echo, ConfirmsOrRejectsTheWriteAndTheResultQueryReportsIt) {
  const EchoCase& c = GetParam();
  TestUnit unit;
  int out_len = 0;
  unit.device.DeviceIoControl(c.code, c.input.data(), c.input.size(), nullptr, 0, out_len);
  ASSERT_EQ(unit.host.calls_named("modbus_write_register").size(), 1u);
  EXPECT_EQ(unit.device.write_result, -1) << "pending until the echo";
  unit.host.calls.clear();

  EXPECT_EQ(unit.reply_registers({c.echo}), 0);
  EXPECT_EQ(unit.device.write_result, c.expected);
  EXPECT_EQ(unit.host.call_names(), std::vector<std::string>{"Reset"}) << "and no further request";

  std::int32_t reported = INT32_MIN;
  EXPECT_EQ(unit.device.DeviceIoControl(0, nullptr, 0, &reported, sizeof reported, out_len), 0);
  EXPECT_EQ(out_len, 4);
  EXPECT_EQ(reported, c.expected);
}

// clang-format off
const EchoCase kEchoCases[] = {
    // name                              code  input                                                             echo    result
    {"start confirmed",                  100, none(),                                                            1,      0},
    {"start echoed 0",                   100, none(),                                                            0,      3},
    {"stop confirmed",                   102, none(),                                                            0,      0},
    {"stop echoed 1",                    102, none(),                                                            1,      3},
    {"temperature confirmed",            106, number(24),                                                        240,    0},
    {"temperature echoed 239",           106, number(24),                                                        239,    3},
    {"humidity confirmed",               110, number(6553),                                                      65530,  0},
    {"JSON start confirmed",             320, text(R"({"signal_id": "140800280010"})"),                          1,      0},
    {"JSON stop echoed 2",               320, text(R"({"signal_id": "140800300010"})"),                          2,      3},
    {"JSON humidity confirmed",          310, text(R"({"signal_id": "150800340010", "SetValue": "45.5"})"),      450,    0},
    {"JSON negative set-point confirmed", 310, text(R"({"signal_id": "150800310010", "SetValue": "-5"})"),       0xFFCE, 0},
    {"JSON negative set-point echoed 50", 310, text(R"({"signal_id": "150800310010", "SetValue": "-5"})"),       50,     3},
    {"JSON lowest set-point confirmed",  310, text(R"({"signal_id": "150800310010", "SetValue": "-3276"})"),     0x8008, 0},
};
// clang-format on

INSTANTIATE_TEST_SUITE_P(Table, Echo, testing::ValuesIn(kEchoCases),
                         [](const testing::TestParamInfo<EchoCase>& info) {
                           return "case_" + std::to_string(info.index);
                         });

TEST(Echo, AReplyAfterAJsonCommandWithoutWriteChangesNothing) {
  TestUnit unit;
  const Input input = text(R"({"signal_id": "150800310010"})");
  int out_len = 0;
  unit.device.DeviceIoControl(320, input.data(), input.size(), nullptr, 0, out_len);
  unit.host.calls.clear();
  EXPECT_EQ(unit.reply_registers({1}), 1);
  EXPECT_EQ(unit.device.step, 320);
  EXPECT_EQ(unit.device.write_result, -1);
  EXPECT_TRUE(unit.host.calls.empty());
}

TEST(Echo, AStopDuringAPollCycleIsJudgedAsTheEcho) {
  TestUnit unit;
  unit.device.RefreshStatus();
  for (int step = 11; step < 17; ++step) {
    unit.reply_bits(std::vector<unsigned char>(32, 0));
  }
  ASSERT_EQ(unit.device.step, 17);
  int out_len = 0;
  unit.device.DeviceIoControl(102, nullptr, 0, nullptr, 0, out_len);
  EXPECT_EQ(unit.device.step, 102);
  unit.host.calls.clear();

  EXPECT_EQ(unit.reply_registers({0}), 0);
  EXPECT_EQ(unit.device.write_result, 0);
  EXPECT_EQ(unit.host.call_names(), std::vector<std::string>{"Reset"});
  EXPECT_EQ(unit.device.step, 102);
}

// The result query: every code that is neither a command nor a status
// request stores write_result and is passed on.
struct QueryCase {
  const char* name;
  int code;
  int out_cap;
  bool null_out;
  bool stored;  // write_result in the first 4 bytes, out_len 4; else out_len 0
};

std::ostream& operator<<(std::ostream& out, const QueryCase& c) { return out << c.name; }

class ResultQuery : public testing::TestWithParam<QueryCase> {};

TEST_P(ResultQuery, StoresTheLastResultWhereItFitsAndPassesTheRequestOn) {
  const QueryCase& c = GetParam();
  TestUnit unit;
  unit.host.script->device_io_result = kBaseResult;
  unit.device.write_result = kResultBefore;
  unit.device.step = kStepBefore;
  std::array<unsigned char, 8> out{};
  out.fill(kUntouched);
  const Input input = bytes_of(3);
  int out_len = kOutLenBefore;

  EXPECT_EQ(unit.device.DeviceIoControl(c.code, input.data(), input.size(),
                                        c.null_out ? nullptr : out.data(), c.out_cap, out_len),
            kBaseResult);
  std::int32_t stored = 0;
  std::memcpy(&stored, out.data(), sizeof stored);
  if (c.stored) {
    EXPECT_EQ(out_len, 4);
    EXPECT_EQ(stored, kResultBefore);
  } else {
    EXPECT_EQ(out_len, 0);
    for (const unsigned char byte : out) {
      ASSERT_EQ(byte, kUntouched);
    }
  }
  for (std::size_t i = 4; i < out.size(); ++i) {
    EXPECT_EQ(out[i], kUntouched) << "byte " << i;
  }
  // Nothing but the hand-over to the base, with the operation's own arguments
  // and the out_len the query set.
  ASSERT_EQ(unit.host.call_names(), std::vector<std::string>{"DeviceIoControl"});
  EXPECT_EQ(unit.host.calls[0]["args"],
            args(c.code, hex(input), input.size(), c.out_cap, c.stored ? 4 : 0));
  EXPECT_EQ(unit.device.step, kStepBefore);
  EXPECT_EQ(unit.device.write_result, kResultBefore);
}

// clang-format off
const QueryCase kQueryCases[] = {
    // name                     code      capacity  null out  stored
    {"code 0",                  0,        4,        false,    true},
    {"code 0, large buffer",    0,        8,        false,    true},
    {"capacity 3",              0,        3,        false,    false},
    {"capacity 0",              0,        0,        false,    false},
    {"negative capacity",       0,        -1,       false,    false},
    {"lowest capacity",         0,        INT_MIN,  false,    false},
    {"null buffer",             0,        4,        true,     false},
    {"code 99",                 99,       4,        false,    true},
    {"code 101",                101,      4,        false,    true},
    {"code 103",                103,      4,        false,    true},
    {"code 104",                104,      4,        false,    true},
    {"code 105",                105,      4,        false,    true},
    {"code 107",                107,      4,        false,    true},
    {"code 108",                108,      4,        false,    true},
    {"code 109",                109,      4,        false,    true},
    {"code 111",                111,      4,        false,    true},
    {"code 309",                309,      4,        false,    true},
    {"code 311",                311,      4,        false,    true},
    {"code 319",                319,      4,        false,    true},
    {"code 321",                321,      4,        false,    true},
    {"code 800",                800,      4,        false,    true},
    {"code 802",                802,      4,        false,    true},
    {"code 804",                804,      4,        false,    true},
    {"code -1",                 -1,       4,        false,    true},
    {"lowest code",             INT_MIN,  4,        false,    true},
    {"highest code",            INT_MAX,  4,        false,    true},
};
// clang-format on

INSTANTIATE_TEST_SUITE_P(Table, ResultQuery, testing::ValuesIn(kQueryCases),
                         [](const testing::TestParamInfo<QueryCase>& info) {
                           return "case_" + std::to_string(info.index);
                         });

TEST(ResultQueryOnAFreshDevice, ReportsMinusOne) {
  TestUnit unit;
  std::int32_t reported = 0;
  int out_len = 0;
  unit.device.DeviceIoControl(0, nullptr, 0, &reported, sizeof reported, out_len);
  EXPECT_EQ(reported, -1);
  EXPECT_EQ(out_len, 4);
}

TEST(ResultQueryOnAFreshDevice, TheBaseMayFillTheOutputAfterwards) {
  TestUnit unit;
  unit.host.script->device_io_result = 7;
  unit.host.script->device_io_output = [](void* out, int, int& out_len) {
    static_cast<unsigned char*>(out)[4] = 0x5A;
    out_len = 5;
  };
  std::array<unsigned char, 8> out{};
  int out_len = 0;
  EXPECT_EQ(unit.device.DeviceIoControl(0, nullptr, 0, out.data(), 8, out_len), 7);
  EXPECT_EQ(out_len, 5);
  std::int32_t reported = 0;
  std::memcpy(&reported, out.data(), sizeof reported);
  EXPECT_EQ(reported, -1);
  EXPECT_EQ(out[4], 0x5A);
}

}  // namespace
