#pragma once

#include <array>
#include <atomic>
#include <chrono>
#include <cstdint>
#include <map>
#include <memory>
#include <vector>

#include "simulator/endpoints.h"
#include "simulator/fault_plan.h"
#include "simulator/frames.h"
#include "simulator/io.h"
#include "simulator/pacing.h"
#include "simulator/server.h"
#include "simulator/unit.h"

namespace velmocair::sim {

struct Counters {
  std::atomic<std::uint64_t> requests{0};
  std::array<std::atomic<std::uint64_t>, kFaultKinds> faults{};
  std::atomic<std::uint64_t> early_requests{0};
  std::atomic<std::uint64_t> writes{0};
};

// Everything a serving thread shares with the others.
struct ServeContext {
  const std::map<int, std::unique_ptr<Unit>>& units;
  const FaultPlan& plan;
  const StopSignal& stop;
  const ServerOptions& options;
  Counters& counters;
};

// What a unit does with one request.
struct ReplyPlan {
  bool close = false;               // TCP: close the connection after the frame, if any
  std::vector<std::uint8_t> frame;  // the reply frame and any trailing bytes; empty: none
  std::chrono::milliseconds delay{0};
  int unit_id = 0;
  int request_bytes = 0;       // the request as an RTU frame
  std::size_t wire_bytes = 0;  // the frame as it would cross a serial line (RTU framing)
};

// Takes a whole request ADU to the unit it addresses, which carries it out,
// and plans the reply with the fault that strikes it. A request to a unit not
// served gets no reply.
ReplyPlan plan_reply(Transport transport, const std::uint8_t* adu, int length,
                     const ServeContext& context);

// Counts a request that came before the line had been silent for a frame
// silence and reports it; true when it must go unanswered.
bool flag_early_request(int unit_id, const ServeContext& context);

// Serves one accepted TCP connection until the master closes it, a fault
// drops it, it stays idle past the idle close, or the stop is raised.
void serve_tcp(const FileDescriptor& connection, const ServeContext& context);

// Serves RTU frames on a pseudo-terminal's master side until the stop is
// raised. Units answer independently: a late reply holds back its own
// unit's next replies, not the other units'. Frames never overlap on the
// line. With the units' own line settings, the master's are read from the
// slave side.
void serve_rtu(const Pty& pty, const ServeContext& context);

}  // namespace velmocair::sim
