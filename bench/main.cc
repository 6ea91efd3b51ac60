// Runs the benchmarks with the report on the original standard output while
// the device's own diagnostic lines ("rvSize is N" after every completion)
// go to /dev/null, so that they neither flood the report nor cost terminal time.
#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <unistd.h>

#include <cstdio>
#include <fstream>
#include <iostream>
#include <string>

int main(int argc, char** argv) {
  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv)) {
    return 2;
  }
  std::fflush(stdout);
  const int report_fd = dup(STDOUT_FILENO);
  const int null_fd = open("/dev/null", O_WRONLY);
  if (report_fd < 0 || null_fd < 0 || dup2(null_fd, STDOUT_FILENO) < 0) {
    std::perror("plugin_bench: redirecting standard output");
    return 1;
  }
  std::ofstream report("/proc/self/fd/" + std::to_string(report_fd));
  benchmark::ConsoleReporter console(benchmark::ConsoleReporter::OO_Tabular);
  console.SetOutputStream(&report);
  console.SetErrorStream(&std::cerr);
  benchmark::RunSpecifiedBenchmarks(&console);
  benchmark::Shutdown();
  return 0;
}
