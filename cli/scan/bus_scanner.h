#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <map>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "cli/scan/value_checks.h"
#include "host/services/bus_address.h"
#include "host/services/link_result.h"
#include "host/services/modbus_link.h"

namespace velmocair::cli {

// A unit address that answered the probe, and how it answered the device's
// poll cycle.
struct FoundUnit {
  sitehost::BusAddress bus;  // with the line settings it answered at
  int unit_id = 0;
  int reads = 0;                    // reads of the poll cycle
  int answered = 0;                 // of them, answered with what was asked for at some asking
  std::map<unsigned, int> refused;  // reads refused at their last asking, by exception code
  int reasked = 0;                  // askings beyond each read's first
  int busy = 0;                     // askings answered "server device busy" (exception 06)
  int unanswered = 0;               // askings without a valid reply
  std::chrono::microseconds response{0};  // median response time of its answers
  std::chrono::microseconds slowest{0};   // the longest of them
  ValueVerdict values;                    // when every read was answered
  // The poll's time-out and retries the unit needs, when more than the poll's own.
  std::optional<std::chrono::milliseconds> timeout;
  std::optional<int> retries;
  bool every_setting = false;  // it answered alike at every line setting scanned
  bool every_unit_id = false;  // it answered alike at every unit id scanned
  // Its site-file entry's name and data id, distinct among the units found.
  std::string name;
  std::uint32_t data_id = 0;
  // The replies (PDUs) of its reads, to tell one device seen twice.
  std::vector<std::vector<unsigned char>> answers;

  // Every read of the poll cycle answered, with values this unit can hold: a
  // unit of the type this host polls.
  bool this_type() const { return answered == reads && values.plausible(); }
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
  // A valid frame of `unit_id` came only after its time-out, at most
  // `within` after its request, and it did not answer again.
  virtual void late(const sitehost::BusAddress& bus, int unit_id,
                    std::chrono::milliseconds within) = 0;
};

// What to probe: every unit address of `unit_ids` at every setting (a serial
// line at each of its line settings, or one TCP endpoint).
struct ScanPlan {
  std::vector<sitehost::BusAddress> settings;
  std::vector<int> unit_ids;
  // The probe's time-out; none: it follows the line. The walk of a unit's
  // cycle waits at least the poll's time-out.
  std::optional<std::chrono::milliseconds> timeout;
  // Re-askings of a read of the walk that found no valid reply or a busy unit.
  int retries = 5;
  // The re-askings polling makes of its own: a unit that needs more (one more
  // than the most a read of its walk needed) gets them in its command and
  // site entry.
  int poll_retries = 0;
  bool stop_at_first = false;
};

// Probes a bus with reads only, never at the broadcast address, on one link
// that holds the port for the whole scan. A probe is the first read of the
// poll cycle with a time-out that follows the line; an address that answers
// it, with data or with an exception, then gets every read of the poll cycle
// at the poll's time-out, each asked again when it finds no valid reply or a
// busy unit, and its values are checked (value_checks.h). Exceptions 0A and
// 0B are a gateway saying nothing answers behind it: silence.
//
// A frame of an address that comes after its probe's time-out makes it asked
// once more with kLateWindow, which measures its delay; the last address of
// a setting is listened for so. A walk that meets garbled or stray bytes
// (another unit's late answer colliding with it) makes the silent addresses
// probed within kLateWindow before it probed once more.
//
// One device is reported once: a unit found at the first line setting that
// answers alike at every other one is behind a link that passes every
// setting; over TCP, one found at the first unit id that answers alike at
// every other id ignores the unit id. Such a unit is held back until the
// scan shows which, and reported once, marked.
class BusScanner {
 public:
  // The longest a late unit is waited for when its delay is measured.
  static constexpr std::chrono::milliseconds kLateWindow{3000};

  BusScanner(ScanPlan plan, ScanListener& listener);

  // Opens the bus at its first setting before anything is sent: the reason
  // when it cannot be opened.
  sitehost::LinkResult open();
  // Probes until done, stopped (`stopped` is asked before each probe), at
  // the first unit found when the plan says so, or until the bus cannot be
  // opened again; returns that failure, else success.
  sitehost::LinkResult run(const std::function<bool()>& stopped);

  // The units reported, in the order they were.
  const std::vector<FoundUnit>& units() const { return reported_; }
  // The time-out of a probe at a setting: the plan's, or one that follows
  // the line (the exchange allowance of the probe).
  std::chrono::milliseconds probe_timeout(const sitehost::BusAddress& setting) const;
  // The time-out polling takes at a setting without --timeout-ms: on a
  // serial line the exchange allowance of the cycle's longest read, at
  // least kMinResponseTimeout.
  static std::chrono::milliseconds poll_timeout(const sitehost::BusAddress& setting);

 private:
  enum class Heard : unsigned char { unit, silence, garble };
  // A unit found at the first place of the plan, held back while it answers
  // alike at the places after it.
  struct Held {
    FoundUnit first;
    std::vector<FoundUnit> alike;
  };

  // The first read of the cycle at the probe's time-out, or at `timeout`
  // with the line drained after silence; `took` is the time to its answer.
  // How far a scan has come.
  struct Sweep {
    const std::function<bool()>& stopped;
    std::size_t total;  // probes planned
    std::size_t done;
    sitehost::LinkResult ended;  // the bus lost, else success
    bool complete;               // every probe planned so far was made
  };

  // Probes every address at one setting, walks those that answer, then asks
  // again those that may have answered late; what it found goes to
  // place_done.
  void scan_setting(std::size_t index, Sweep& sweep);
  Heard probe(const sitehost::BusAddress& setting, int unit_id, std::chrono::microseconds& took,
              std::optional<std::chrono::milliseconds> timeout = std::nullopt);
  // After the last address probed: one more probe of it with kLateWindow,
  // in which a late answer to the probe before is heard.
  void listen_after(const sitehost::BusAddress& setting, int unit_id);
  // Asks a unit whose frame came late once more, with kLateWindow: its delay,
  // none when it did not answer.
  std::optional<std::chrono::microseconds> measure_late(const sitehost::BusAddress& setting,
                                                        int unit_id);
  // Every read of the cycle at the poll's time-out (or the plan's, when
  // longer), or at kLateWindow for a unit whose probe took longer than
  // polling would wait.
  FoundUnit walk_cycle(const sitehost::BusAddress& setting, int unit_id,
                       std::chrono::microseconds probe_took);
  // What `unit_id` did at the place it was probed at: found (`unit`) or not.
  void place_done(std::size_t setting, int unit_id, const std::optional<FoundUnit>& unit);
  void release(Held& held);
  void report(FoundUnit unit);
  void note_late(int unit_id, std::chrono::milliseconds within);
  // One exchange; a frame of another unit asked at this setting marks it late.
  sitehost::LinkResult exchange_timed(int unit_id, const ModbusRequest& request,
                                      const sitehost::LinkTiming& timing,
                                      std::chrono::microseconds& took);
  std::chrono::milliseconds time_left(std::size_t setting, std::size_t next_unit) const;

  ScanPlan plan_;
  ScanListener& listener_;
  sitehost::ModbusLink link_;
  std::vector<unsigned char> pdu_;
  std::map<int, Held> held_;  // by unit address (serial) or for the first unit id (TCP)
  std::map<int, std::chrono::milliseconds> late_;  // late frames at this setting: at most this late
  std::map<int, std::chrono::steady_clock::time_point> asked_at_;  // last requests at this setting
  // Addresses asked shortly before a walk that met garbled or stray bytes.
  std::set<int> drowned_;
  std::vector<FoundUnit> reported_;
};

}  // namespace velmocair::cli
