// The simulated unit's map over Modbus TCP and RTU: values, writes and
// exceptions, as a plain libmodbus master sees them.
#include <gtest/gtest.h>

#include <algorithm>
#include <iterator>

#include "simulator/address_map.h"
#include "simulator/default_values.h"
#include "tests/simulator/sim_master.h"

namespace velmocair::sim {
namespace {

using testing::Master;
using testing::options_on;
using Bytes = std::vector<std::uint8_t>;

std::uint8_t high(int word) { return static_cast<std::uint8_t>(word >> 8); }
std::uint8_t low(int word) { return static_cast<std::uint8_t>(word & 0xFF); }

int default_coil(int address) {
  return std::any_of(std::begin(kDefaultCoils), std::end(kDefaultCoils),
                     [&](const DefaultCoil& coil) { return coil.address == address; })
             ? 1
             : 0;
}

int default_register(int address) {
  for (const DefaultRegister& row : kDefaultRegisters) {
    if (row.address == address) {
      return row.value;
    }
  }
  return 0;
}

class SimMap : public ::testing::TestWithParam<Transport> {
 protected:
  SimMap() : server_(options_on(GetParam())) { server_.start(); }

  Server server_;
  Master master_{GetParam(), server_, 1};
};

INSTANTIATE_TEST_SUITE_P(Transports, SimMap, ::testing::Values(Transport::tcp, Transport::rtu),
                         testing::TransportName());

TEST_P(SimMap, EveryPollReadReturnsTheBuiltInImage) {
  for (const PollRead& read : kPollReads) {
    const std::string row = (read.area == Area::coils ? "coils " : "registers ") +
                            std::to_string(read.first) + "/" + std::to_string(read.count);
    std::vector<std::uint8_t> coils;
    std::vector<std::uint16_t> words;
    const testing::Outcome result = read.area == Area::coils
                                        ? master_.read_coils(read.first, read.count, &coils)
                                        : master_.read_registers(read.first, read.count, &words);
    ASSERT_EQ(result.rc, read.count) << row << ": " << modbus_strerror(result.error);
    for (int i = 0; i < read.count; ++i) {
      const int address = read.first + i;
      if (read.area == Area::coils) {
        EXPECT_EQ(coils[i], default_coil(address)) << row << ", coil " << address;
      } else {
        EXPECT_EQ(words[i], default_register(address)) << row << ", register " << address;
      }
    }
  }
}

TEST_P(SimMap, TheImageLooksLikeAUnitRunning) {
  struct Row {
    int address;
    int value;
  };
  // clang-format off
  // register  value
  const Row rows[] = {
      {3501, 240},  // return-air set-point 24.0
      {3504, 500},  // humidity set-point 50.0
      {3509,   1},  // on
      {8002,   0},  // no second smoke alarm
      {8005, 253},  // return air 25.3
      {8033,   1},  // power feed A closed
      {8034,   1},  // power feed B closed
  };
  // clang-format on
  for (const Row& row : rows) {
    std::vector<std::uint16_t> word;
    ASSERT_EQ(master_.read_registers(row.address, 1, &word).rc, 1) << row.address;
    EXPECT_EQ(word[0], row.value) << "register " << row.address;
  }
  std::vector<std::uint16_t> climate;
  ASSERT_EQ(master_.read_registers(8003, 4, &climate).rc, 4);
  EXPECT_TRUE(std::all_of(climate.begin(), climate.end(), [](std::uint16_t tenths) {
    return tenths >= 100 && tenths <= 900;
  })) << "supply, room, return-air temperatures and humidity 8003..8006 in tenths";
  EXPECT_EQ(server_.coils(1, 8001, 1), Bytes{1}) << "unit on";
}

TEST_P(SimMap, ReadsLeavingTheServedRangesGetIllegalDataAddress) {
  for (const ServedRange& range : kServedRanges) {
    const PollRead rows[] = {
        {range.area, range.first - 1, 1}, // just below
        {range.area, range.last + 1,  1}, // just above
        {range.area, range.last,      2}, // straddling the end
    };
    for (const PollRead& read : rows) {
      const testing::Outcome result = read.area == Area::coils
                                          ? master_.read_coils(read.first, read.count)
                                          : master_.read_registers(read.first, read.count);
      EXPECT_EQ(result.rc, -1) << read.first << "/" << read.count;
      EXPECT_EQ(result.error, EMBXILADD) << (read.area == Area::coils ? "coils " : "registers ")
                                         << read.first << "/" << read.count;
    }
  }
}

TEST_P(SimMap, UnsupportedFunctionsAndQuantitiesGetExceptions) {
  struct Row {
    const char* what;
    Bytes request;  // PDU
    int exception;
  };
  // clang-format off
  // what                      request PDU                                         exception
  const Row rows[] = {
      {"read discrete inputs",   {0x02, 0x1F, 0x41, 0x00, 0x01},                      1},
      {"read input registers",   {0x04, 0x0D, 0xAD, 0x00, 0x01},                      1},
      {"write single coil",      {0x05, 0x1F, 0x41, 0xFF, 0x00},                      1},
      {"write registers",        {0x10, 0x0D, 0xAD, 0x00, 0x01, 0x02, 0x00, 0xF0},    1},
      {"no registers",           {0x03, 0x0D, 0xAD, 0x00, 0x00},                      3},
      {"126 registers",          {0x03, 0x1F, 0x41, 0x00, 0x7E},                      3},
      {"2001 coils",             {0x01, 0x1F, 0x41, 0x07, 0xD1},                      3},
      {"write 3502",             {0x06, 0x0D, 0xAE, 0x00, 0x01},                      2},
      {"write 8001",             {0x06, 0x1F, 0x41, 0x00, 0x01},                      2},
  };
  // clang-format on
  for (const Row& row : rows) {
    Bytes reply;
    ASSERT_GT(master_.raw(row.request, &reply).rc, 0) << row.what;
    const Bytes expected{static_cast<std::uint8_t>(row.request[0] | kExceptionFlag),
                         static_cast<std::uint8_t>(row.exception)};
    EXPECT_EQ(testing::pdu_of(GetParam(), reply), expected) << row.what;
  }
  EXPECT_EQ(server_.registers(1, 3502, 1), std::vector<std::uint16_t>{180}) << "3502 unchanged";
}

TEST_P(SimMap, WritesToTheSetPointsAndOnOffAreEchoedAndReadBack) {
  struct Row {
    int address;
    int value;
  };
  // clang-format off
  // register  value
  const Row rows[] = {
      {3501, 231},
      {3504, 455},
      {3509,   0},
      {3509,   1},
  };
  // clang-format on
  for (const Row& row : rows) {
    const Bytes request{kWriteRegister, high(row.address), low(row.address), high(row.value),
                        low(row.value)};
    Bytes reply;
    ASSERT_GT(master_.raw(request, &reply).rc, 0) << row.address;
    EXPECT_EQ(testing::pdu_of(GetParam(), reply), request) << "echo of " << row.address;
    std::vector<std::uint16_t> word;
    ASSERT_EQ(master_.read_registers(row.address, 1, &word).rc, 1);
    EXPECT_EQ(word[0], row.value) << "register " << row.address;
  }
}

}  // namespace
}  // namespace velmocair::sim
