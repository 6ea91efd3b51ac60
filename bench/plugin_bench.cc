// The plug-in's own cost per operation, with a host that does nothing.
// Each benchmark reports heap allocations per iteration as "allocs".
#include <benchmark/benchmark.h>
#include <json/writer.h>

#include <cstring>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include "bench/allocation_counter.h"
#include "bench/bench_unit.h"
#include "bench/same_text_writer.h"

namespace {

// Room for the whole status text (about 25 KB), as the host gives it.
constexpr std::size_t kStatusTextCapacity = 1 << 16;

void BM_ProcessPayloadStep(benchmark::State& state) {
  BenchUnit unit;
  const int step = static_cast<int>(state.range(0));
  AllocationsPerIteration allocations(state);
  for (auto _ : state) {
    unit.device.step = step;
    benchmark::DoNotOptimize(unit.device.process_payload(SPModbus::tab_registers, 0));
  }
}
BENCHMARK(BM_ProcessPayloadStep)->DenseRange(11, 29);

void BM_PollCycleReplies(benchmark::State& state) {
  BenchUnit unit;
  AllocationsPerIteration allocations(state);
  for (auto _ : state) {
    unit.device.RefreshStatus();
    for (int reply = 0; reply < BenchUnit::kRepliesPerCycle; ++reply) {
      benchmark::DoNotOptimize(unit.device.process_payload(SPModbus::tab_bits, 0));
    }
  }
}
BENCHMARK(BM_PollCycleReplies);

void BM_RoundDone(benchmark::State& state) {
  BenchUnit unit;
  AllocationsPerIteration allocations(state);
  for (auto _ : state) {
    unit.device.RoundDone();
  }
}
BENCHMARK(BM_RoundDone);

void BM_LoadFromCache(benchmark::State& state) {
  BenchUnit unit;
  const Velmocair_Data_t stored{};
  const auto* bytes = reinterpret_cast<const unsigned char*>(&stored);
  AllocationsPerIteration allocations(state);
  for (auto _ : state) {
    benchmark::DoNotOptimize(unit.device.LoadFromCache(bytes, sizeof stored));
  }
}
BENCHMARK(BM_LoadFromCache);

// Code 801 serialises on every call; with no cycle in between it reuses the
// document.
void BM_StatusText(benchmark::State& state) {
  BenchUnit unit;
  unit.device.RoundDone();
  std::vector<char> out(kStatusTextCapacity);
  int out_len = 0;
  AllocationsPerIteration allocations(state);
  for (auto _ : state) {
    benchmark::DoNotOptimize(unit.device.DeviceIoControl(801, nullptr, 0, out.data(),
                                                         static_cast<int>(out.size()), out_len));
  }
  state.counters["bytes"] = out_len;
}
BENCHMARK(BM_StatusText);

void BM_StatusReference(benchmark::State& state) {
  BenchUnit unit;
  unit.device.RoundDone();
  const Json::Value* document = nullptr;
  int out_len = 0;
  AllocationsPerIteration allocations(state);
  for (auto _ : state) {
    benchmark::DoNotOptimize(
        unit.device.DeviceIoControl(803, nullptr, 0, &document, sizeof document, out_len));
  }
}
BENCHMARK(BM_StatusReference);

// A rebuild alone: code 803 after a new cycle time, which rebuilds the
// document and hands out its address without serialising it.
void BM_RebuildStatusDocument(benchmark::State& state) {
  BenchUnit unit;
  unit.device.RoundDone();
  const Json::Value* document = nullptr;
  int out_len = 0;
  AllocationsPerIteration allocations(state);
  for (auto _ : state) {
    unit.device.status_record_time += boost::posix_time::seconds(1);
    benchmark::DoNotOptimize(
        unit.device.DeviceIoControl(803, nullptr, 0, &document, sizeof document, out_len));
  }
}
BENCHMARK(BM_RebuildStatusDocument);

void BM_ResultQuery(benchmark::State& state) {
  BenchUnit unit;
  std::int32_t result = 0;
  int out_len = 0;
  AllocationsPerIteration allocations(state);
  for (auto _ : state) {
    benchmark::DoNotOptimize(
        unit.device.DeviceIoControl(0, nullptr, 0, &result, sizeof result, out_len));
  }
}
BENCHMARK(BM_ResultQuery);

// All the plug-in does for one unit and cycle: 20 replies, the completion
// with its 149 alarm checks, one rebuild and one 801 text.
void BM_UnitCycle(benchmark::State& state) {
  BenchUnit unit;
  std::vector<char> out(kStatusTextCapacity);
  int out_len = 0;
  AllocationsPerIteration allocations(state);
  for (auto _ : state) {
    unit.device.RefreshStatus();
    for (int reply = 0; reply < BenchUnit::kRepliesPerCycle; ++reply) {
      unit.device.process_payload(SPModbus::tab_bits, 0);
    }
    benchmark::DoNotOptimize(unit.device.DeviceIoControl(801, nullptr, 0, out.data(),
                                                         static_cast<int>(out.size()), out_len));
  }
}
BENCHMARK(BM_UnitCycle);

// A rebuild and an 801 text for each of many units in turn, as a host with
// that many units asks after every round: the documents no longer sit in
// the processor's caches. Each document is built once beforehand, so every
// timed request is a rebuild, not a first build.
void BM_StatusFleet(benchmark::State& state) {
  std::vector<std::unique_ptr<BenchUnit>> fleet(static_cast<std::size_t>(state.range(0)));
  std::vector<char> out(kStatusTextCapacity);
  int out_len = 0;
  for (auto& unit : fleet) {
    unit = std::make_unique<BenchUnit>();
    unit->device.RoundDone();
    unit->device.DeviceIoControl(801, nullptr, 0, out.data(), static_cast<int>(out.size()),
                                 out_len);
  }
  std::size_t next = 0;
  AllocationsPerIteration allocations(state);
  for (auto _ : state) {
    BenchDevice& device = fleet[next]->device;
    next = (next + 1) % fleet.size();
    device.status_record_time += boost::posix_time::seconds(1);
    benchmark::DoNotOptimize(
        device.DeviceIoControl(801, nullptr, 0, out.data(), static_cast<int>(out.size()), out_len));
  }
}
BENCHMARK(BM_StatusFleet)->Arg(1000);

// The status document by address (code 803), rebuilt when a cycle completed.
const Json::Value* status_document(BenchDevice& device) {
  const Json::Value* document = nullptr;
  int out_len = 0;
  device.DeviceIoControl(803, nullptr, 0, &document, sizeof document, out_len);
  return document;
}

// Whether write_same_text writes FastWriter's text for the documents of
// many records of random bytes (every state text, number and alarm form).
bool same_text_as_fast_writer() {
  constexpr int kRecords = 200;
  BenchUnit unit;
  std::mt19937 random(1);
  std::uniform_int_distribution<int> byte(0, 0xFF);
  unsigned char bytes[sizeof(Velmocair_Data_t)];
  std::string text;
  for (int record = 0; record < kRecords; ++record) {
    for (unsigned char& b : bytes) {
      b = static_cast<unsigned char>(byte(random));
    }
    unit.device.LoadFromCache(bytes, sizeof bytes);
    const Json::Value& document = *status_document(unit.device);
    write_same_text(document, text);
    if (text != Json::FastWriter().write(document)) {
      return false;
    }
  }
  return true;
}

// The 801 text as a writer that writes the same bytes without FastWriter's
// temporaries would make it: the request, the serialisation and the copy.
void BM_StatusTextSameBytes(benchmark::State& state) {
  if (!same_text_as_fast_writer()) {
    state.SkipWithError("write_same_text differs from Json::FastWriter");
    return;
  }
  BenchUnit unit;
  unit.device.RoundDone();
  std::vector<char> out(kStatusTextCapacity);
  std::string text;
  AllocationsPerIteration allocations(state);
  for (auto _ : state) {
    write_same_text(*status_document(unit.device), text);
    std::memcpy(out.data(), text.data(), text.size());
    benchmark::DoNotOptimize(out.data());
  }
  state.counters["bytes"] = static_cast<double>(text.size());
}
BENCHMARK(BM_StatusTextSameBytes);

// BM_UnitCycle with that writer in place of FastWriter.
void BM_UnitCycleSameBytes(benchmark::State& state) {
  if (!same_text_as_fast_writer()) {
    state.SkipWithError("write_same_text differs from Json::FastWriter");
    return;
  }
  BenchUnit unit;
  std::vector<char> out(kStatusTextCapacity);
  std::string text;
  AllocationsPerIteration allocations(state);
  for (auto _ : state) {
    unit.device.RefreshStatus();
    for (int reply = 0; reply < BenchUnit::kRepliesPerCycle; ++reply) {
      unit.device.process_payload(SPModbus::tab_bits, 0);
    }
    write_same_text(*status_document(unit.device), text);
    std::memcpy(out.data(), text.data(), text.size());
    benchmark::DoNotOptimize(out.data());
  }
}
BENCHMARK(BM_UnitCycleSameBytes);

// Memory a unit holds: the device object and its status document once built.
void BM_MemoryPerUnit(benchmark::State& state) {
  const auto units = static_cast<std::size_t>(state.range(0));
  double bytes_per_unit = 0;
  for (auto _ : state) {
    const std::int64_t before = live_heap_bytes();
    std::vector<std::unique_ptr<BenchUnit>> fleet;
    for (std::size_t i = 0; i < units; ++i) {
      fleet.push_back(std::make_unique<BenchUnit>());
      fleet.back()->device.RoundDone();
      const Json::Value* document = nullptr;
      int out_len = 0;
      fleet.back()->device.DeviceIoControl(803, nullptr, 0, &document, sizeof document, out_len);
    }
    bytes_per_unit = static_cast<double>(live_heap_bytes() - before) / static_cast<double>(units);
  }
  state.counters["bytes/unit"] = bytes_per_unit;
}
BENCHMARK(BM_MemoryPerUnit)->Arg(1000)->Iterations(3)->Unit(benchmark::kMillisecond);

}  // namespace
