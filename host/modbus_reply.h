#pragma once

#include <cstddef>
#include <cstdint>

#include "host/modbus_request.h"

// Outcome of decoding one reply PDU (function code onwards) against the
// request it answers.
struct ReplyDecode {
  enum Status : unsigned char { ok, exception, malformed };

  Status status = malformed;
  unsigned count = 0;                // coils or registers decoded; 1 for a write echo
  unsigned char exception_code = 0;  // for an exception reply
};

// Reply tables a decoded reply is written to.
struct ReplyTables {
  unsigned char* bits;  // one byte (0 or 1) per coil
  std::size_t bit_capacity;
  std::uint16_t* registers;  // native values
  std::size_t register_capacity;
};

// Decodes a reply to `request`: coils unpacked one per byte, registers from
// big-endian to native, a write echo's value into registers[0]. A reply whose
// function code, byte count, length or echoed address does not answer the
// request is malformed and leaves the tables untouched.
ReplyDecode decode_reply(const ModbusRequest& request, const unsigned char* pdu, std::size_t length,
                         const ReplyTables& tables);

// Text for a decode that failed, for the host's error lines.
const char* describe_reply_failure(const ReplyDecode& decoded);
