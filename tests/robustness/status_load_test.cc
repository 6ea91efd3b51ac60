// Status requests from eight threads, 801 and 803 mixed, as fast as they go,
// while the bus polls the unit as fast as the simulator answers: every text
// parses and shows one cycle, no thread sees an older cycle after a newer
// one, and 803 always hands out the same document. Run under
// ThreadSanitizer by the test command; bounded in time.
#include <gtest/gtest.h>
#include <json/reader.h>

#include <atomic>
#include <cmath>
#include <thread>

#include "tests/robustness/run_scale.h"
#include "tests/robustness/unit_under_test.h"

namespace velmocair::robustness {
namespace {

using std::chrono::milliseconds;

constexpr int kReaders = 8;
constexpr int kStatusText = 801;
constexpr int kStatusReference = 803;
constexpr std::size_t kTextCapacity = 1 << 16;
constexpr milliseconds kFirstPollWait{10000};
constexpr double kTenths = 10.0;

// Members of the status document that show a generation mark.
struct MarkMember {
  const char* group;
  const char* key;
  double scale;  // the document shows the register divided by this
};

// clang-format off
// group           key               scale
constexpr MarkMember kMarkMembers[] = {
    {"系统1状态",   "系统吸气温度值",  kTenths},
    {"系统2状态",   "系统吸气温度值",  kTenths},
    {"室外机1状态", "出水水温",        kTenths},
    {"室外机2状态", "出水水温",        kTenths},
    {"参数设定",    "回风温度设定值",  kTenths},
    {"泵柜1状态",   "氟泵实际转速",    1.0},
    {"泵柜2状态",   "氟泵实际转速",    1.0},
};
// clang-format on

// The generation a status text shows: 0 before the first cycle, -1 when it
// does not parse or its members come from different cycles.
long generation_shown(const std::string& text) {
  if (text == "null\n") {
    return 0;
  }
  Json::Value document;
  if (!Json::Reader().parse(text, document) || !document.isObject()) {
    return -1;
  }
  long generation = -1;
  for (const MarkMember& member : kMarkMembers) {
    const long shown = std::lround(document[member.group][member.key].asDouble() * member.scale);
    if (generation >= 0 && shown != generation) {
      return -1;
    }
    generation = shown;
  }
  return generation;
}

struct ReaderTally {
  long texts = 0;
  long references = 0;
  std::vector<std::string> problems;
};

void read_status(ORBSPDevice& device, int reader, const std::atomic<bool>& running,
                 ReaderTally& tally) {
  std::vector<char> text(kTextCapacity);
  const Json::Value* first_address = nullptr;
  long newest = 0;
  for (long request = 0; running; ++request) {
    int out_len = 0;
    if ((request + reader) % 2 == 0) {
      if (device.DeviceIoControl(kStatusText, nullptr, 0, text.data(),
                                 static_cast<int>(text.size()), out_len) != 0) {
        tally.problems.push_back("801 failed");
        continue;
      }
      const long shown =
          generation_shown(std::string(text.data(), static_cast<std::size_t>(out_len)));
      if (shown < 0 || shown < newest) {
        tally.problems.push_back("801 showed generation " + std::to_string(shown) + " after " +
                                 std::to_string(newest));
      }
      newest = std::max(newest, shown);
      ++tally.texts;
    } else {
      const Json::Value* address = nullptr;
      if (device.DeviceIoControl(kStatusReference, nullptr, 0, &address, sizeof address, out_len) !=
              0 ||
          out_len != static_cast<int>(sizeof address) ||
          (first_address != nullptr && address != first_address)) {
        tally.problems.push_back("803 handed out another address");
      }
      first_address = address;
      ++tally.references;
    }
  }
}

TEST(StatusLoad, EightThreadsOfStatusRequestsWhileTheUnitIsPolledAtFullSpeed) {
  const long seconds = run_scale("VELMOCAIR_LOAD_SECONDS", 2);
  UnitUnderTest unit(UnitSetup{});
  unit.start();
  ASSERT_TRUE(unit.wait_reports(1, kFirstPollWait));
  const int cycles_before = unit.cycles();

  std::atomic<bool> running{true};
  std::vector<ReaderTally> tallies(kReaders);
  std::vector<std::thread> readers;
  for (int reader = 0; reader < kReaders; ++reader) {
    readers.emplace_back(read_status, std::ref(unit.device()), reader, std::cref(running),
                         std::ref(tallies[static_cast<std::size_t>(reader)]));
  }
  std::this_thread::sleep_for(std::chrono::seconds(seconds));
  running = false;
  for (std::thread& reader : readers) {
    reader.join();
  }
  const int cycles = unit.cycles() - cycles_before;
  unit.stop();

  long texts = 0;
  long references = 0;
  for (int reader = 0; reader < kReaders; ++reader) {
    const ReaderTally& tally = tallies[static_cast<std::size_t>(reader)];
    texts += tally.texts;
    references += tally.references;
    EXPECT_TRUE(tally.problems.empty()) << "reader " << reader << ": " << tally.problems.size()
                                        << " problems, first: " << tally.problems.front();
  }
  EXPECT_GT(cycles, 0) << "the unit was polled meanwhile";
  report_figure("load: " + std::to_string(seconds) + " s, " + std::to_string(kReaders) +
                " threads, " + std::to_string(texts) + " texts (801) and " +
                std::to_string(references) + " references (803) while " + std::to_string(cycles) +
                " cycles were polled");
}

}  // namespace
}  // namespace velmocair::robustness
