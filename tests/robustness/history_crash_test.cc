// velmocair-host killed with SIGKILL at random moments while it polls and
// stores: after every kill the history file passes SQLite's integrity check,
// keeps every row it had, and holds only whole records of one cycle; a
// restarted host reloads the newest row before its first poll. A host that
// prunes to a size limit, killed likewise, leaves the newest rows whole.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstddef>
#include <random>
#include <thread>

#include "device/Velmocair_Data_t.h"
#include "tests/robustness/generation_marks.h"
#include "tests/robustness/history_file.h"
#include "tests/robustness/run_scale.h"
#include "tests/support/host_run.h"

namespace velmocair::robustness {
namespace {

using std::chrono::milliseconds;

constexpr std::uint32_t kDataId = 77;
constexpr unsigned kSeed = 6;
// Kills land from the host's start-up (plug-in, history, reload) to well
// into its polling: the reload stores nothing, so rows come only from
// completed cycles, the first some hundred milliseconds after the start.
constexpr int kEarliestKillMs = 20;
constexpr int kLatestKillMs = 1500;
constexpr std::size_t kTimeStampOffset = offsetof(Velmocair_Data_t, time_stamp);

std::vector<std::string> host_arguments(const testing::SimulatedBus& bus,
                                        const std::string& history) {
  std::vector<std::string> arguments{VELMOCAIR_HOST_PATH};
  const std::vector<std::string> where = bus.host_options();
  arguments.insert(arguments.end(), where.begin(), where.end());
  arguments.insert(arguments.end(),
                   {"--interval", "0", "--data-id", std::to_string(kDataId), "--history", history});
  return arguments;
}

// Empty when every row is a whole record of one cycle of the unit.
std::string problem_with(const std::vector<StoredRow>& rows) {
  for (const StoredRow& row : rows) {
    if (row.data_id != kDataId || !generation_of(row.record.data(), row.record.size())) {
      return "row " + std::to_string(row.id) + ": data id " + std::to_string(row.data_id) + ", " +
             std::to_string(row.record.size()) + " bytes, not a whole record of one cycle";
    }
  }
  return {};
}

bool same_rows(const std::vector<StoredRow>& before, const std::vector<StoredRow>& after) {
  if (after.size() < before.size()) {
    return false;
  }
  for (std::size_t i = 0; i < before.size(); ++i) {
    if (before[i].id != after[i].id || before[i].record != after[i].record) {
      return false;
    }
  }
  return true;
}

TEST(HistoryCrash, AKilledHostLeavesAWholeHistoryThatARestartedHostReloads) {
  const long kills = run_scale("VELMOCAIR_CRASH_KILLS", 8);
  testing::ScratchFolder folder;
  sim::ServerOptions options;
  options.mark_generations = true;
  testing::SimulatedBus bus(testing::Transport::tcp, options);
  const std::string history = folder.path("history.sqlite");
  std::mt19937 random(kSeed);
  std::uniform_int_distribution<int> moment(kEarliestKillMs, kLatestKillMs);

  std::vector<StoredRow> rows;
  long kills_after_a_store = 0;
  for (long kill = 1; kill <= kills; ++kill) {
    {
      testing::ChildProcess host(host_arguments(bus, history), folder.path("host.out"),
                                 folder.path("host.err"));
      std::this_thread::sleep_for(milliseconds(moment(random)));
      ASSERT_FALSE(host.ended()) << "kill " << kill << ": the host ended by itself\n"
                                 << testing::read_file(folder.path("host.err"));
    }  // the host still running is killed with SIGKILL here
    ASSERT_EQ(integrity_check(history), "ok") << "after kill " << kill;
    const std::vector<StoredRow> after = stored_rows(history);
    ASSERT_TRUE(same_rows(rows, after)) << "kill " << kill << " lost or changed stored rows";
    ASSERT_EQ(problem_with(after), "") << "after kill " << kill;
    kills_after_a_store += after.size() > rows.size() ? 1 : 0;
    rows = after;
  }
  report_figure("crash: " + std::to_string(kills) + " SIGKILLs, " +
                std::to_string(kills_after_a_store) + " of them after the host had stored, " +
                std::to_string(rows.size()) +
                " rows, integrity ok after every kill, no row lost or mixed");
  ASSERT_FALSE(rows.empty());

  const std::string trace = folder.path("trace.jsonl");
  const testing::HostRun restarted = testing::run_host(
      folder, {bus.host_options()[0], bus.host_options()[1], "--cycles", "1", "--interval", "0",
               "--data-id", std::to_string(kDataId), "--history", history, "--trace", trace});
  ASSERT_EQ(restarted.status, 0) << restarted.transcript();
  EXPECT_EQ(restarted.err_containing("loaded the newest stored record").size(), 1u)
      << restarted.transcript();
  const std::vector<Json::Value> published =
      testing::calls_named(testing::read_trace(trace), "SendSP");
  ASSERT_FALSE(published.empty());
  const std::vector<unsigned char> reloaded = testing::from_hex(published[0]["args"][1].asString());
  ASSERT_EQ(reloaded.size(), rows.back().record.size());
  EXPECT_TRUE(
      std::equal(reloaded.begin(), reloaded.begin() + kTimeStampOffset, rows.back().record.begin()))
      << "the first record published after the restart is the newest stored row";
}

// Empty when `after` holds the newest rows of `before` unchanged (a
// suffix: pruning removes the oldest only), then rows of its own.
std::string pruned_problem(const std::vector<StoredRow>& before,
                           const std::vector<StoredRow>& after) {
  if (after.empty()) {
    return "no row left";
  }
  std::size_t first = 0;
  while (first < before.size() && before[first].id < after.front().id) {
    ++first;
  }
  for (std::size_t i = first; i < before.size(); ++i) {
    const std::size_t j = i - first;
    if (j >= after.size() || after[j].id != before[i].id || after[j].record != before[i].record) {
      return "row " + std::to_string(before[i].id) + " lost or changed inside what is kept";
    }
  }
  return {};
}

TEST(HistoryCrash, AKilledHostThatPrunesLeavesAWholeHistoryOfTheNewestRows) {
  const long kills = run_scale("VELMOCAIR_CRASH_KILLS", 4);
  constexpr int kPrefilledRows = 4000;  // about 2 MB, over the 1 MB limit
  testing::ScratchFolder folder;
  sim::ServerOptions options;
  options.mark_generations = true;
  testing::SimulatedBus bus(testing::Transport::tcp, options);
  const std::string history = folder.path("history.sqlite");
  ASSERT_EQ(prefill_history(history, kDataId, kPrefilledRows), "");
  std::vector<std::string> arguments = host_arguments(bus, history);
  arguments.insert(arguments.end(), {"--history-max-size", "1MB"});
  std::mt19937 random(kSeed);
  std::uniform_int_distribution<int> moment(kEarliestKillMs, kLatestKillMs);
  std::vector<StoredRow> rows = stored_rows(history);
  for (long kill = 1; kill <= kills; ++kill) {
    {
      testing::ChildProcess host(arguments, folder.path("host.out"), folder.path("host.err"));
      std::this_thread::sleep_for(milliseconds(moment(random)));
      ASSERT_FALSE(host.ended()) << testing::read_file(folder.path("host.err"));
    }
    ASSERT_EQ(integrity_check(history), "ok") << "after kill " << kill;
    const std::vector<StoredRow> after = stored_rows(history);
    ASSERT_EQ(pruned_problem(rows, after), "") << "after kill " << kill;
    rows = after;
  }
  EXPECT_LT(rows.size(), static_cast<std::size_t>(kPrefilledRows)) << "the host pruned";
}

}  // namespace
}  // namespace velmocair::robustness
