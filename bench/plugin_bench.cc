// The plug-in's own cost per operation, with a host that does nothing.
// Each benchmark reports heap allocations per iteration as "allocs".
#include <benchmark/benchmark.h>

#include <memory>

#include "bench/allocation_counter.h"
#include "bench/bench_unit.h"

namespace {

// Counts the allocations of the timed loop and reports them per iteration.
class AllocationsPerIteration {
 public:
  explicit AllocationsPerIteration(benchmark::State& state)
      : state_(state), start_(allocations_so_far()) {}
  ~AllocationsPerIteration() {
    state_.counters["allocs"] = benchmark::Counter(
        static_cast<double>(allocations_so_far() - start_), benchmark::Counter::kAvgIterations);
  }

 private:
  benchmark::State& state_;
  std::uint64_t start_;
};

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

}  // namespace
