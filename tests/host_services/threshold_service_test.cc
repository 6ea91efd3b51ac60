// The host's boolean threshold rules: a rule is queued when a check changes
// state (first sight of an active alarm included) and reported in batches.
#include "host/services/threshold_service.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

using sitehost::ThresholdService;

struct Reported {
  std::uint32_t data_id;
  std::vector<rule_value> rules;
};

struct Sequence {
  const char* name;
  std::vector<bool> states;       // one check per completion
  std::vector<int> queued_after;  // per completion: -1 none, 0 cleared, 1 raised
};

TEST(ThresholdService, QueuesARuleOnlyWhenTheStateChanges) {
  // clang-format off
  const Sequence sequences[] = {
      {"normal from the start",    {false, false},              {-1, -1}},
      {"active from the start",    {true, true, true},          {1, -1, -1}},
      {"raised then cleared",      {false, true, false},        {-1, 1, 0}},
      {"cleared then raised again", {true, false, false, true}, {1, 0, -1, 1}},
  };
  // clang-format on
  for (const Sequence& sequence : sequences) {
    ThresholdService service(nullptr);
    for (std::size_t i = 0; i < sequence.states.size(); ++i) {
      std::vector<rule_value> pending;
      const bool queued =
          service.check_bool(7, 2, "12017", "高温报警", sequence.states[i], 25, pending);
      const int expected = sequence.queued_after[i];
      ASSERT_EQ(queued, expected >= 0) << sequence.name << ", completion " << i + 1;
      ASSERT_EQ(pending.size(), expected >= 0 ? 1u : 0u) << sequence.name;
      if (expected >= 0) {
        EXPECT_EQ(pending[0].active, expected == 1) << sequence.name << ", completion " << i + 1;
        EXPECT_EQ(pending[0].index, 25);
        EXPECT_EQ(pending[0].type, 2);
        EXPECT_EQ(pending[0].signal_id, "12017");
        EXPECT_EQ(pending[0].text, "高温报警");
      }
      EXPECT_EQ(service.last_state(7, 25), sequence.states[i]) << sequence.name;
    }
  }
}

TEST(ThresholdService, KeepsStatesApartByUnitAndIndex) {
  ThresholdService service(nullptr);
  std::vector<rule_value> pending;
  service.check_bool(1, 2, "12017", "与室内机通讯故障", true, 105, pending);
  service.check_bool(1, 2, "12017", "与室内机通讯故障", false, 127, pending);
  service.check_bool(2, 2, "12017", "与室内机通讯故障", false, 105, pending);
  ASSERT_EQ(pending.size(), 1u);
  EXPECT_EQ(pending[0].index, 105);
  EXPECT_EQ(service.last_state(1, 105), true);
  EXPECT_EQ(service.last_state(1, 127), false);
  EXPECT_EQ(service.last_state(2, 105), false);
  EXPECT_EQ(service.last_state(2, 127), std::nullopt);
}

TEST(ThresholdService, ListsTheChecksRaisedAndNotClearedByIndex) {
  ThresholdService service(nullptr);
  std::vector<rule_value> pending;
  EXPECT_TRUE(service.active_checks(1).empty()) << "nothing before the first check";
  service.check_bool(1, 2, "12017", "水浸报警", true, 7, pending);
  service.check_bool(1, 2, "12017", "烟雾报警", true, 6, pending);
  service.check_bool(1, 2, "12017", "高温报警", false, 25, pending);
  service.check_bool(1, 2, "12017", "滤网维护", true, 43, pending);
  service.check_bool(2, 2, "12017", "相序错误", true, 2, pending);
  service.check_bool(1, 2, "12017", "滤网维护", false, 43, pending);
  const std::vector<sitehost::ActiveCheck> active = service.active_checks(1);
  ASSERT_EQ(active.size(), 2u);
  EXPECT_EQ(active[0].index, 6);
  EXPECT_EQ(active[0].text, "烟雾报警");
  EXPECT_EQ(active[1].index, 7);
  EXPECT_EQ(active[1].text, "水浸报警");
  ASSERT_EQ(service.active_checks(2).size(), 1u);
  EXPECT_EQ(service.active_checks(2)[0].text, "相序错误");
}

TEST(ThresholdService, ReportsABatchOnlyWhenItHoldsRules) {
  std::vector<Reported> reports;
  ThresholdService service([&reports](std::uint32_t data_id, const std::vector<rule_value>& rules) {
    reports.push_back({data_id, rules});
  });
  EXPECT_FALSE(service.report(3, {}));
  EXPECT_TRUE(reports.empty());

  std::vector<rule_value> pending;
  service.check_bool(3, 2, "12017", "烟雾报警", true, 6, pending);
  service.check_bool(3, 2, "12017", "水浸报警", true, 7, pending);
  EXPECT_TRUE(service.report(3, pending));
  ASSERT_EQ(reports.size(), 1u);
  EXPECT_EQ(reports[0].data_id, 3u);
  ASSERT_EQ(reports[0].rules.size(), 2u);
  EXPECT_EQ(reports[0].rules[0].text, "烟雾报警");
  EXPECT_EQ(reports[0].rules[1].text, "水浸报警");
}

}  // namespace
