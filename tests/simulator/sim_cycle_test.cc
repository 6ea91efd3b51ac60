// Cycles as the simulated unit counts them: scenario timelines, generation
// marks, several unit addresses and wire pacing, over TCP and RTU.
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdio>
#include <fstream>
#include <thread>

#include "simulator/pacing.h"
#include "tests/simulator/sim_master.h"

namespace velmocair::sim {
namespace {

using testing::Master;
using Words = std::vector<std::uint16_t>;

constexpr int kSmokeAlarm = 8022;
constexpr int kSmokeAlarmIndex = kSmokeAlarm - 8001;  // in the coils read from 8001

// A scenario file that lives as long as the object.
class ScenarioFile {
 public:
  explicit ScenarioFile(const std::string& text)
      : path_(::testing::TempDir() + "scenario-" + std::to_string(::getpid()) + "-" +
              std::to_string(counter_++) + ".json") {
    std::ofstream(path_) << text;
  }
  ~ScenarioFile() { std::remove(path_.c_str()); }
  const std::string& path() const { return path_; }

 private:
  static inline int counter_ = 0;
  std::string path_;
};

class SimCycle : public ::testing::TestWithParam<Transport> {};

INSTANTIATE_TEST_SUITE_P(Transports, SimCycle, ::testing::Values(Transport::tcp, Transport::rtu),
                         testing::TransportName());

TEST_P(SimCycle, TheTimelineRaisesAndClearsACoilByCycle) {
  const ScenarioFile scenario(R"({"units": [{"unit_id": 1,
      "coils": {"8043": 1}, "registers": {"8022": 261},
      "timeline": [{"cycle": 3, "coils": {"8022": true}},
                   {"cycle": 5, "coils": {"8022": 0}, "registers": {"8022": 255}}]}]})");
  ServerOptions options = testing::options_on(GetParam());
  options.scenario_path = scenario.path();
  Server server(options);
  server.start();
  Master master(GetParam(), server, 1);
  std::vector<std::uint8_t> initial;
  ASSERT_EQ(master.read_coils(8043, 1, &initial).rc, 1);
  EXPECT_EQ(initial, std::vector<std::uint8_t>{1}) << "initial coil 8043";
  for (int cycle = 1; cycle <= 6; ++cycle) {
    const Master::Cycle read = master.poll_cycle();
    ASSERT_EQ(read.completed, 20) << "cycle " << cycle;
    const bool raised = cycle >= 3 && cycle < 5;
    EXPECT_EQ(read.coils_8001[kSmokeAlarmIndex], raised ? 1 : 0) << "cycle " << cycle;
    EXPECT_EQ(server.registers(1, 8022, 1),
              Words{static_cast<std::uint16_t>(cycle < 5 ? 261 : 255)})
        << "cycle " << cycle;
    EXPECT_EQ(server.cycles(1), cycle);
  }
}

TEST_P(SimCycle, ARampMovesARegisterToItsValueInEqualStepsFromItsCycle) {
  const ScenarioFile scenario(R"({"units": [{"unit_id": 1, "registers": {"8005": 253},
      "timeline": [{"cycle": 2, "ramps": {"8005": {"to": 243, "cycles": 5}}},
                   {"cycle": 4, "ramps": {"3501": {"to": 250, "cycles": 1}}}]}]})");
  ServerOptions options = testing::options_on(GetParam());
  options.scenario_path = scenario.path();
  Server server(options);
  server.start();
  Master master(GetParam(), server, 1);
  // cycle:                  1    2    3    4    5    6    7    8
  const int return_air[] = {253, 253, 251, 249, 247, 245, 243, 243};
  const int set_point[] = {240, 240, 240, 240, 250, 250, 250, 250};
  for (int cycle = 1; cycle <= 8; ++cycle) {
    ASSERT_EQ(master.poll_cycle().completed, 20) << "cycle " << cycle;
    EXPECT_EQ(server.registers(1, 8005, 1),
              Words{static_cast<std::uint16_t>(return_air[cycle - 1])})
        << "cycle " << cycle;
    EXPECT_EQ(server.registers(1, 3501, 1), Words{static_cast<std::uint16_t>(set_point[cycle - 1])})
        << "cycle " << cycle;
  }
}

TEST_P(SimCycle, GenerationMarksMakeEveryBlockOfACycleCarryItsNumber) {
  ServerOptions options = testing::options_on(GetParam());
  options.mark_generations = true;
  Server server(options);
  server.start();
  Master master(GetParam(), server, 1);
  ASSERT_EQ(master.write_register(3501, 230).rc, 1);
  EXPECT_EQ(server.registers(1, 3501, 1), Words{0}) << "the mark overrides the set-point";
  for (int cycle = 1; cycle <= 3; ++cycle) {
    const Master::Cycle read = master.poll_cycle();
    ASSERT_EQ(read.completed, 20);
    EXPECT_EQ(read.first_words, Words(8, static_cast<std::uint16_t>(cycle))) << "cycle " << cycle;
  }
  Words not_a_cycle_start;
  ASSERT_EQ(master.read_coils(8033, 8).rc, 8);
  ASSERT_EQ(master.read_registers(8501, 1, &not_a_cycle_start).rc, 1);
  EXPECT_EQ(not_a_cycle_start, Words{3}) << "only a read of coils from 8001 starts a cycle";

  Server unmarked(testing::options_on(GetParam()));
  unmarked.start();
  Master plain(GetParam(), unmarked, 1);
  const Master::Cycle read = plain.poll_cycle();
  ASSERT_EQ(read.completed, 20);
  EXPECT_EQ(read.first_words[5], 240) << "without marks 3501 holds the set-point";
}

TEST_P(SimCycle, UnitAddressesKeepTheirOwnDataAndCyclesAndOthersGetNoReply) {
  const ScenarioFile scenario(R"({"units": [{"unit_id": 7, "registers": {"3504": 450}}]})");
  ServerOptions options = testing::options_on(GetParam());
  options.unit_ids = {2, 7};
  options.scenario_path = scenario.path();
  Server server(options);
  server.start();
  Master two(GetParam(), server, 2);
  Master seven(GetParam(), server, 7);
  ASSERT_EQ(two.write_register(3501, 210).rc, 1);
  ASSERT_EQ(two.poll_cycle().completed, 20);
  ASSERT_EQ(two.poll_cycle().completed, 20);
  ASSERT_EQ(seven.poll_cycle().completed, 20);
  Words two_settings;
  Words seven_settings;
  ASSERT_EQ(two.read_registers(3501, 4, &two_settings).rc, 4);
  ASSERT_EQ(seven.read_registers(3501, 4, &seven_settings).rc, 4);
  EXPECT_EQ(two_settings, (Words{210, 180, 240, 500}));
  EXPECT_EQ(seven_settings, (Words{240, 180, 240, 450}));
  EXPECT_EQ(server.cycles(2), 2);
  EXPECT_EQ(server.cycles(7), 1);

  const std::uint64_t served = server.requests();
  Master stranger(GetParam(), server, 1, std::chrono::milliseconds(200));
  EXPECT_EQ(stranger.read_coils(8001, 32).error, ETIMEDOUT) << "unit 1 is not served";
  EXPECT_EQ(server.requests(), served);
  EXPECT_THROW(server.cycles(1), std::out_of_range);
}

TEST(SimCycleTcp, MastersOnSeveralConnectionsShareAUnit) {
  constexpr int kMasters = 4;
  constexpr int kCycles = 5;
  ServerOptions options = testing::options_on(Transport::tcp);
  options.mark_generations = true;
  Server server(options);
  server.start();
  std::vector<int> completed(kMasters, 0);
  std::vector<std::thread> masters;
  for (int m = 0; m < kMasters; ++m) {
    masters.emplace_back([&, m] {
      Master master(Transport::tcp, server, 1);
      for (int cycle = 0; cycle < kCycles; ++cycle) {
        completed[m] += master.poll_cycle().completed == 20 ? 1 : 0;
        master.write_register(3504, 400 + m);
      }
    });
  }
  for (std::thread& master : masters) {
    master.join();
  }
  EXPECT_EQ(completed, std::vector<int>(kMasters, kCycles));
  EXPECT_EQ(server.cycles(1), kMasters * kCycles);
}

TEST_P(SimCycle, PacingHoldsACycleToAtLeastItsWireTime) {
  constexpr int kBaud = 38400;
  ServerOptions options = testing::options_on(GetParam());
  options.pace_baud = kBaud;
  Server server(options);
  server.start();
  Master master(GetParam(), server, 1);
  // One cycle on its own: its 40 frames are separated by 39 silences.
  const auto floor = std::chrono::nanoseconds(poll_cycle_span_nanoseconds(kBaud));
  const auto begin = std::chrono::steady_clock::now();
  ASSERT_EQ(master.poll_cycle().completed, 20);
  EXPECT_GE(std::chrono::steady_clock::now() - begin, floor) << "a lower bound, not a speed";
}

}  // namespace
}  // namespace velmocair::sim
