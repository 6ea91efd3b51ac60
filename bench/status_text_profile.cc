// status-text-profile [REQUESTS]: makes REQUESTS (default 100) status text
// requests (code 801) of one device whose document is built, so that a
// profiler run over Velmocair::ReadStatusText sees the serialisation alone,
// a fixed number of times.
#include <cstdlib>
#include <vector>

#include "bench/bench_unit.h"

namespace {
constexpr int kDefaultRequests = 100;
constexpr std::size_t kStatusTextCapacity = 1 << 16;
}  // namespace

int main(int argc, char** argv) {
  const int requests = argc > 1 ? std::atoi(argv[1]) : kDefaultRequests;
  BenchUnit unit;
  unit.device.RoundDone();
  const Json::Value* document = nullptr;
  int out_len = 0;
  unit.device.DeviceIoControl(803, nullptr, 0, &document, sizeof document, out_len);
  std::vector<char> out(kStatusTextCapacity);
  int failed = 0;
  for (int request = 0; request < requests; ++request) {
    failed += unit.device.DeviceIoControl(801, nullptr, 0, out.data(), static_cast<int>(out.size()),
                                          out_len) != 0;
  }
  return failed == 0 ? 0 : 1;
}
