#pragma once

#include <array>
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <utility>

#include "host/services/bus_address.h"
#include "host/services/link_counters.h"

namespace velmocair::cli {

// What one failed cycle met, from the unit's counts over it: the evidence
// the causes (diagnosis_table.h) are told by.
struct CycleEvidence {
  std::uint64_t timeouts = 0;
  std::uint64_t broken_frames = 0;
  std::uint64_t open_failures = 0;
  std::uint64_t connection_losses = 0;
  std::map<unsigned, std::uint64_t> exceptions;  // by code
  std::uint64_t late_replies = 0;
  // Not differences: the most a reply came late by so far, the time-out.
  std::chrono::microseconds most_late{0};
  std::chrono::milliseconds response_timeout{0};
};

enum class Cause : unsigned char {
  endpoint,         // TCP: connections refused or dropped
  serial_device,    // the serial device cannot be opened
  gateway,          // exceptions 0A, 0B: a gateway answers, the unit behind it does not
  refused_map,      // exceptions 01, 02, 03: the unit refuses this map's addresses
  unit_fault,       // other exception codes
  late_replies,     // replies that came after the time-out
  line_settings,    // serial: broken frames
  refused_replies,  // TCP: replies that do not answer the requests
  no_reply,         // time-outs
  unknown,          // nothing counted tells
};

// The unit a diagnosis names, and the bus it is on.
struct DiagnosedUnit {
  std::string name;
  int unit_id = 1;
  sitehost::BusAddress bus;
};

// Follows one unit's cycles and names the likely cause when they fail
// several times in a row: one line once the failures reach
// kFailuresBeforeDiagnosis, again only when the cause changes, and one line
// when a cycle completes after such a line. The cause of a run of failures
// is the one most of its last kFailuresBeforeDiagnosis cycles met (the
// latest on a tie), so that a cause that comes and goes does not flood.
class LinkDiagnosis {
 public:
  static constexpr std::size_t kFailuresBeforeDiagnosis = 3;

  explicit LinkDiagnosis(DiagnosedUnit unit) : unit_(std::move(unit)) {}

  // Takes the outcome of the unit's next cycle and its counts once it ended;
  // returns a line for people, or "" when there is nothing to say.
  std::string next_cycle(bool completed, const sitehost::LinkCounters& counts);

 private:
  Cause likely_cause() const;

  static constexpr std::size_t kCauseCount = static_cast<std::size_t>(Cause::unknown) + 1;

  DiagnosedUnit unit_;
  CycleEvidence before_;                                  // the counts after the previous cycle
  std::array<Cause, kFailuresBeforeDiagnosis> recent_{};  // the last failed cycles' causes
  std::array<CycleEvidence, kCauseCount> latest_;         // by cause, what its latest cycle met
  std::size_t failed_in_row_ = 0;
  std::optional<Cause> told_;  // the cause said for this run of failures
};

// The cause a failed cycle's evidence points to on a bus of `kind`.
Cause cause_of(const CycleEvidence& evidence, sitehost::BusAddress::Kind kind);

// The line naming `cause` for the unit, with the codes among `evidence`.
std::string cause_line(Cause cause, const DiagnosedUnit& unit, const CycleEvidence& evidence);

}  // namespace velmocair::cli
