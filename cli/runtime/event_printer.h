#pragma once

#include <optional>
#include <string>
#include <vector>

#include "cli/runtime/host_event.h"
#include "cli/runtime/host_runtime.h"
#include "cli/runtime/link_diagnosis.h"
#include "cli/runtime/printing.h"

namespace velmocair::cli {

// How a completed cycle is shown.
enum class StatusOutput : unsigned char {
  view,         // the readable view (default on a terminal)
  summary,      // one line (default otherwise)
  status_text,  // the exact text of code 801, one line
};

// Prints the host's events. Data goes to standard output, one write per
// line or view so that lines stay whole beside the plug-in's own lines:
//   a completed cycle as chosen above, the view and the summary with the
//   unit's link statistics;
//   "alarm raised: unit NAME #INDEX TEXT" and "alarm cleared: ...".
// Failed cycles, notices and the diagnosis of failing cycles
// (link_diagnosis.h) go to standard error:
//   "velmocair-host: cycle N unit NAME: REASON",
//   "velmocair-host: unit NAME: likely cause: ...".
class EventPrinter {
 public:
  EventPrinter(HostRuntime& runtime, StatusOutput output);

  void print(const HostEvent& event);
  // Prints whatever is queued, without waiting.
  void print_queued();
  int failed_cycles() const { return failed_cycles_; }

 private:
  void print_cycle(const HostEvent& event);

  void diagnose(const HostEvent& event);

  HostRuntime& runtime_;
  StatusOutput output_;
  int failed_cycles_ = 0;
  std::vector<std::optional<LinkDiagnosis>> diagnoses_;  // by unit; none for a unit on no bus
};

}  // namespace velmocair::cli
