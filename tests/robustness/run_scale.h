#pragma once

#include <cstdlib>
#include <iostream>
#include <string>

namespace velmocair::robustness {

// A size of a run: the bounded value the test command uses, or the value of
// the environment variable `name` for a long run (scripts/robustness).
inline long run_scale(const char* name, long bounded) {
  const char* given = std::getenv(name);
  if (given == nullptr || *given == '\0') {
    return bounded;
  }
  const long value = std::strtol(given, nullptr, 10);
  return value > 0 ? value : bounded;
}

// One measured figure, on a line of its own that scripts/robustness collects.
inline void report_figure(const std::string& text) {
  std::cout << "figure: " << text << "\n" << std::flush;
}

}  // namespace velmocair::robustness
