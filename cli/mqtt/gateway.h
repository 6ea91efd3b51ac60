#pragma once

#include <json/value.h>

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "cli/mqtt/broker_settings.h"
#include "cli/mqtt/link_figures.h"
#include "cli/mqtt/record_time.h"

// The host as a site gateway: each unit's completed cycles published to an
// MQTT broker (the status document, each value, the alarms, the link),
// Home Assistant's discovery, availability of the bridge and of each unit,
// commands from set topics handed to the host, and the records a broker
// outage kept from the broker published afterwards from the history.
namespace velmocair::mqtt {

struct UnitIdentity {
  std::string name;
  std::uint32_t data_id = 0;
};

// A command from a set topic, parsed and range-checked: the host carries it
// out with DeviceIoControl(command, ...) as `velmocair-host command` does
// (numeric form; a set-point as an unsigned 16-bit number of whole units),
// then reads the state back.
struct CommandRequest {
  std::size_t unit = 0;  // index into GatewayOptions::units
  int command = 0;       // 100 start, 102 stop, 106 temperature, 110 humidity set-point
  std::optional<int> value;
  std::string word;  // the set topic's last level: power, temperature, humidity
};

struct CommandResult {
  bool confirmed = false;  // the unit echoed the write
  std::string text;        // "confirmed", "echo mismatch", "no reply: ..."
};

// Hands the outcome back; callable once, from any thread.
using CommandReply = std::function<void(const CommandResult&)>;
// Called on the gateway's thread; must not wait for the command.
using CommandHandler = std::function<void(const CommandRequest&, CommandReply)>;

// A stored record: its own time stamp (the record's, not that of the
// store) and its status document as the plug-in builds it.
using StoredRecordVisit = std::function<bool(const RecordTime& time, const Json::Value& document)>;
// Visits the stored records of the unit `data_id` whose time stamps lie in
// [from, before), oldest first, while `visit` returns true.
using HistoryReader = std::function<void(std::uint32_t data_id, const RecordTime& from,
                                         const RecordTime& before, const StoredRecordVisit& visit)>;

using SteadyClock = std::chrono::steady_clock;

inline constexpr std::chrono::seconds kDefaultOfflineAfter{30};
// Unconfirmed messages at most: the library then holds at most this many
// documents (of about 12 KB) however slow the broker.
inline constexpr std::size_t kDefaultWindow = 64;

struct GatewayOptions {
  BrokerSettings broker;
  std::string password;  // read_password()
  std::vector<UnitIdentity> units;
  bool read_only = false;  // every command is refused
  // A unit whose cycles have failed for longer is published "offline".
  std::chrono::seconds offline_after = kDefaultOfflineAfter;
  CommandHandler on_command;  // needed unless read_only
  HistoryReader history;      // none: missed records are counted, not published
  std::function<void(const std::string& line)> notice;
  std::function<SteadyClock::time_point()> clock = SteadyClock::now;
  // Messages handed to the broker and not yet confirmed, at most.
  std::size_t window = kDefaultWindow;
};

struct GatewayCounts {
  std::uint64_t attempts = 0;     // connection attempts
  std::uint64_t connections = 0;  // accepted
  std::uint64_t published = 0;    // messages
  std::uint64_t unconfirmed = 0;  // of them, not yet confirmed by the broker
  std::uint64_t dropped = 0;      // states replaced before they were published
  std::uint64_t backfilled = 0;   // stored records published on backfill topics
  std::uint64_t commands = 0;     // handed to on_command
  std::uint64_t refused = 0;      // set messages refused
};

class Gateway {
 public:
  // Checks the options (unit names, TLS files) and prepares the client;
  // throws BrokerSettingsError with one line. Connects only on start().
  explicit Gateway(GatewayOptions options);
  ~Gateway();
  Gateway(const Gateway&) = delete;
  Gateway& operator=(const Gateway&) = delete;

  // Connects in the background and keeps connecting.
  void start();

  // A completed cycle of unit `unit`: its status document (code 803's
  // object or 801's text parsed) and link figures. Its time stamp is the
  // document's "更新时间". Cheap and never blocks on the broker: the
  // gateway keeps only the latest state of each unit.
  void cycle_completed(std::size_t unit, const Json::Value& document, const LinkFigures& link);
  // A failed cycle; after offline_after without a completed one the unit is
  // published offline.
  void cycle_failed(std::size_t unit, const LinkFigures& link);

  // Publishes the bridge "offline", disconnects cleanly and ends the
  // gateway's threads. Idempotent.
  void stop();

  GatewayCounts counts() const;

 private:
  class Worker;
  std::unique_ptr<Worker> worker_;
};

}  // namespace velmocair::mqtt
