// The host's threshold service: a round of every unit's 149 alarm checks
// with no state changing (the common case), and the heap the remembered
// states take per unit.
#include <benchmark/benchmark.h>
#include <malloc.h>

#include <string>
#include <vector>

#include "host/services/threshold_service.h"

namespace {

constexpr unsigned short kChecksPerUnit = 149;
constexpr int kBooleanCheck = 2;

void check_round(sitehost::ThresholdService& service, std::uint32_t units,
                 std::vector<rule_value>& pending) {
  static const std::string signal_id = "12017";
  static const std::string text = "告警";
  for (std::uint32_t unit = 1; unit <= units; ++unit) {
    for (unsigned short index = 1; index <= kChecksPerUnit; ++index) {
      service.check_bool(unit, kBooleanCheck, signal_id, text, false, index, pending);
    }
  }
}

void BM_ThresholdRound(benchmark::State& state) {
  const auto units = static_cast<std::uint32_t>(state.range(0));
  std::vector<rule_value> pending;
  const std::size_t before = mallinfo2().uordblks;
  sitehost::ThresholdService service(nullptr);
  check_round(service, units, pending);
  const std::size_t after = mallinfo2().uordblks;
  for (auto _ : state) {
    check_round(service, units, pending);
  }
  state.counters["bytes/unit"] = static_cast<double>(after - before) / units;
  state.counters["checks/s"] =
      benchmark::Counter(static_cast<double>(state.iterations()) * units * kChecksPerUnit,
                         benchmark::Counter::kIsRate);
}
BENCHMARK(BM_ThresholdRound)->Arg(1000)->Unit(benchmark::kMillisecond);

}  // namespace
