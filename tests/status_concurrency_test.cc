// Status requests on several threads while another thread completes poll
// cycles and loads records from the cache: every text is a whole document of
// one completed record. Run under ThreadSanitizer by the test command.
#include <gtest/gtest.h>
#include <json/reader.h>

#include <array>
#include <atomic>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "tests/support/test_unit.h"

namespace {

using boost::posix_time::ptime;
using boost::posix_time::seconds;

constexpr int kCycles = 40;
constexpr int kTextReaders = 2;
constexpr int kReferenceReaders = 1;

// Words every completion sets to its cycle number: "电源电压", "送风温度" and
// pump cabinet 2's "氟泵累计运行时间".
constexpr std::size_t kVoltageOffset = 105;
constexpr std::size_t kSupplyTemperatureOffset = 83;
constexpr std::size_t kPumpHoursOffset = 432;

std::string time_text(const ptime& time) {
  std::ostringstream text;
  text << static_cast<int>(time.date().year()) << '-' << static_cast<int>(time.date().month())
       << '-' << time.date().day() << ' ' << time.time_of_day().hours() << ':'
       << time.time_of_day().minutes() << ':' << time.time_of_day().seconds();
  return text.str();
}

std::array<unsigned char, sizeof(Velmocair_Data_t)> record_of_cycle(int cycle) {
  std::array<unsigned char, sizeof(Velmocair_Data_t)> record{};
  for (const std::size_t offset : {kVoltageOffset, kSupplyTemperatureOffset, kPumpHoursOffset}) {
    record[offset] = static_cast<unsigned char>(cycle & 0xFF);
    record[offset + 1] = static_cast<unsigned char>(cycle >> 8);
  }
  return record;
}

// Empty when `text` is the document of one completed cycle, else what is
// wrong with it.
std::string check_text(const std::string& text, const ptime& start) {
  if (text == "null\n") {
    return {};  // no cycle completed yet
  }
  Json::Value document;
  if (!Json::Reader().parse(text, document) || !document.isObject()) {
    return "not a JSON object: " + text;
  }
  const Json::Value& indoor = document["室内机组状态"];
  const int cycle = static_cast<int>(indoor["电源电压"].asDouble());
  if (cycle < 1 || cycle > kCycles) {
    return "cycle out of range: " + std::to_string(cycle);
  }
  if (document["更新时间"].asString() != time_text(start + seconds(cycle))) {
    return "time " + document["更新时间"].asString() + " with cycle " + std::to_string(cycle);
  }
  if (document["泵柜2状态"]["氟泵累计运行时间"].asDouble() != cycle ||
      indoor["送风温度"].asDouble() != static_cast<float>(cycle) / 10.0f) {
    return "values of two cycles in one text, cycle " + std::to_string(cycle);
  }
  return {};
}

TEST(StatusConcurrency, RequestsWhileCyclesCompleteSeeWholeDocuments) {
  TestUnit unit;
  const ptime start = unit.now;
  std::atomic<bool> polling{true};

  std::thread poller([&] {
    for (int cycle = 1; cycle <= kCycles; ++cycle) {
      unit.now = start + seconds(cycle);
      if (cycle % 3 == 0) {
        const auto record = record_of_cycle(cycle);
        unit.device.LoadFromCache(record.data(), static_cast<int>(record.size()));
      } else {
        unit.run_cycle(static_cast<unsigned char>(cycle % 2), static_cast<std::uint16_t>(cycle));
      }
    }
    polling = false;
  });

  std::vector<std::vector<std::string>> problems(kTextReaders + kReferenceReaders);
  std::vector<std::thread> readers;
  for (int r = 0; r < kTextReaders; ++r) {
    readers.emplace_back([&, r] {
      std::vector<char> out(1 << 20);
      do {
        int out_len = 0;
        if (unit.device.DeviceIoControl(801, nullptr, 0, out.data(), static_cast<int>(out.size()),
                                        out_len) != 0) {
          problems[r].push_back("801 failed");
          continue;
        }
        const std::string problem =
            check_text(std::string(out.data(), static_cast<std::size_t>(out_len)), start);
        if (!problem.empty()) {
          problems[r].push_back(problem);
        }
      } while (polling);
    });
  }
  const Json::Value* const document = &unit.device.status_doc;
  for (int r = kTextReaders; r < kTextReaders + kReferenceReaders; ++r) {
    readers.emplace_back([&, r] {
      do {
        const Json::Value* address = nullptr;
        int out_len = 0;
        if (unit.device.DeviceIoControl(803, nullptr, 0, &address, sizeof address, out_len) != 0 ||
            address != document || out_len != static_cast<int>(sizeof address)) {
          problems[r].push_back("803 handed out something else");
        }
      } while (polling);
    });
  }

  poller.join();
  for (std::thread& reader : readers) {
    reader.join();
  }
  for (std::size_t r = 0; r < problems.size(); ++r) {
    EXPECT_TRUE(problems[r].empty())
        << "reader " << r << ": " << problems[r].size()
        << " problems, first: " << (problems[r].empty() ? "" : problems[r].front());
  }

  // After the last completion the document shows the last cycle.
  std::vector<char> out(1 << 20);
  int out_len = 0;
  ASSERT_EQ(unit.device.DeviceIoControl(801, nullptr, 0, out.data(), static_cast<int>(out.size()),
                                        out_len),
            0);
  const std::string last(out.data(), static_cast<std::size_t>(out_len));
  EXPECT_EQ(check_text(last, start), "");
  Json::Value parsed;
  ASSERT_TRUE(Json::Reader().parse(last, parsed));
  EXPECT_EQ(parsed["室内机组状态"]["电源电压"].asDouble(), kCycles);
}

}  // namespace
