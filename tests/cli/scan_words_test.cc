// The words a field engineer types for a scan and the history's bounds, in
// process: unit-address lists as the simulator takes them, parity and size
// words in any case.
#include <gtest/gtest.h>

#include "cli/options/exit_status.h"
#include "cli/options/value_parsing.h"

namespace velmocair::cli {
namespace {

TEST(ScanWords, TakesUnitAddressListsInTheOrderGiven) {
  struct Row {
    const char* text;
    std::vector<int> unit_ids;
  };
  // clang-format off
  const Row rows[] = {
      {"7",          {7}},
      {"1-3",        {1, 2, 3}},
      {"1,5,9-12",   {1, 5, 9, 10, 11, 12}},
      {"20,3",       {20, 3}},
      {"247",        {247}},
  };
  // clang-format on
  for (const Row& row : rows) {
    EXPECT_EQ(parse_unit_ids(row.text, "--unit-ids"), row.unit_ids) << row.text;
  }
  for (const char* refused : {"", "1,", ",1", "0", "1,0-3", "248", "5-3", "1,2,2", "1-3,2", "a"}) {
    EXPECT_THROW(parse_unit_ids(refused, "--unit-ids"), UsageError) << "'" << refused << "'";
  }
}

TEST(ScanWords, TakesParityAndSizeWordsInAnyCase) {
  EXPECT_EQ(parse_parity("EVEN", "--parity"), 'E');
  EXPECT_EQ(parse_parity("Odd", "--parity"), 'O');
  EXPECT_EQ(parse_parity("n", "--parity"), 'N');
  EXPECT_THROW(parse_parity("mark", "--parity"), UsageError);
  EXPECT_EQ(parse_size("500mb", "--history-max-size"), 500000000);
  EXPECT_EQ(parse_size("2gib", "--history-max-size"), 2147483648LL);
  EXPECT_EQ(parse_size("1.5GB", "--history-max-size"), 1500000000);
  EXPECT_THROW(parse_size("500mbit", "--history-max-size"), UsageError);
}

}  // namespace
}  // namespace velmocair::cli
