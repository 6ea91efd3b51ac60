#pragma once

// A peer on the far end of the master's bus that answers each request it
// reads with exactly the bytes and silences a test gives it: over a
// pseudo-terminal pair (the master opens the terminal's path) or a loopback
// TCP listener.
#include <atomic>
#include <chrono>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "host/services/bus_address.h"

namespace peer {

using Bytes = std::vector<unsigned char>;

// After `pause`, the peer writes `bytes` (none: it only waits); with
// `close`, it then closes the connection (TCP) or its end of the terminal,
// which the master then finds hung up.
struct Step {
  std::chrono::milliseconds pause{0};
  Bytes bytes;
  bool close = false;
};
using Script = std::vector<Step>;

// The script for the request numbered `index` (0 first) whose bytes are
// `request` (RTU: address, PDU, CRC; TCP: MBAP header and PDU).
using Responder = std::function<Script(const Bytes& request, int index)>;

class ScriptedPeer {
 public:
  enum class Kind : unsigned char { rtu, tcp };
  ScriptedPeer(Kind kind, Responder responder);
  ~ScriptedPeer();
  ScriptedPeer(const ScriptedPeer&) = delete;
  ScriptedPeer& operator=(const ScriptedPeer&) = delete;

  const std::string& path() const { return path_; }  // rtu
  int port() const { return port_; }                 // tcp
  // The bus the master opens to reach the peer; a serial line at `baud`.
  sitehost::BusAddress bus(int baud = 9600) const;
  // Requests read so far.
  std::vector<Bytes> requests() const;
  int connections() const { return connections_; }

 private:
  void serve_rtu();
  void serve_tcp();
  // Reads one request from `fd`; false when the far end went.
  bool read_request(int fd, Bytes& request);
  // Plays the script on `fd`; false once it closed it.
  bool play(int fd, const Script& script);

  Kind kind_;
  Responder responder_;
  int fd_ = -1;  // the terminal's master side, or the listener
  int wake_[2] = {-1, -1};
  std::string path_;
  int port_ = 0;
  std::atomic<bool> stop_{false};
  std::atomic<int> connections_{0};
  mutable std::mutex mutex_;
  std::vector<Bytes> requests_;
  std::thread thread_;
};

// An RTU frame: `body` and its CRC.
Bytes rtu(Bytes body);
// A Modbus/TCP ADU with `transaction` and unit `unit` around `pdu`.
Bytes tcp(unsigned transaction, unsigned unit, const Bytes& pdu);
// The transaction id of a TCP request read by the peer.
unsigned transaction_of(const Bytes& request);

}  // namespace peer
