#pragma once

#include <chrono>
#include <map>
#include <optional>
#include <vector>

#include "host/modbus_request.h"
#include "host/services/adu.h"
#include "host/services/bus_address.h"
#include "host/services/connect_backoff.h"
#include "host/services/frame_reader.h"
#include "host/services/link_counters.h"
#include "host/services/link_result.h"
#include "host/services/serial_port_lock.h"

typedef struct _modbus modbus_t;

namespace sitehost {

struct LinkTiming {
  // The longest wait for the first byte of a reply, and between two bytes of
  // one. Empty: on a serial line it follows the line (default_response_timeout
  // of the longest request and reply the bus has carried), on TCP it is
  // kMinResponseTimeout.
  std::optional<std::chrono::milliseconds> response_timeout;
  // Serial: after a time-out in which not a byte came, drain the line for the
  // drain silence (true), or keep only the frame silence before the next
  // request (false), for a time-out that already holds the unit's
  // turnaround; a reply later than that is then set aside as another unit's.
  bool drain_after_silence = true;
};

// The Modbus master of one bus. libmodbus opens the bus and puts each raw
// request on it; the reply is read here (frame_reader.h), so that the master
// keeps the line's silences, sets aside frames not meant for it and tells
// silence from broken bytes. strip_adu checks and strips the framing, and the
// host's own decoder judges the PDU. Used by one thread at a time.
//
// Serial line: the device is held exclusively (serial_port_lock.h). Before
// each request whatever is pending is discarded until the line has been
// silent for a frame silence since its last byte. A valid frame from another
// unit address, or of the addressed unit under a function that does not
// answer the request, is set aside and the wait goes on within the time-out.
// After a time-out or a broken frame the line is drained until it has been
// silent for the drain silence (line_timing.h).
//
// TCP: a request whose connection the peer had closed (found on sending, or
// as the end of the connection before any byte of the reply) is sent once
// more on a new connection; a reply cut off is never asked again. After a
// time-out or a broken frame the connection is dropped: raw requests all
// carry one transaction id, so a late reply could not be told apart.
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
  // broken frame, not a reply, and no part of it is left for the next request
  // (a TCP connection is dropped, a serial line drained).
  void refuse_reply(int unit_id);

  // Opens the bus unless it is open; a serial device is then held by this
  // process until the link goes or loses it. An attempt outside the
  // exchanges: it neither waits for the back-off nor starts it, so that the
  // first exchange that finds the bus closed tries again at once.
  LinkResult open();
  // When the bus may next be opened after a failed attempt; the clock's epoch
  // when nothing holds an attempt back.
  LineClock::time_point next_open() const { return backoff_.next_attempt(); }

  // Takes other timing for the exchanges that follow.
  void set_timing(const LinkTiming& timing) { timing_ = timing; }
  // Serial: other line settings for the exchanges that follow. The device
  // stays held; the line opens with them at the next exchange.
  void change_line(const SerialLine& line);

  void count_cycle(int unit_id, bool completed);
  // The counts of one unit address (all zero before its first exchange).
  const LinkCounters& counters(int unit_id) const;
  const BusAddress& address() const { return address_; }

 private:
  // Opens the bus for an exchange counted in `counted`, within the back-off.
  LinkResult open_bus(LinkCounters& counted);
  LinkResult connect();
  LinkResult set_rs485();
  // Closes the bus; a serial device stays held.
  void close_bus();
  // Closes the bus and lets a serial device go.
  void disconnect();
  // Makes sure no part of a late or broken reply is left for the next
  // request: drops a TCP connection, drains a serial line.
  void resynchronise();
  bool serial() const { return address_.kind == BusAddress::rtu; }
  Framing framing() const { return serial() ? Framing::rtu : Framing::tcp; }
  std::chrono::milliseconds response_timeout(const RawRequest& raw, const ModbusRequest& request);
  // One sending of the request and the wait for its reply; `peer_closed` is
  // set when a TCP peer had closed the connection before any reply byte.
  LinkResult send_and_receive(int unit_id, const RawRequest& raw, std::chrono::milliseconds timeout,
                              std::vector<unsigned char>& pdu, bool& peer_closed);
  LinkResult receive(int unit_id, const RawRequest& raw, LineClock::time_point sent,
                     std::chrono::milliseconds timeout, std::vector<unsigned char>& pdu,
                     bool& peer_closed);
  LinkResult refuse_frame(const std::string& why);
  // Discards what arrives on the serial line until it has been silent for
  // `silence` since `since`; false when it kept talking.
  bool quiet_line(LineClock::time_point since, LineClock::duration silence);

  BusAddress address_;
  LinkTiming timing_;
  modbus_t* context_ = nullptr;
  SerialPortLock port_lock_;
  ConnectBackoff backoff_;
  LinkResult last_open_failure_;
  bool opened_before_ = false;
  LineClock::time_point line_busy_until_;  // serial: the end of the last byte on the line known
  std::size_t longest_exchange_ = 0;       // serial: bytes of the longest request and reply
  std::map<int, LinkCounters> counters_;   // by unit address
  // The counters of the exchange in progress; outside one, a count of its own.
  LinkCounters* counting_ = &outside_exchanges_;
  LinkCounters outside_exchanges_;
};

}  // namespace sitehost
