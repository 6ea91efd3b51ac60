#pragma once

#include <string>

#include "cli/host_event.h"
#include "cli/host_runtime.h"

namespace velmocair::cli {

// How a completed cycle is shown.
enum class StatusOutput : unsigned char {
  view,         // the readable view (default on a terminal)
  summary,      // one line (default otherwise)
  status_text,  // the exact text of code 801, one line
};

// Prints the host's events. Data goes to standard output, one write per
// line or view so that lines stay whole beside the plug-in's own lines:
//   a completed cycle as chosen above;
//   "alarm raised: unit NAME #INDEX TEXT" and "alarm cleared: ...".
// Failed cycles and notices go to standard error:
//   "velmocair-host: cycle N unit NAME: REASON".
class EventPrinter {
 public:
  EventPrinter(HostRuntime& runtime, StatusOutput output) : runtime_(runtime), output_(output) {}

  void print(const HostEvent& event);
  // Prints whatever is queued, without waiting.
  void print_queued();
  int failed_cycles() const { return failed_cycles_; }

 private:
  void print_cycle(const HostEvent& event);

  HostRuntime& runtime_;
  StatusOutput output_;
  int failed_cycles_ = 0;
};

// Prints a line (or lines) to standard output or error in one write.
void print_out(const std::string& text);
void print_error(const std::string& line);

}  // namespace velmocair::cli
