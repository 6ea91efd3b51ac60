// Many cycles of one unit, with status requests and commands, without and
// with history: after warm-up the open files stay exactly the same and
// (outside the sanitizer builds, whose allocators hold freed memory back)
// resident memory stays within a small slack. With history, SQLite's page
// cache and its write-ahead log's index grow over the first many thousand
// rows and then stay; memory is judged only on a run long enough to see past
// that.
#include <gtest/gtest.h>

#include <algorithm>

#include "cli/options/command_actions.h"
#include "tests/robustness/process_usage.h"
#include "tests/robustness/run_scale.h"
#include "tests/robustness/unit_under_test.h"
#include "tests/support/child_process.h"

namespace velmocair::robustness {
namespace {

using std::chrono::milliseconds;

struct SoakCase {
  const char* name;
  bool history;
  long bounded_cycles;  // in the test command
  long warm_up_cycles;  // at least
};

#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
constexpr bool kMemoryIsMeasurable = false;
constexpr long kPlainOnly = 1;  // sanitizer builds run a hundredth of the cycles
#else
constexpr bool kMemoryIsMeasurable = true;
constexpr long kPlainOnly = 100;
#endif

// clang-format off
// name             history  bounded cycles       warm-up cycles
constexpr SoakCase kSoaks[] = {
    {"NoHistory",     false,   160 * kPlainOnly,    0},
    {"WithHistory",   true,    40 * kPlainOnly,     20000},
};
// clang-format on

// Warm-up is the first tenth of the run, or the case's warm-up where memory
// is judged: when that is at most half of the run.
constexpr long kWarmUpShare = 10;
constexpr long kSamples = 20;
constexpr long kExtrasEvery = 50;  // polls between a status request and a command
constexpr std::size_t kMemorySlack = 1 << 20;
constexpr std::size_t kTextCapacity = 1 << 16;
constexpr int kStatusText = 801;
constexpr int kFirstHumidity = 40;
constexpr milliseconds kPollWait{10000};

struct Usage {
  std::size_t resident;
  std::size_t files;
};

Usage usage_now() { return {resident_bytes(), open_files()}; }

class Soak : public ::testing::TestWithParam<SoakCase> {};

TEST_P(Soak, OpenFilesAndMemoryStayFlatAfterWarmUp) {
  const SoakCase& soak = GetParam();
  const long cycles = run_scale("VELMOCAIR_SOAK_CYCLES", soak.bounded_cycles);
  const bool judge_memory = kMemoryIsMeasurable && soak.warm_up_cycles <= cycles / 2;
  const long warm_up =
      std::max({1L, cycles / kWarmUpShare, judge_memory ? soak.warm_up_cycles : 0L});
  const long sample_every = std::max(1L, (cycles - warm_up) / kSamples);
  testing::ScratchFolder folder;
  UnitSetup setup;
  if (soak.history) {
    setup.history_path = folder.path("history.sqlite");
  }
  UnitUnderTest unit(setup);
  const cli::CommandAction& humidity = *cli::find_command_action("humidity");
  std::vector<char> text(kTextCapacity);

  unit.start();
  Usage warm{};
  std::vector<Usage> samples;
  for (long poll = 1; poll <= cycles; ++poll) {
    ASSERT_TRUE(unit.wait_reports(static_cast<std::uint64_t>(poll), kPollWait)) << "poll " << poll;
    if (poll % kExtrasEvery == 0) {
      int out_len = 0;
      unit.device().DeviceIoControl(kStatusText, nullptr, 0, text.data(),
                                    static_cast<int>(text.size()), out_len);
      ASSERT_TRUE(unit.command(humidity, kFirstHumidity + static_cast<int>(poll % 10), kPollWait));
    }
    if (poll == warm_up) {
      warm = usage_now();
    } else if (poll > warm_up && (poll - warm_up) % sample_every == 0) {
      samples.push_back(usage_now());
    }
  }
  unit.stop();
  ASSERT_FALSE(samples.empty());

  const std::uint64_t completed = unit.polls().completed;
  std::size_t most_resident = warm.resident;
  std::size_t fewest_files = warm.files;
  std::size_t most_files = warm.files;
  for (const Usage& sample : samples) {
    most_resident = std::max(most_resident, sample.resident);
    fewest_files = std::min(fewest_files, sample.files);
    most_files = std::max(most_files, sample.files);
  }
  report_figure("soak " + std::string(soak.name) + ": " + std::to_string(cycles) + " polls (" +
                std::to_string(completed) + " completed), resident memory after warm-up " +
                std::to_string(warm.resident >> 10) + " KiB, at most " +
                std::to_string(most_resident >> 10) + " KiB, at the end " +
                std::to_string(samples.back().resident >> 10) + " KiB; open files " +
                std::to_string(warm.files) + " after warm-up, " + std::to_string(fewest_files) +
                ".." + std::to_string(most_files) + " after" +
                (judge_memory ? "" : "; memory not judged on this run"));
  std::string resident_samples;
  for (const Usage& sample : samples) {
    resident_samples += " " + std::to_string(sample.resident >> 10);
  }
  report_figure("soak " + std::string(soak.name) +
                ": resident memory samples (KiB):" + resident_samples);
  EXPECT_EQ(fewest_files, warm.files);
  EXPECT_EQ(most_files, warm.files);
  if (judge_memory) {
    EXPECT_LE(most_resident, warm.resident + kMemorySlack);
  }
}

INSTANTIATE_TEST_SUITE_P(Soaks, Soak, ::testing::ValuesIn(kSoaks),
                         [](const ::testing::TestParamInfo<SoakCase>& info) {
                           return std::string(info.param.name);
                         });

}  // namespace
}  // namespace velmocair::robustness
