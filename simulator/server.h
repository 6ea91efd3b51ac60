#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "simulator/faults.h"
#include "simulator/line_format.h"

namespace velmocair::sim {

struct ServerOptions {
  std::string tcp_host = "127.0.0.1";
  int tcp_port = -1;                // -1: no TCP endpoint; 0: any free port
  bool rtu_pty = false;             // serve Modbus RTU on a new pseudo-terminal
  std::vector<int> unit_ids = {1};  // unit addresses served; others get no reply
  // Unit addresses served as another Modbus device: it answers the first
  // seven reads of the poll cycle and refuses the rest, and every write,
  // with exception 02.
  std::vector<int> other_device_ids;
  std::string scenario_path;  // JSON scenario; empty: built-in defaults
  FaultOptions faults;
  // Every cycle start raises the unit's generation, and the first register of
  // each register block of the poll cycle (8001, 8101, 8133, 8501, 8509,
  // 3501, 8205, 8221) holds it; this overrides the set-point in 3501.
  bool mark_generations = false;
  // >0: the timing of a serial line of this baud 8N1 (pacing.h): a reply
  // leaves byte by byte once the request has crossed the line and a frame
  // silence has passed. On RTU a request that comes before the line has been
  // silent for a frame silence is counted and reported to on_early_request.
  int pace_baud = 0;
  bool strict_silence = false;  // with pace_baud, on RTU: such a request goes unanswered
  std::function<void(const std::string&)> on_early_request;  // called on a serving thread
  int idle_close_ms = 0;  // >0: a TCP connection idle this long is closed
  // RTU: the units' own line settings. A master whose settings on the
  // pseudo-terminal differ is heard, and hears the replies, as over a real
  // line (line_format.h): its requests and the replies are resampled from
  // the sender's format to the receiver's. None: any settings are the units'.
  std::optional<LineFormat> line;
};

// A simulated air-conditioning unit (one or more unit addresses) serving
// Modbus TCP and/or RTU. It answers reads of coils (function 01) and holding
// registers (03) at the served addresses, stores single-register writes (06)
// to 3501, 3504 and 3509, and answers anything else with an exception.
class Server {
 public:
  // Opens the endpoints and loads the scenario; throws std::runtime_error
  // with a one-line reason.
  explicit Server(const ServerOptions& options);
  ~Server();  // stops and joins
  Server(const Server&) = delete;
  Server& operator=(const Server&) = delete;

  int tcp_port() const;                 // the bound port, -1 without TCP
  const std::string& pty_path() const;  // slave device of the pty, "" without RTU
  void start();                         // serves on background threads; once
  void stop();                          // stops serving and joins; idempotent

  // Observation, safe from any thread while serving.
  std::uint64_t requests() const;              // requests received for served units
  std::uint64_t writes() const;                // write requests received, to any address
  std::uint64_t faults(FaultKind kind) const;  // faults of this kind carried out
  // RTU requests that came before the line had been silent for a frame silence.
  std::uint64_t early_requests() const;
  // Cycles the unit has started (its generation is this modulo 65536).
  // These three throw std::out_of_range for an unserved unit or address.
  int cycles(int unit_id) const;
  std::vector<std::uint8_t> coils(int unit_id, int first, int count) const;
  std::vector<std::uint16_t> registers(int unit_id, int first, int count) const;

 private:
  struct Impl;
  std::unique_ptr<Impl> impl_;
};

}  // namespace velmocair::sim
