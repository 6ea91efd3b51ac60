// The simulator's own line: bytes as a receiver at other line settings gets
// them, and another Modbus device served beside the units, with every write
// request counted.
#include <gtest/gtest.h>

#include <cerrno>

#include "simulator/line_format.h"
#include "tests/simulator/sim_master.h"

namespace velmocair::sim {
namespace {

using testing::Master;
using Bytes = std::vector<std::uint8_t>;

// The expected bytes follow the bits on the wire by hand: 0x03 at 8N1 is
// start 0, data 1 1 0 0 0 0 0 0 (least significant first), stop 1.
TEST(SimLine, AReceiverAtOtherSettingsGetsWhatTheLineCarries) {
  struct Row {
    const char* name;
    LineFormat sent;
    LineFormat read;
    Bytes bytes;
    Bytes received;
  };
  // clang-format off
  // name                                   sent at             read at             bytes sent           bytes received
  const Row rows[] = {
      {"the same settings",                  {9600, 'N', 8, 1},  {9600, 'N', 8, 1},  {0x01, 0x03, 0xAB},  {0x01, 0x03, 0xAB}},
      // The parity bit falls where the stop bit is due: a framing error,
      // which a receiver without parity checks lets pass.
      {"8N1 reading 8E1",                    {9600, 'E', 8, 1},  {9600, 'N', 8, 1},  {0x03, 0x00},        {0x03, 0x00}},
      // The stop bit falls where the parity bit is due (wrong for 0x03), the
      // next start bit where the stop bit is: 0 for the error, and no start
      // bit found in the zeros that follow.
      {"8E1 reading 8N1",                    {9600, 'N', 8, 1},  {9600, 'E', 8, 1},  {0x03, 0x00},        {0x00}},
      // Each bit read lasts two bits sent: samples at sent bits 3, 5, 7 (0),
      // 9 (stop, 1) and then idle ones.
      {"9600 reading 19200",                 {19200, 'N', 8, 1}, {9600, 'N', 8, 1},  {0x00},              {0xF8}},
      {"odd parity read as odd",             {4800, 'O', 8, 2},  {4800, 'O', 8, 1},  {0x80, 0x7F},        {0x80, 0x7F}},
  };
  // clang-format on
  for (const Row& row : rows) {
    EXPECT_EQ(resample(row.bytes.data(), row.bytes.size(), row.sent, row.read), row.received)
        << row.name;
  }
}

TEST(SimLine, AnotherDeviceAnswersSomeReadsAndRefusesTheRestAndEveryWrite) {
  ServerOptions options = testing::options_on(Transport::tcp);
  options.other_device_ids = {4};
  Server server(options);
  server.start();
  Master other(Transport::tcp, server, 4);
  const Master::Cycle cycle = other.poll_cycle();
  EXPECT_EQ(cycle.completed, 7) << "the indoor block's reads";
  EXPECT_EQ(cycle.failure.error, EMBXILADD);
  EXPECT_EQ(other.write_register(3501, 240).error, EMBXILADD);
  EXPECT_EQ(server.writes(), 1u);

  Master unit(Transport::tcp, server, 1);
  EXPECT_EQ(unit.poll_cycle().completed, 20);
  EXPECT_EQ(unit.write_register(3501, 240).rc, 1);
  EXPECT_EQ(server.writes(), 2u) << "writes to any unit count";
}

}  // namespace
}  // namespace velmocair::sim
