#pragma once

#include <chrono>
#include <cstddef>
#include <functional>
#include <map>
#include <optional>
#include <vector>

#include "host/services/bus_address.h"
#include "host/services/link_result.h"
#include "host/services/modbus_link.h"

namespace velmocair::cli {

// A unit address that answered the probe, and how it answered the device's
// poll cycle.
struct FoundUnit {
  sitehost::BusAddress bus;  // with the line settings it answered at
  int unit_id = 0;
  int reads = 0;                          // reads of the poll cycle
  int answered = 0;                       // of them, answered with what was asked for
  std::map<unsigned, int> refused;        // reads refused, by exception code
  std::chrono::microseconds response{0};  // median response time of its exchanges

  // Every read of the poll cycle answered: a unit of the type this host polls.
  bool this_type() const { return answered == reads; }
};

// What a scan reports as it goes.
class ScanListener {
 public:
  virtual ~ScanListener() = default;
  // After each probe: probes done of all, and the time the rest would take
  // were every address silent.
  virtual void probed(std::size_t done, std::size_t total, std::chrono::milliseconds left) = 0;
  virtual void found(const FoundUnit& unit) = 0;
  // Bytes came at `bus`'s settings from these unit addresses, but no valid frame.
  virtual void garbled(const sitehost::BusAddress& bus, const std::vector<int>& unit_ids) = 0;
  // A valid frame of `unit_id` came only after its time-out.
  virtual void late(const sitehost::BusAddress& bus, int unit_id) = 0;
};

// What to probe: every unit address first..last at every setting (a serial
// line at each of its line settings, or one TCP endpoint).
struct ScanPlan {
  std::vector<sitehost::BusAddress> settings;
  int first_unit_id = 1;
  int last_unit_id = 1;
  std::optional<std::chrono::milliseconds> timeout;  // none: it follows the line
  bool stop_at_first = false;
};

// Probes a bus with reads only, never at the broadcast address, on one link
// that holds the port for the whole scan. A probe is the first read of the
// poll cycle; an address that answers it, with data or with an exception,
// then gets every read of the poll cycle. Exceptions 0A and 0B are a
// gateway saying nothing answers behind it: silence.
class BusScanner {
 public:
  BusScanner(ScanPlan plan, ScanListener& listener);

  // Opens the bus at its first setting before anything is sent: the reason
  // when it cannot be opened.
  sitehost::LinkResult open();
  // Probes until done, stopped (`stopped` is asked before each probe), at
  // the first unit found when the plan says so, or until the bus cannot be
  // opened again; returns that failure, else success.
  sitehost::LinkResult run(const std::function<bool()>& stopped);

  const std::vector<FoundUnit>& units() const { return found_; }
  // The time-out of a probe at a setting: the plan's, or one that follows
  // the line (probe_allowance).
  std::chrono::milliseconds probe_timeout(const sitehost::BusAddress& setting) const;

 private:
  enum class Heard : unsigned char { unit, silence, garble };

  std::chrono::milliseconds timeout_for(const sitehost::BusAddress& setting,
                                        const ModbusRequest& request) const;
  Heard probe(const sitehost::BusAddress& setting, int unit_id);
  FoundUnit walk_cycle(const sitehost::BusAddress& setting, int unit_id);
  std::chrono::milliseconds time_left(std::size_t setting, int next_unit_id) const;

  ScanPlan plan_;
  ScanListener& listener_;
  sitehost::ModbusLink link_;
  std::vector<unsigned char> pdu_;
  std::vector<FoundUnit> found_;
};

}  // namespace velmocair::cli
