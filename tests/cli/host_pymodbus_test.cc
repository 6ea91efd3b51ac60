// velmocair-host against pymodbus as the unit: an independent Modbus
// implementation, so that our master and our simulator cannot share one
// mistake about addresses or framing.
#include <gtest/gtest.h>

#include "device/poll_cycle_table.h"
#include "tests/support/host_run.h"

namespace velmocair::testing {
namespace {

// The values pymodbus_unit.py serves.
int coil_value(int address) { return (address * 7) % 5 < 2 ? 1 : 0; }
int register_value(int address) { return (address * 37 + 11) & 0xFFFF; }

std::vector<unsigned char> expected_body() {
  std::vector<unsigned char> body;
  for (const PollStep& step : kPollCycle) {
    for (int i = 0; i < step.request.count; ++i) {
      const int address = step.request.first + i;
      if (step.request.kind == ReadKind::coils) {
        body.push_back(static_cast<unsigned char>(coil_value(address)));
      } else {
        body.push_back(static_cast<unsigned char>(register_value(address) & 0xFF));
        body.push_back(static_cast<unsigned char>(register_value(address) >> 8));
      }
    }
  }
  return body;
}

TEST(HostWithPymodbus, ReadsAndWritesTheAddressesAnIndependentUnitServes) {
  ScratchFolder folder;
  const PymodbusUnit unit(folder);
  ASSERT_FALSE(unit.endpoint().empty()) << unit.errors();
  const std::string& endpoint = unit.endpoint();

  const std::string trace_path = folder.path("trace.jsonl");
  const HostRun poll =
      run_host(folder, {"--tcp", endpoint, "--cycles", "1", "--status", "--trace", trace_path});
  ASSERT_EQ(poll.status, 0) << poll.transcript();
  const std::vector<Json::Value> published = calls_named(read_trace(trace_path), "SendSP");
  ASSERT_EQ(published.size(), 1u);
  const std::vector<unsigned char> record = from_hex(published[0]["args"][1].asString());
  ASSERT_EQ(record.size(), kRecordSize);
  EXPECT_EQ(std::vector<unsigned char>(record.begin() + kBodyFirst, record.begin() + kBodyEnd),
            expected_body());
  // Register 3501 at offset 334, coil 8232 at offset 393, read off the layout.
  EXPECT_EQ(record[334] | (record[335] << 8), register_value(3501));
  EXPECT_EQ(record[393], coil_value(8232));

  const HostRun command = run_host(
      folder, {"command", "temperature", "22", "--tcp", endpoint, "--cycles", "1", "--status"});
  ASSERT_EQ(command.status, 0) << command.transcript();
  EXPECT_EQ(command.out_starting("command "),
            std::vector<std::string>{"command temperature 22: confirmed"});
  ASSERT_EQ(command.status_documents().size(), 1u);
  EXPECT_EQ(command.status_documents()[0]["参数设定"]["回风温度设定值"].asDouble(), 22.0);
}

}  // namespace
}  // namespace velmocair::testing
