// Decoding of reply PDUs against the request they answer.
#include "host/modbus_reply.h"

#include <gtest/gtest.h>

#include <array>
#include <string>
#include <vector>

namespace {

struct Tables {
  std::array<unsigned char, 40> bits{};
  std::array<std::uint16_t, 40> registers{};
  ReplyTables view() { return {bits.data(), bits.size(), registers.data(), registers.size()}; }
};

const ModbusRequest kCoils10{ModbusRequest::read_bits, 8001, 10, 0};
const ModbusRequest kRegisters2{ModbusRequest::read_registers, 8205, 2, 0};
const ModbusRequest kWrite3509{ModbusRequest::write_register, 3509, 1, 1};

struct DecodeCase {
  const char* name;
  ModbusRequest request;
  std::vector<unsigned char> pdu;
  ReplyDecode::Status status;
  unsigned char exception_code;
};

class Decode : public testing::TestWithParam<DecodeCase> {};

TEST_P(Decode, ClassifiesTheReply) {
  const DecodeCase& c = GetParam();
  Tables tables;
  const ReplyDecode decoded = decode_reply(c.request, c.pdu.data(), c.pdu.size(), tables.view());
  EXPECT_EQ(decoded.status, c.status);
  EXPECT_EQ(decoded.exception_code, c.exception_code);
  if (decoded.status != ReplyDecode::ok) {
    for (unsigned char bit : tables.bits) {
      ASSERT_EQ(bit, 0) << "a failed decode wrote to the tables";
    }
    for (std::uint16_t word : tables.registers) {
      ASSERT_EQ(word, 0) << "a failed decode wrote to the tables";
    }
  }
}

// clang-format off
INSTANTIATE_TEST_SUITE_P(Table, Decode, testing::Values(
    //         name                       request      pdu                                        status                  exception
    DecodeCase{"coils",                   kCoils10,    {0x01, 2, 0x05, 0x02},                      ReplyDecode::ok,        0},
    DecodeCase{"coils_short_count",       kCoils10,    {0x01, 1, 0x05},                            ReplyDecode::malformed, 0},
    DecodeCase{"coils_truncated",         kCoils10,    {0x01, 2, 0x05},                            ReplyDecode::malformed, 0},
    DecodeCase{"coils_trailing_byte",     kCoils10,    {0x01, 2, 0x05, 0x02, 0x00},                ReplyDecode::malformed, 0},
    DecodeCase{"coils_wrong_function",    kCoils10,    {0x02, 2, 0x05, 0x02},                      ReplyDecode::malformed, 0},
    DecodeCase{"registers",               kRegisters2, {0x03, 4, 0x12, 0x34, 0xAB, 0xCD},          ReplyDecode::ok,        0},
    DecodeCase{"registers_as_coils",      kRegisters2, {0x01, 4, 0x12, 0x34, 0xAB, 0xCD},          ReplyDecode::malformed, 0},
    DecodeCase{"registers_odd_count",     kRegisters2, {0x03, 3, 0x12, 0x34, 0xAB},                ReplyDecode::malformed, 0},
    DecodeCase{"registers_too_many",      kRegisters2, {0x03, 6, 0, 1, 0, 2, 0, 3},                ReplyDecode::malformed, 0},
    DecodeCase{"echo",                    kWrite3509,  {0x06, 0x0D, 0xB5, 0x00, 0x07},             ReplyDecode::ok,        0},
    DecodeCase{"echo_other_register",     kWrite3509,  {0x06, 0x0D, 0xB4, 0x00, 0x01},             ReplyDecode::malformed, 0},
    DecodeCase{"echo_truncated",          kWrite3509,  {0x06, 0x0D, 0xB5, 0x00},                   ReplyDecode::malformed, 0},
    DecodeCase{"exception_02",            kCoils10,    {0x81, 0x02},                               ReplyDecode::exception, 2},
    DecodeCase{"exception_06_on_write",   kWrite3509,  {0x86, 0x06},                               ReplyDecode::exception, 6},
    DecodeCase{"exception_other_function",kRegisters2, {0x81, 0x02},                               ReplyDecode::malformed, 0},
    DecodeCase{"exception_with_extra",    kRegisters2, {0x83, 0x02, 0x00},                         ReplyDecode::malformed, 0},
    DecodeCase{"empty",                   kCoils10,    {},                                         ReplyDecode::malformed, 0},
    DecodeCase{"nothing_requested",       ModbusRequest{}, {0x01, 1, 0x00},                        ReplyDecode::malformed, 0}),
    [](const testing::TestParamInfo<DecodeCase>& info) { return std::string(info.param.name); });
// clang-format on

TEST(Decode, UnpacksCoilsLeastSignificantBitFirst) {
  Tables tables;
  const std::vector<unsigned char> pdu = {0x01, 2, 0b1010'0101, 0b0000'0010};
  const ReplyDecode decoded = decode_reply(kCoils10, pdu.data(), pdu.size(), tables.view());
  ASSERT_EQ(decoded.status, ReplyDecode::ok);
  EXPECT_EQ(decoded.count, 10u);
  const std::vector<unsigned char> expected = {1, 0, 1, 0, 0, 1, 0, 1, 0, 1, 0};
  EXPECT_EQ(std::vector<unsigned char>(tables.bits.begin(), tables.bits.begin() + 11), expected);
}

TEST(Decode, TurnsBigEndianRegistersIntoNativeValues) {
  Tables tables;
  const std::vector<unsigned char> pdu = {0x03, 4, 0x12, 0x34, 0xAB, 0xCD};
  const ReplyDecode decoded = decode_reply(kRegisters2, pdu.data(), pdu.size(), tables.view());
  ASSERT_EQ(decoded.status, ReplyDecode::ok);
  EXPECT_EQ(decoded.count, 2u);
  EXPECT_EQ(tables.registers[0], 0x1234);
  EXPECT_EQ(tables.registers[1], 0xABCD);
}

TEST(Decode, PutsTheEchoedValueIntoTheFirstRegister) {
  Tables tables;
  const std::vector<unsigned char> pdu = {0x06, 0x0D, 0xB5, 0xFF, 0xCE};
  const ReplyDecode decoded = decode_reply(kWrite3509, pdu.data(), pdu.size(), tables.view());
  ASSERT_EQ(decoded.status, ReplyDecode::ok);
  EXPECT_EQ(tables.registers[0], 0xFFCE);
}

TEST(Decode, RefusesAReadLargerThanTheTables) {
  Tables tables;
  const ModbusRequest request{ModbusRequest::read_registers, 1, 41, 0};
  std::vector<unsigned char> pdu = {0x03, 82};
  pdu.resize(2 + 82, 0x11);
  EXPECT_EQ(decode_reply(request, pdu.data(), pdu.size(), tables.view()).status,
            ReplyDecode::malformed);
}

}  // namespace
