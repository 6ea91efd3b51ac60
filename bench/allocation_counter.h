#pragma once

#include <benchmark/benchmark.h>

#include <cstdint>

// Heap use of this process. The benchmark binary replaces malloc, calloc,
// realloc, the aligned allocators and free (which the global operator new
// and delete reach), so that it counts the allocations of C++ code and of C
// code alike: jsoncpp keeps every string value in a block of its own from
// malloc.
std::uint64_t allocations_so_far();
std::int64_t live_heap_bytes();

// Counts the allocations of the timed loop and reports them per iteration
// as "allocs".
class AllocationsPerIteration {
 public:
  explicit AllocationsPerIteration(benchmark::State& state)
      : state_(state), start_(allocations_so_far()) {}
  ~AllocationsPerIteration() {
    state_.counters["allocs"] = benchmark::Counter(
        static_cast<double>(allocations_so_far() - start_), benchmark::Counter::kAvgIterations);
  }
  AllocationsPerIteration(const AllocationsPerIteration&) = delete;
  AllocationsPerIteration& operator=(const AllocationsPerIteration&) = delete;

 private:
  benchmark::State& state_;
  std::uint64_t start_;
};
