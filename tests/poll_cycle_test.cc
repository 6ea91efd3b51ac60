// The poll cycle: which read each step awaits, where its reply lands, what
// the next request is, and how steps outside the cycle are ignored.
#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

#include "tests/support/test_unit.h"

namespace {

// The step table as the unit's documentation gives it.
struct ExpectedStep {
  int step;
  const char* operation;
  int first;
  int count;
  std::size_t offset;
};

// clang-format off
// step  request awaited                   first  count  record offset
constexpr ExpectedStep kSteps[] = {
    {11, "modbus_read_bits",      8001, 32,   4},
    {12, "modbus_read_bits",      8033,  8,  36},
    {13, "modbus_read_bits",      8041,  8,  44},
    {14, "modbus_read_bits",      8049,  3,  52},
    {15, "modbus_read_bits",      8052,  4,  55},
    {16, "modbus_read_bits",      8056, 20,  59},
    {17, "modbus_read_registers", 8001, 38,  79},
    {18, "modbus_read_bits",      8101, 31, 155},
    {19, "modbus_read_registers", 8101, 10, 186},
    {20, "modbus_read_bits",      8133, 20, 206},
    {21, "modbus_read_registers", 8133, 10, 226},
    {22, "modbus_read_bits",      8501, 32, 246},
    {23, "modbus_read_registers", 8501,  6, 278},
    {24, "modbus_read_bits",      8533, 32, 290},
    {25, "modbus_read_registers", 8509,  6, 322},
    {26, "modbus_read_registers", 3501, 14, 334},
    {27, "modbus_read_bits",      8201, 32, 362},
    {28, "modbus_read_registers", 8205,  2, 394},
    {29, "modbus_read_bits",      8233, 32, 398},
    {30, "modbus_read_registers", 8221,  2, 430},
};
// clang-format on

bool is_coil_read(const ExpectedStep& row) {
  return std::string(row.operation) == "modbus_read_bits";
}

// Reply contents that differ per block and per position: coil bytes and
// register words both name their block, so a block copied to the wrong place
// or from the wrong table shows.
unsigned char coil_byte(std::size_t block, int i) {
  return static_cast<unsigned char>(0x40 + 8 * block + static_cast<std::size_t>(i));
}
std::uint16_t register_word(std::size_t block, int i) {
  return static_cast<std::uint16_t>(0x0100 * (block + 1) + 0x11 * static_cast<unsigned>(i));
}

// Delivers the reply of block `block` of kSteps with the values above and
// returns process_payload's result.
int reply_for(TestUnit& unit, std::size_t block) {
  const ExpectedStep& row = kSteps[block];
  if (is_coil_read(row)) {
    std::vector<unsigned char> bits;
    for (int i = 0; i < row.count; ++i) {
      bits.push_back(coil_byte(block, i));
    }
    return unit.reply_bits(bits);
  }
  std::vector<std::uint16_t> words;
  for (int i = 0; i < row.count; ++i) {
    words.push_back(register_word(block, i));
  }
  return unit.reply_registers(words);
}

// The bytes block `block` must leave in the record.
std::vector<unsigned char> expected_block(std::size_t block) {
  const ExpectedStep& row = kSteps[block];
  std::vector<unsigned char> bytes;
  for (int i = 0; i < row.count; ++i) {
    if (is_coil_read(row)) {
      bytes.push_back(coil_byte(block, i));
    } else {
      const std::uint16_t word = register_word(block, i);
      bytes.push_back(static_cast<unsigned char>(word & 0xFF));
      bytes.push_back(static_cast<unsigned char>(word >> 8));
    }
  }
  return bytes;
}

std::vector<unsigned char> record_span(TestUnit& unit, std::size_t offset, std::size_t length) {
  const unsigned char* bytes = unit.device.bytes();
  return {bytes + offset, bytes + offset + length};
}

Json::Value request_call(const ExpectedStep& row) {
  Json::Value call(Json::objectValue);
  call["call"] = row.operation;
  call["args"] = args(row.first, row.count);
  return call;
}

Json::Value without_device_and_result(Json::Value call) {
  call.removeMember("device");
  call.removeMember("result");
  return call;
}

TEST(PollCycle, RefreshStatusStartsAtStepElevenWithOneCoilRead) {
  TestUnit unit;
  EXPECT_EQ(unit.device.RefreshStatus(), 1);
  EXPECT_EQ(unit.device.step, 11);
  EXPECT_EQ(unit.host.call_names(),
            (std::vector<std::string>{"RefreshStatus", "modbus_read_bits"}));
  EXPECT_EQ(unit.host.calls[1]["args"], args(8001, 32));
  EXPECT_TRUE(unit.device.IsProcessing());
}

TEST(PollCycle, TwentyRepliesFillTheRecordAndTheLastCompletesTheCycle) {
  TestUnit unit;
  unit.device.RefreshStatus();
  for (std::size_t block = 0; block < std::size(kSteps); ++block) {
    const ExpectedStep& row = kSteps[block];
    SCOPED_TRACE("step " + std::to_string(row.step));
    ASSERT_EQ(unit.device.step, row.step);
    unit.host.calls.clear();

    const int result = reply_for(unit, block);

    const std::vector<unsigned char> expected = expected_block(block);
    EXPECT_EQ(record_span(unit, row.offset, expected.size()), expected);
    if (block + 1 < std::size(kSteps)) {
      EXPECT_EQ(result, 1);
      ASSERT_EQ(unit.host.calls.size(), 1u);
      EXPECT_EQ(without_device_and_result(unit.host.calls[0]), request_call(kSteps[block + 1]));
    } else {
      EXPECT_EQ(result, 0);
      EXPECT_EQ(unit.host.calls_named("SendSP").size(), 1u);
      EXPECT_EQ(unit.host.calls_named("SaveDeviceHistory").size(), 1u);
      EXPECT_TRUE(unit.host.calls_named("modbus_read_bits").empty());
      EXPECT_TRUE(unit.host.calls_named("modbus_read_registers").empty());
    }
  }
  EXPECT_EQ(unit.device.step, 30);
  EXPECT_TRUE(unit.device.data_ready);

  // The whole record: header, every block, then the completion's time stamp.
  std::vector<unsigned char> expected = {0x0D, 0x0C, 0x0B, 0x0A};
  for (std::size_t block = 0; block < std::size(kSteps); ++block) {
    const std::vector<unsigned char> bytes = expected_block(block);
    expected.insert(expected.end(), bytes.begin(), bytes.end());
  }
  const std::vector<unsigned char> stamp = {0xE5, 0x07, 3, 5, 7, 8, 9};  // 2021-03-05 07:08:09
  expected.insert(expected.end(), stamp.begin(), stamp.end());
  ASSERT_EQ(expected.size(), sizeof(Velmocair_Data_t));
  EXPECT_EQ(record_span(unit, 0, expected.size()), expected);
}

TEST(PollCycle, AllCoilsOnAndAllRegistersAt0x1234) {
  TestUnit unit;
  unit.run_cycle(1, 0x1234);
  for (const ExpectedStep& row : kSteps) {
    for (int i = 0; i < row.count; ++i) {
      if (is_coil_read(row)) {
        EXPECT_EQ(unit.device.bytes()[row.offset + i], 1) << "coil " << row.first + i;
      } else {
        EXPECT_EQ(record_span(unit, row.offset + 2 * i, 2),
                  (std::vector<unsigned char>{0x34, 0x12}))
            << "register " << row.first + i;
      }
    }
  }
}

TEST(PollCycle, StepFifteenCopiesFourCoilsAndAsksForTwentyFromCoil8056) {
  TestUnit unit;
  unit.device.step = 15;
  EXPECT_EQ(unit.reply_bits({9, 8, 7, 6, 5, 4}), 1);
  EXPECT_EQ(record_span(unit, 54, 6), (std::vector<unsigned char>{0, 9, 8, 7, 6, 0}));
  EXPECT_EQ(unit.device.step, 16);
  ASSERT_EQ(unit.host.calls.size(), 1u);
  EXPECT_EQ(unit.host.calls[0]["call"], "modbus_read_bits");
  EXPECT_EQ(unit.host.calls[0]["args"], args(8056, 20));
}

TEST(PollCycle, StepTwentyEightCopiesTwoRegistersLowByteFirst) {
  TestUnit unit;
  unit.device.step = 28;
  EXPECT_EQ(unit.reply_registers({0x1234, 0xABCD, 0x5555}), 1);
  EXPECT_EQ(record_span(unit, 393, 6), (std::vector<unsigned char>{0, 0x34, 0x12, 0xCD, 0xAB, 0}));
  EXPECT_EQ(unit.device.step, 29);
  ASSERT_EQ(unit.host.calls.size(), 1u);
  EXPECT_EQ(unit.host.calls[0]["call"], "modbus_read_bits");
  EXPECT_EQ(unit.host.calls[0]["args"], args(8233, 32));
}

class StepOutsideTheCycle : public testing::TestWithParam<int> {};

TEST_P(StepOutsideTheCycle, ChangesNothingAndSendsNothing) {
  TestUnit unit;
  unit.device.step = GetParam();
  unit.device.bit_buffer.fill(0x5A);
  unit.device.register_buffer.fill(0xA5A5);
  const std::vector<unsigned char> before = record_span(unit, 0, sizeof(Velmocair_Data_t));
  EXPECT_EQ(unit.device.process_payload(SPModbus::tab_registers, 2), 1);
  EXPECT_EQ(unit.device.step, GetParam());
  EXPECT_TRUE(unit.host.calls.empty());
  EXPECT_EQ(record_span(unit, 0, sizeof(Velmocair_Data_t)), before);
  EXPECT_EQ(unit.device.write_result, -1);
}

INSTANTIATE_TEST_SUITE_P(Steps, StepOutsideTheCycle,
                         testing::Values(-1, 0, 10, 31, 99, 101, 103, 105, 111, 310, 320, 801));

TEST(PollCycle, RefreshStatusMidCycleRestartsAndKeepsTheLaterBlocks) {
  TestUnit unit;
  unit.run_cycle(0, 0x1111);
  const std::size_t step23 = 12;  // block index of step 23
  const std::size_t tail_offset = kSteps[step23].offset;
  const std::size_t tail_length = 434 - tail_offset;
  const std::vector<unsigned char> tail = record_span(unit, tail_offset, tail_length);

  unit.device.RefreshStatus();
  for (std::size_t block = 0; block < step23; ++block) {
    reply_for(unit, block);
  }
  ASSERT_EQ(unit.device.step, 23);
  unit.host.calls.clear();
  EXPECT_EQ(unit.device.RefreshStatus(), 1);
  EXPECT_EQ(unit.device.step, 11);
  EXPECT_EQ(unit.host.call_names(),
            (std::vector<std::string>{"RefreshStatus", "modbus_read_bits"}));
  EXPECT_EQ(unit.host.calls[1]["args"], args(8001, 32));
  EXPECT_EQ(record_span(unit, 4, 32), expected_block(0));
  EXPECT_EQ(record_span(unit, tail_offset, tail_length), tail);

  // Only when step 23 runs again does its block change.
  for (std::size_t block = 0; block < step23; ++block) {
    reply_for(unit, block);
  }
  EXPECT_EQ(record_span(unit, tail_offset, tail_length), tail);
  reply_for(unit, step23);
  EXPECT_EQ(record_span(unit, tail_offset, 12), expected_block(step23));
}

}  // namespace
