// One bus thread polling the plug-in's device against the simulator, with a
// command arriving in the middle of a cycle: it goes out between two poll
// requests, abandons that cycle, and the unit is polled again in the round.
#include "host/services/bus_worker.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <mutex>
#include <thread>

#include "host/TracingController.h"
#include "simulator/server.h"
#include "tests/support/test_unit.h"

namespace {

namespace sim = velmocair::sim;
using Clock = std::chrono::steady_clock;

constexpr int kRounds = 3;
constexpr int kSetPointCommand = 106;
constexpr std::uint16_t kSetPoint = 25;
constexpr int kResultQuery = 0;
constexpr std::chrono::seconds kGenerousWait{60};

struct Bus {
  explicit Bus(std::chrono::milliseconds interval = std::chrono::milliseconds(0)) {
    sim::ServerOptions options;
    options.tcp_port = 0;
    server = std::make_unique<sim::Server>(options);
    server->start();
    traced = std::make_shared<TracingController>(controller, [this](const Json::Value& call) {
      const std::lock_guard<std::mutex> lock(mutex);
      calls.push_back(call["call"].asString());
      if (on_call) {
        on_call(call);
      }
    });
    device.Init(traced, 9, Json::Value(Json::objectValue));
    sitehost::BusAddress address;
    address.endpoint = {"127.0.0.1", server->tcp_port()};
    worker = std::make_unique<sitehost::BusWorker>(
        std::make_unique<sitehost::ModbusLink>(address,
                                               sitehost::LinkTiming{
    }),
        std::vector<sitehost::BusUnit>{{"unit", &device, controller.get()}},
        sitehost::BusSchedule{kRounds, interval}, [this](const sitehost::CycleReport& report) {
          const std::lock_guard<std::mutex> lock(mutex);
          reports.push_back(report);
          if (on_report) {
            on_report();
          }
        });
  }

  bool wait_for_rounds() {
    const auto deadline = Clock::now() + kGenerousWait;
    while (!worker->rounds_done() && Clock::now() < deadline) {
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return worker->rounds_done();
  }

  std::unique_ptr<sim::Server> server;
  sitehost::Publisher publisher;
  sitehost::ThresholdService thresholds{nullptr};
  std::shared_ptr<sitehost::UnitController> controller = std::make_shared<sitehost::UnitController>(
      sitehost::HostServices{publisher, thresholds, nullptr});
  std::shared_ptr<TracingController> traced;
  VelmocairProbe device;
  std::unique_ptr<sitehost::BusWorker> worker;

  std::mutex mutex;
  std::vector<std::string> calls;
  std::vector<sitehost::CycleReport> reports;
  std::function<void(const Json::Value&)> on_call;
  std::function<void()> on_report;
};

TEST(BusWorker, SendsACommandBetweenPollRequestsAndRepollsTheInterruptedCycle) {
  Bus bus;
  std::future<void> done;
  int write_result = -1;
  sitehost::LinkResult exchanged;
  const sitehost::BusJob command = [&](SPModbus& device, const sitehost::CarryOut& carry_out) {
    std::uint16_t set_point = kSetPoint;
    int out_len = 0;
    device.DeviceIoControl(kSetPointCommand, &set_point, sizeof set_point, nullptr, 0, out_len);
    exchanged = carry_out();
    device.DeviceIoControl(kResultQuery, nullptr, 0, &write_result, sizeof write_result, out_len);
  };
  // Queued from the bus thread itself as the cycle asks for its first
  // registers, so the command lands in the middle of the first cycle.
  bus.on_call = [&](const Json::Value& call) {
    if (call["call"] == "modbus_read_registers" && !done.valid()) {
      done = bus.worker->submit(0, command);
    }
  };
  bus.worker->start();
  ASSERT_TRUE(bus.wait_for_rounds());
  bus.worker->stop();

  ASSERT_TRUE(done.valid());
  done.get();
  EXPECT_TRUE(exchanged.is_ok()) << exchanged.text;
  EXPECT_EQ(write_result, 0) << "the echo confirmed the write";
  EXPECT_EQ(bus.server->registers(1, 3501, 1)[0], kSetPoint * 10);

  ASSERT_EQ(bus.reports.size(), std::size_t{kRounds});
  for (int round = 0; round < kRounds; ++round) {
    EXPECT_TRUE(bus.reports[round].completed)
        << "round " << round + 1 << ": " << bus.reports[round].failure;
    EXPECT_EQ(bus.reports[round].round, round + 1);
  }
  const auto count = [&bus](const char* name) {
    return std::count(bus.calls.begin(), bus.calls.end(), name);
  };
  EXPECT_EQ(count("RefreshStatus"), kRounds + 1) << "the interrupted cycle was polled again";
  EXPECT_EQ(count("SendSP"), kRounds);
  const auto first_registers =
      std::find(bus.calls.begin(), bus.calls.end(), "modbus_read_registers");
  const auto write = std::find(bus.calls.begin(), bus.calls.end(), "modbus_write_register");
  const auto first_publish = std::find(bus.calls.begin(), bus.calls.end(), "SendSP");
  EXPECT_LT(first_registers, write);
  EXPECT_LT(write, first_publish) << "the write went out inside the first round";
}

TEST(BusWorker, StartsTheNextRoundWhenAskedWithoutWaitingForTheInterval) {
  // A day between rounds: the rounds after the first come only when asked.
  Bus bus(std::chrono::hours(24));
  bus.on_report = [&bus] { bus.worker->poll_at(Clock::now()); };
  bus.worker->start();
  ASSERT_TRUE(bus.wait_for_rounds());
  bus.worker->stop();
  ASSERT_EQ(bus.reports.size(), std::size_t{kRounds});
  EXPECT_TRUE(bus.reports.back().completed) << bus.reports.back().failure;
}

TEST(BusWorker, BreaksTheFutureOfAJobItNeverRan) {
  Bus bus;
  std::future<void> never = bus.worker->submit(0, [](SPModbus&, const sitehost::CarryOut&) {});
  bus.worker->stop();
  EXPECT_THROW(never.get(), std::future_error);
  std::future<void> nowhere = bus.worker->submit(1, [](SPModbus&, const sitehost::CarryOut&) {});
  EXPECT_THROW(nowhere.get(), std::out_of_range);
}

}  // namespace
