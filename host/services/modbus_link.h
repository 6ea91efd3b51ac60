#pragma once

#include <chrono>
#include <cstdint>
#include <deque>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "host/modbus_request.h"
#include "host/services/adu.h"
#include "host/services/bus_address.h"
#include "host/services/connect_backoff.h"
#include "host/services/frame_reader.h"
#include "host/services/line_wait.h"
#include "host/services/link_counters.h"
#include "host/services/link_result.h"
#include "host/services/serial_port_lock.h"

typedef struct _modbus modbus_t;

namespace sitehost {

// Tries of an exchange after the first, when none are given.
inline constexpr int kDefaultRetries = 2;

struct LinkTiming {
  // The longest wait for a reply. Empty: on a serial line it follows the
  // line (default_response_timeout of the longest request and reply the bus
  // has carried), on TCP it is kMinResponseTimeout.
  std::optional<std::chrono::milliseconds> response_timeout;
  // Serial: after a time-out, watch the line for a late reply for as long
  // as the time-out again (true), or keep only the frame silence before the
  // next request (false), for a time-out that already holds the unit's
  // turnaround; a reply later than that is then set aside as another unit's.
  bool drain_after_silence = true;
  // Tries after the first of an exchange that timed out, met a broken frame
  // or a busy unit (exception 05 or 06), where a repeat is safe.
  int retries = kDefaultRetries;
};

// What a unit's own configuration sets beside the bus's timing.
struct UnitTiming {
  std::optional<std::chrono::milliseconds> response_timeout;
  std::optional<int> retries;
};

// The Modbus master of one bus. libmodbus opens the bus (and on a serial
// line sends each request, switching RTS where it must); the replies are read
// here (frame_reader.h), strip_adu checks and strips the framing, and the
// host's own decoder judges the PDU. Used by one thread at a time, except
// interrupt().
//
// Serial line: the device is held exclusively from the first open until the
// link goes (serial_port_lock.h), across reopening. Before each request
// whatever is pending is discarded until the line has been silent for a frame
// silence since its last byte. Frames are found by silence (RtuFramer); a
// valid frame from another unit address is set aside and the wait goes on
// within the time-out; one of the addressed unit under a function that does
// not answer the request is a protocol error, unless it answers a request
// that timed out before, when it counts as late. After a time-out the line is
// watched for a late reply for as long as the time-out again; after a broken
// frame it is drained until silent for the drain silence (line_timing.h).
//
// TCP: each request carries a transaction id of its own; while waiting,
// frames of another transaction are dropped (a reply to a request that timed
// out counts as late). Pending bytes are discarded before each request. A
// time-out leaves the connection open, unless a late reply came in its wait
// (the peer works through a queue of requests that timed out); bytes that
// lose the framing drop it too.
//
// Retries: an exchange that timed out, met a broken frame or a busy unit
// is tried again, up to the retries of its unit; a write only when the unit
// cannot have carried it out (busy exception 06, or the send itself failed),
// never once it may have. A read whose TCP connection the peer had closed
// before any byte of the reply is sent once more on a new connection besides.
//
// A failed attempt to open the bus makes the next ones back off
// (connect_backoff.h); meanwhile exchanges fail at once with its reason.
//
// What the master meets is counted per unit address (link_counters.h).
class ModbusLink {
 public:
  ModbusLink(BusAddress address, LinkTiming timing);
  ~ModbusLink();
  ModbusLink(const ModbusLink&) = delete;
  ModbusLink& operator=(const ModbusLink&) = delete;

  // Carries out `request` to `unit_id`; on success `pdu` holds the reply PDU
  // (function code onwards), an exception reply's included.
  LinkResult exchange(int unit_id, const ModbusRequest& request, std::vector<unsigned char>& pdu);

  // The caller found that the reply of the last exchange with `unit_id`,
  // though it framed well, does not answer the request: it counts as a
  // broken frame, not a reply (nor an exception), and no part of it is left
  // for the next request.
  void refuse_reply(int unit_id);

  // Ends the exchange in progress at once, and every later one: safe from
  // any thread.
  void interrupt() { stop_.raise(); }

  // Opens the bus unless it is open; a serial device is then held by this
  // process until the link goes. An attempt outside the exchanges: it
  // neither waits for the back-off nor starts it, so that the first exchange
  // that finds the bus closed tries again at once.
  LinkResult open();
  // When the bus may next be opened after a failed attempt; the clock's epoch
  // when nothing holds an attempt back.
  LineClock::time_point next_open() const { return backoff_.next_attempt(); }
  // Serial with RS-485: how the transceiver is switched, once the line opened
  // ("RS-485 mode of the driver" or "RTS switched from user space ...").
  const std::string& rs485_mode() const { return rs485_mode_; }

  // Takes other timing for the exchanges that follow.
  void set_timing(const LinkTiming& timing) { timing_ = timing; }
  // A unit's own time-out and retries, before the bus's.
  void set_unit_timing(int unit_id, const UnitTiming& timing) { unit_timing_[unit_id] = timing; }
  // Serial: other line settings for the exchanges that follow. The device
  // stays held; the line opens with them at the next exchange.
  void change_line(const SerialLine& line);

  void count_cycle(int unit_id, bool completed);
  // The counts of one unit address (all zero before its first exchange).
  const LinkCounters& counters(int unit_id) const;
  const BusAddress& address() const { return address_; }

 private:
  // A request that timed out, whose reply may still come.
  struct Overdue {
    int unit_id;
    unsigned char function;
    std::uint16_t transaction;  // TCP
    LineClock::time_point deadline;
    std::chrono::milliseconds timeout;
  };
  // How one attempt ended, beside its result.
  struct Attempt {
    LinkResult result;
    bool unit_untouched = false;  // the request cannot have reached the unit
    bool peer_closed = false;     // TCP: closed before any byte of the reply
  };

  LinkResult open_bus(LinkCounters& counted);
  LinkResult connect();
  LinkResult set_rs485();
  // Closes the bus; a serial device stays held.
  void close_bus();
  bool serial() const { return address_.kind == BusAddress::rtu; }
  std::chrono::milliseconds response_timeout(const RawRequest& raw, const ModbusRequest& request,
                                             const LinkTiming& timing);
  LinkTiming timing_of(int unit_id) const;
  Attempt attempt(int unit_id, const RawRequest& raw, std::size_t reply_length,
                  const LinkTiming& timing, std::chrono::milliseconds timeout,
                  std::vector<unsigned char>& pdu);
  bool send(const RawRequest& raw, Attempt& ended);
  LinkResult receive_rtu(int unit_id, const RawRequest& raw, std::size_t reply_length,
                         LineClock::time_point sent, std::chrono::milliseconds timeout,
                         const LinkTiming& timing, std::vector<unsigned char>& pdu);
  LinkResult receive_tcp(int unit_id, const RawRequest& raw, LineClock::time_point sent,
                         std::chrono::milliseconds timeout, std::vector<unsigned char>& pdu,
                         Attempt& ended);
  // Takes a reply frame of the addressed unit: counted, its PDU handed over.
  LinkResult take_reply(const ReplyFrame& frame, LineClock::time_point sent,
                        LineClock::time_point last_byte, std::vector<unsigned char>& pdu);
  LinkResult timed_out(std::chrono::milliseconds timeout, const std::string& set_aside);
  LinkResult refuse_frame(const std::string& why);
  LinkResult lost(const std::string& why);
  LinkResult stopped();
  // A frame of `unit_id` under `function` (or of `transaction`) that answers
  // a request which timed out: counted late; false when it answers none.
  bool count_if_late(int unit_id, unsigned char function, std::uint16_t transaction,
                     LineClock::time_point arrived);
  // Serial: late replies among bytes discarded.
  void find_late_replies(const std::vector<unsigned char>& bytes, LineClock::time_point arrived);
  // Serial: watches the line for a late reply after a time-out, until
  // `until` and a silence of the drain silence.
  void watch_for_late(LineClock::time_point until);
  // Makes sure no part of a broken reply is left for the next request:
  // drains a serial line (closing it when it talks on); drops a TCP
  // connection, whose framing is lost.
  void resynchronise();
  // Discards what arrives on the serial line until it has been silent for
  // `silence` since `since`.
  Quiet quiet_line(LineClock::time_point since, LineClock::duration silence);

  BusAddress address_;
  LinkTiming timing_;
  std::map<int, UnitTiming> unit_timing_;
  modbus_t* context_ = nullptr;
  SerialPortLock port_lock_;
  StopSignal stop_;
  ConnectBackoff backoff_;
  LinkResult last_open_failure_;
  bool opened_before_ = false;
  std::string rs485_mode_;
  std::uint16_t transaction_ = 0;          // TCP: the id of the last request
  std::deque<Overdue> overdue_;            // the newest requests that timed out
  LineClock::time_point line_busy_until_;  // serial: the end of the last byte on the line known
  std::size_t longest_exchange_ = 0;       // serial: bytes of the longest request and reply
  std::map<int, LinkCounters> counters_;   // by unit address
  std::map<int, std::optional<unsigned>> last_exception_;  // by unit: the last reply's code
  // The counters of the exchange in progress; outside one, a count of its own.
  LinkCounters* counting_ = &outside_exchanges_;
  LinkCounters outside_exchanges_;
};

}  // namespace sitehost
