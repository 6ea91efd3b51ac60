// Framing of the host's Modbus master: raw requests as libmodbus sends them,
// and the checks that strip a reply ADU down to its PDU.
#include "host/services/adu.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

using sitehost::Framing;
using Bytes = std::vector<unsigned char>;

// Frames whose CRC the Modbus serial-line literature gives, CRC low byte first.
struct CrcVector {
  Bytes frame;
  unsigned char low;
  unsigned char high;
};

TEST(ModbusCrc16, MatchesPublishedFrames) {
  // clang-format off
  const CrcVector vectors[] = {
      {{0x01, 0x03, 0x00, 0x00, 0x00, 0x0A}, 0xC5, 0xCD},
      {{0x11, 0x03, 0x00, 0x6B, 0x00, 0x03}, 0x76, 0x87},
  };
  // clang-format on
  for (const CrcVector& vector : vectors) {
    const std::uint16_t crc = sitehost::modbus_crc16(vector.frame.data(), vector.frame.size());
    EXPECT_EQ(crc & 0xFF, vector.low) << "frame starting " << int(vector.frame[0]);
    EXPECT_EQ(crc >> 8, vector.high) << "frame starting " << int(vector.frame[0]);
  }
}

struct RequestCase {
  const char* name;
  int unit_id;
  ModbusRequest request;
  Bytes expected;  // empty: refused
};

TEST(RawRequest, PutsUnitFunctionAddressAndCountOrValueBigEndian) {
  // clang-format off
  const RequestCase cases[] = {
      {"coils 8001 x32",       1,   {ModbusRequest::read_bits,      8001, 32, 0},       {0x01, 0x01, 0x1F, 0x41, 0x00, 0x20}},
      {"registers 3501 x14",   7,   {ModbusRequest::read_registers, 3501, 14, 0},       {0x07, 0x03, 0x0D, 0xAD, 0x00, 0x0E}},
      {"write 3509 := 1",      247, {ModbusRequest::write_register, 3509, 1, 1},        {0xF7, 0x06, 0x0D, 0xB5, 0x00, 0x01}},
      {"write keeps 16 bits",  1,   {ModbusRequest::write_register, 3501, 1, 0x12345},  {0x01, 0x06, 0x0D, 0xAD, 0x23, 0x45}},
      {"write of -1",          1,   {ModbusRequest::write_register, 3504, 1, -1},       {0x01, 0x06, 0x0D, 0xB0, 0xFF, 0xFF}},
      {"nothing outstanding",  1,   {ModbusRequest::none,           8001, 32, 0},       {}},
      {"unit beyond 255",      256, {ModbusRequest::read_bits,      8001, 32, 0},       {}},
      {"address beyond 16 bits", 1, {ModbusRequest::read_bits,      70000, 1, 0},       {}},
      {"negative address",     1,   {ModbusRequest::read_registers, -1, 1, 0},          {}},
  };
  // clang-format on
  for (const RequestCase& test : cases) {
    const sitehost::RawRequest raw = sitehost::raw_request(test.unit_id, test.request);
    EXPECT_EQ(raw.bytes, test.expected) << test.name;
    EXPECT_EQ(raw.error.empty(), !test.expected.empty()) << test.name << ": " << raw.error;
  }
}

Bytes with_crc(Bytes frame) {
  const std::uint16_t crc = sitehost::modbus_crc16(frame.data(), frame.size());
  frame.push_back(static_cast<unsigned char>(crc & 0xFF));
  frame.push_back(static_cast<unsigned char>(crc >> 8));
  return frame;
}

struct FrameCase {
  const char* name;
  Framing framing;
  Bytes adu;
  int unit_id;
  Bytes pdu;               // expected when accepted
  const char* error_part;  // part of the reason when refused; null when accepted
};

std::vector<FrameCase> frame_cases() {
  const Bytes registers_pdu = {0x03, 0x04, 0x00, 0xF0, 0x01, 0xF4};
  Bytes rtu = with_crc({0x01, 0x03, 0x04, 0x00, 0xF0, 0x01, 0xF4});
  Bytes rtu_flipped = rtu;
  rtu_flipped[4] ^= 0x01;
  const Bytes tcp_header = {0x00, 0x00, 0x00, 0x00, 0x00, 0x07, 0x01};
  Bytes tcp = tcp_header;
  tcp.insert(tcp.end(), registers_pdu.begin(), registers_pdu.end());
  Bytes tcp_transaction = tcp;
  tcp_transaction[1] = 0x01;
  Bytes tcp_protocol = tcp;
  tcp_protocol[3] = 0x01;
  Bytes tcp_long = tcp;
  tcp_long[5] = 0x08;
  Bytes tcp_unit = tcp;
  tcp_unit[6] = 0x02;
  // clang-format off
  return {
      {"rtu reply",                Framing::rtu, rtu,                                  1, registers_pdu, nullptr},
      {"rtu exception",            Framing::rtu, with_crc({0x05, 0x83, 0x02}),         5, {0x83, 0x02},  nullptr},
      {"rtu bad crc",              Framing::rtu, rtu_flipped,                          1, {},            "bad CRC"},
      {"rtu other unit",           Framing::rtu, with_crc({0x02, 0x03, 0x02, 0, 1}),   1, {},            "unit 2"},
      {"rtu too short",            Framing::rtu, {0x01, 0x03, 0x00},                   1, {},            "too short"},
      {"tcp reply",                Framing::tcp, tcp,                                  1, registers_pdu, nullptr},
      {"tcp other transaction",    Framing::tcp, tcp_transaction,                      1, {},            "transaction 1"},
      {"tcp other protocol",       Framing::tcp, tcp_protocol,                         1, {},            "protocol"},
      {"tcp length disagrees",     Framing::tcp, tcp_long,                             1, {},            "length"},
      {"tcp other unit",           Framing::tcp, tcp_unit,                             1, {},            "unit 2"},
      {"tcp too short",            Framing::tcp, {0, 0, 0, 0, 0, 2, 1, 3},             1, {},            "too short"},
  };
  // clang-format on
}

TEST(StripAdu, AcceptsOnlyWellFramedRepliesOfTheUnitAsked) {
  for (const FrameCase& test : frame_cases()) {
    const sitehost::ReplyFrame frame =
        sitehost::strip_adu(test.framing, test.adu.data(), test.adu.size(), test.unit_id);
    if (test.error_part == nullptr) {
      ASSERT_TRUE(frame.ok()) << test.name << ": " << frame.error;
      EXPECT_EQ(Bytes(frame.pdu, frame.pdu + frame.length), test.pdu) << test.name;
    } else {
      EXPECT_FALSE(frame.ok()) << test.name;
      EXPECT_NE(frame.error.find(test.error_part), std::string::npos)
          << test.name << ": " << frame.error;
    }
  }
}

TEST(StripAdu, RefusesEveryTruncationOfAGoodFrame) {
  for (const FrameCase& test : frame_cases()) {
    if (test.error_part != nullptr) {
      continue;
    }
    for (std::size_t length = 0; length < test.adu.size(); ++length) {
      EXPECT_FALSE(sitehost::strip_adu(test.framing, test.adu.data(), length, test.unit_id).ok())
          << test.name << " cut to " << length << " bytes";
    }
  }
}

}  // namespace
