// The checks that tell a unit of this type by its values: the simulator's
// image passes them all; each row spoils one value and only its check fails.
#include "cli/scan/value_checks.h"

#include <gtest/gtest.h>

#include "simulator/default_values.h"

namespace velmocair::cli {
namespace {

CycleValues simulator_image() {
  CycleValues values;
  for (const int address : {8001, 8002, 8008, 8009, 8010, 8011}) {
    values.registers[address] = 0;
  }
  for (const auto& [address, value] : sim::kDefaultRegisters) {
    values.registers[address] = value;
  }
  return values;
}

TEST(ValueChecks, EachFailsOnlyOnTheValueItLooksAt) {
  struct Row {
    int address;  // register spoiled; 0: the coil padding
    int value;
    const char* fails;
  };
  // clang-format off
  const Row rows[] = {
      {0,    0,   "coil replies set bits beyond the coils asked for"},
      {8001, 2,   "register 8001 = 2, a state word (0 or 1)"},
      {3510, 256, "register 3510 = 256, a state word (0 or 1)"},
      {3501, 49,  "register 3501 = 49, the return-air temperature set-point (5.0..45.0 C)"},
      {3503, 451, "register 3503 = 451, the remote temperature set-point (5.0..45.0 C)"},
      {3504, 951, "register 3504 = 951, the humidity set-point (5.0..95.0 %)"},
      {3507, 200, "register 3507 = 200 not above register 3508 = 200, the humidity alarm limits"},
      {3514, 400, "register 3513 = 300 not above register 3514 = 400, the supply-air alarm limits"},
  };
  // clang-format on
  const ValueVerdict image = check_values(simulator_image());
  EXPECT_TRUE(image.plausible()) << image.failed.front();
  EXPECT_EQ(image.passed.size(), 4u);
  for (const Row& row : rows) {
    CycleValues values = simulator_image();
    if (row.address == 0) {
      values.coil_padding_clear = false;
    } else {
      values.registers[row.address] = static_cast<std::uint16_t>(row.value);
    }
    const ValueVerdict verdict = check_values(values);
    EXPECT_EQ(verdict.failed, std::vector<std::string>{row.fails}) << row.address;
    EXPECT_EQ(verdict.passed.size(), 3u) << row.address;
  }
}

}  // namespace
}  // namespace velmocair::cli
