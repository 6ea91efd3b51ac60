// The MQTT bridge's cost: on the bus thread per completed cycle (the
// document reduced to its values and handed over), the status document it
// writes, and rounds of 1,000 units published to Debian's mosquitto on
// loopback, with a subscriber in a process of its own counting the
// documents: process CPU per unit-cycle, the time a round takes to reach
// the subscriber, and heap per unit. The benchmark starts and stops the
// broker and the subscriber itself.
#include <benchmark/benchmark.h>
#include <mosquitto.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdlib>
#include <ctime>
#include <mutex>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include "bench/allocation_counter.h"
#include "bench/bench_unit.h"
#include "cli/mqtt/gateway.h"
#include "cli/mqtt/unit_values.h"
#include "tests/mqtt/broker_process.h"
#include "tests/support/child_process.h"

namespace {

using namespace velmocair;
using Clock = std::chrono::steady_clock;

constexpr std::size_t kFleet = 1000;
// Documents rotated through the rounds, each with other values in a few
// members, as a unit's cycles differ in a few readings.
constexpr std::size_t kDocuments = 8;
constexpr std::size_t kChangedMembers = 5;
constexpr std::uint16_t kFirstReading = 200;
constexpr auto kLimit = std::chrono::seconds(120);
constexpr double kMicrosecondsPerSecond = 1e6;
constexpr double kMillisecondsPerSecond = 1e3;

double process_cpu_seconds() {
  timespec now{};
  clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &now);
  return static_cast<double>(now.tv_sec) + static_cast<double>(now.tv_nsec) / 1e9;
}

using testing::BrokerProcess;
using Broker = BrokerProcess;

// A subscriber that exits once it has received `count` live documents.
class DocumentCounter {
 public:
  DocumentCounter(const testing::ScratchFolder& folder, int port, std::size_t count)
      : output_(folder.path("subscriber.out")),
        process_({"mosquitto_sub", "-h", "127.0.0.1", "-p", std::to_string(port), "-t",
                  "velmocair/+/document", "-q", "1", "-R", "-d", "-F", "%t", "-C",
                  std::to_string(count)},
                 output_, folder.path("subscriber.err"), testing::Runs::on_machine) {
    const auto deadline = Clock::now() + kLimit;
    while (testing::read_file(output_).find("Subscribed") == std::string::npos) {
      if (Clock::now() > deadline) {
        throw std::runtime_error("the subscriber did not subscribe");
      }
      std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
  }
  bool received_all() { return process_.wait(kLimit) == 0; }

 private:
  std::string output_;
  testing::ChildProcess process_;
};

// Documents the plug-in builds from records that differ in `changing`
// readings.
std::vector<Json::Value> plugin_documents(std::size_t changing = kChangedMembers) {
  std::vector<Json::Value> documents;
  BenchUnit unit;
  for (std::size_t k = 0; k < kDocuments; ++k) {
    std::vector<unsigned char> record(sizeof(Velmocair_Data_t), 0);
    std::size_t changed = 0;
    for (std::size_t member = 0; member < mqtt::kMemberCount && changed < changing; ++member) {
      const status::Member& row = mqtt::document_member(member);
      if (row.rule == status::Rule::number) {
        const auto reading = static_cast<std::uint16_t>(kFirstReading + k);
        record[row.offset.value] = static_cast<unsigned char>(reading & 0xFF);
        record[row.offset.value + 1] = static_cast<unsigned char>(reading >> 8);
        ++changed;
      }
    }
    unit.device.LoadFromCache(record.data(), static_cast<int>(record.size()));
    Json::Value* document = nullptr;
    int length = 0;
    unit.device.DeviceIoControl(803, nullptr, 0, &document, sizeof document, length);
    documents.push_back(*document);
  }
  return documents;
}

mqtt::GatewayOptions fleet_options(const std::string& url) {
  mqtt::GatewayOptions options;
  options.broker = mqtt::parse_broker_url(url, "URL");
  options.read_only = true;
  for (std::size_t i = 0; i < kFleet; ++i) {
    options.units.push_back({"crac-" + std::to_string(i + 1), static_cast<std::uint32_t>(i + 1)});
  }
  return options;
}

// Waits until the gateway has handed over all it had and the broker
// confirmed it: its counts stand still for a moment with nothing
// unconfirmed.
void wait_settled(const mqtt::Gateway& gateway) {
  std::uint64_t published = gateway.counts().published;
  const auto deadline = Clock::now() + kLimit;
  while (Clock::now() < deadline) {
    std::this_thread::sleep_for(std::chrono::milliseconds(200));
    const mqtt::GatewayCounts counts = gateway.counts();
    if (counts.published == published && counts.unconfirmed == 0 && counts.connections > 0) {
      return;
    }
    published = counts.published;
  }
  throw std::runtime_error("the gateway did not settle");
}

// One round: every unit's next cycle, its time stamp one second on.
void feed_round(mqtt::Gateway& gateway, std::vector<Json::Value>& documents, int round) {
  Json::Value& document = documents[static_cast<std::size_t>(round) % documents.size()];
  document[status::kUpdateTime] = mqtt::document_time_text(
      mqtt::RecordTime(boost::gregorian::date(2026, 12, 8), boost::posix_time::seconds(round)));
  for (std::size_t unit = 0; unit < kFleet; ++unit) {
    gateway.cycle_completed(unit, document, {});
  }
}

void BM_ExtractValues(benchmark::State& state) {
  const std::vector<Json::Value> documents = plugin_documents();
  for (auto _ : state) {
    benchmark::DoNotOptimize(mqtt::extract_values(documents[0]));
  }
}
BENCHMARK(BM_ExtractValues);

void BM_DocumentText(benchmark::State& state) {
  const mqtt::UnitValues values = mqtt::extract_values(plugin_documents()[0]);
  const mqtt::RecordTime time(boost::gregorian::date(2026, 12, 8));
  for (auto _ : state) {
    benchmark::DoNotOptimize(mqtt::document_text(values, time));
  }
}
BENCHMARK(BM_DocumentText);

// What a bus thread spends on a completed cycle: the call alone.
void BM_CycleCompletedCall(benchmark::State& state) {
  const Broker broker;
  std::vector<Json::Value> documents = plugin_documents();
  mqtt::Gateway gateway(fleet_options(broker.url()));
  gateway.start();
  wait_settled(gateway);
  int round = 0;
  for (auto _ : state) {
    state.PauseTiming();
    Json::Value& document = documents[static_cast<std::size_t>(round) % documents.size()];
    document[status::kUpdateTime] = mqtt::document_time_text(
        mqtt::RecordTime(boost::gregorian::date(2026, 12, 8), boost::posix_time::seconds(round)));
    ++round;
    state.ResumeTiming();
    gateway.cycle_completed(static_cast<std::size_t>(round) % kFleet, document, {});
  }
}
BENCHMARK(BM_CycleCompletedCall);

// Rounds of all 1,000 units, each unit's cycle differing from its last in
// the argument's number of readings: process CPU per unit-cycle (this
// thread, the gateway's and the network thread), and the time from the
// first cycle of a round to the subscriber's having every unit's document.
void BM_FleetRound(benchmark::State& state) {
  const Broker broker;
  const testing::ScratchFolder folder;
  std::vector<Json::Value> documents = plugin_documents(static_cast<std::size_t>(state.range(0)));
  mqtt::Gateway gateway(fleet_options(broker.url()));
  gateway.start();
  wait_settled(gateway);  // the discovery of 1,000 devices
  feed_round(gateway, documents, 0);
  wait_settled(gateway);
  int round = 1;
  double cpu = 0;
  double wall = 0;
  for (auto _ : state) {
    DocumentCounter subscriber(folder, broker.port(), kFleet);
    const double cpu_start = process_cpu_seconds();
    const auto start = Clock::now();
    feed_round(gateway, documents, round++);
    if (!subscriber.received_all()) {
      state.SkipWithError("the subscriber did not receive every document");
      return;
    }
    const std::chrono::duration<double> took = Clock::now() - start;
    wall += took.count();
    wait_settled(gateway);
    cpu += process_cpu_seconds() - cpu_start;
    state.SetIterationTime(took.count());
  }
  const auto rounds = static_cast<double>(state.iterations());
  state.counters["cpu_us/unit-cycle"] =
      cpu / rounds / static_cast<double>(kFleet) * kMicrosecondsPerSecond;
  state.counters["round_ms"] = wall / rounds * kMillisecondsPerSecond;
  state.counters["dropped"] = static_cast<double>(gateway.counts().dropped);
}
BENCHMARK(BM_FleetRound)
    ->Arg(0)
    ->Arg(kChangedMembers)
    ->UseManualTime()
    ->Iterations(10)
    ->Unit(benchmark::kMillisecond);

// The floor the library sets: one client of its own (libmosquitto's
// network thread) publishing messages of the argument's size and QoS, at
// most 64 unconfirmed, as fast as they are confirmed. Process CPU per
// message.
void BM_LibraryPublish(benchmark::State& state) {
  const Broker broker;
  const auto size = static_cast<std::size_t>(state.range(0));
  const auto qos = static_cast<int>(state.range(1));
  constexpr long kMessages = 20000;
  constexpr long kWindow = 64;
  struct Confirmations {
    std::mutex mutex;
    std::condition_variable changed;
    long count = 0;
  } confirmations;
  mosquitto_lib_init();
  mosquitto* client = mosquitto_new(nullptr, true, &confirmations);
  mosquitto_publish_callback_set(client, [](mosquitto*, void* self, int) {
    auto& counted = *static_cast<Confirmations*>(self);
    {
      const std::lock_guard<std::mutex> lock(counted.mutex);
      ++counted.count;
    }
    counted.changed.notify_one();
  });
  mosquitto_connect(client, "127.0.0.1", broker.port(), 30);
  mosquitto_loop_start(client);
  const std::string payload(size, 'x');
  const auto wait_for = [&](long count) {
    std::unique_lock<std::mutex> lock(confirmations.mutex);
    confirmations.changed.wait(lock, [&] { return confirmations.count >= count; });
  };
  double cpu = 0;
  for (auto _ : state) {
    const long start = confirmations.count;
    const double cpu_start = process_cpu_seconds();
    for (long i = 0; i < kMessages; ++i) {
      wait_for(start + i - kWindow + 1);
      const std::string topic = "velmocair/crac-" + std::to_string(i % kFleet) + "/document";
      mosquitto_publish(client, nullptr, topic.c_str(), static_cast<int>(size), payload.data(), qos,
                        true);
    }
    wait_for(start + kMessages);
    cpu += process_cpu_seconds() - cpu_start;
  }
  mosquitto_disconnect(client);
  mosquitto_loop_stop(client, false);
  mosquitto_destroy(client);
  state.counters["cpu_us/message"] =
      cpu / static_cast<double>(state.iterations() * kMessages) * kMicrosecondsPerSecond;
}
BENCHMARK(BM_LibraryPublish)
    ->Args({100, 0})
    ->Args({100, 1})
    ->Args({14000, 0})
    ->Args({14000, 1})
    ->Iterations(1)
    ->Unit(benchmark::kMillisecond);

// Heap the bridge holds per unit once every unit has been published (the
// gateway with its client, less the documents it was fed), and the most it
// held at any moment from its start, discovery included.
void BM_MemoryPerUnit(benchmark::State& state) {
  const Broker broker;
  std::vector<Json::Value> documents = plugin_documents();
  double held = 0;
  double peak = 0;
  for (auto _ : state) {
    const std::int64_t before = live_heap_bytes();
    std::atomic<bool> sampling{true};
    std::atomic<std::int64_t> most{0};
    std::thread sampler([&] {
      while (sampling) {
        most = std::max(most.load(), live_heap_bytes() - before);
        std::this_thread::sleep_for(std::chrono::microseconds(200));
      }
    });
    {
      mqtt::Gateway gateway(fleet_options(broker.url()));
      gateway.start();
      wait_settled(gateway);
      for (int round = 1; round <= 3; ++round) {
        feed_round(gateway, documents, round);
      }
      wait_settled(gateway);
      held = static_cast<double>(live_heap_bytes() - before) / static_cast<double>(kFleet);
    }
    sampling = false;
    sampler.join();
    peak = static_cast<double>(most.load()) / static_cast<double>(kFleet);
  }
  state.counters["held_bytes/unit"] = held;
  state.counters["peak_bytes/unit"] = peak;
}
BENCHMARK(BM_MemoryPerUnit)->Iterations(1)->Unit(benchmark::kMillisecond);

}  // namespace
