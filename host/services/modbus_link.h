#pragma once

#include <chrono>
#include <vector>

#include "host/modbus_request.h"
#include "host/services/adu.h"
#include "host/services/bus_address.h"
#include "host/services/link_result.h"

typedef struct _modbus modbus_t;

namespace sitehost {

struct LinkTiming {
  std::chrono::milliseconds response_timeout{500};
  // After a time-out or a broken frame on a serial line the line must stay
  // silent this long before the next request, so that a late reply is
  // discarded rather than taken for the next one.
  std::chrono::milliseconds rtu_quiet_period{100};
};

// The Modbus master of one bus, on libmodbus. Every exchange is a raw request
// and a raw confirmation; the framing is checked and stripped by strip_adu so
// that the reply PDU is decoded by the host's own decoder. The bus connects on
// first use and again after it was lost. Used by one thread at a time.
class ModbusLink {
 public:
  ModbusLink(BusAddress address, LinkTiming timing);
  ~ModbusLink();
  ModbusLink(const ModbusLink&) = delete;
  ModbusLink& operator=(const ModbusLink&) = delete;

  // Carries out `request` to `unit_id`; on success `pdu` holds the reply PDU
  // (function code onwards).
  LinkResult exchange(int unit_id, const ModbusRequest& request, std::vector<unsigned char>& pdu);

  // Makes sure no part of a late or broken reply is left for the next request:
  // a TCP connection is dropped (raw requests all carry one transaction id), a
  // serial line is drained until it has been quiet for the quiet period. Done
  // after every failed exchange, and by the caller when a reply that framed
  // well does not answer the request.
  void resynchronise();

  const BusAddress& address() const { return address_; }

 private:
  LinkResult connect();
  void disconnect();
  void drain_serial_line();
  Framing framing() const { return address_.kind == BusAddress::rtu ? Framing::rtu : Framing::tcp; }

  BusAddress address_;
  LinkTiming timing_;
  modbus_t* context_ = nullptr;
};

}  // namespace sitehost
