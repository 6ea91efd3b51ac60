#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "host/modbus_request.h"

namespace sitehost {

enum class Framing : unsigned char { rtu, tcp };

// A raw request as libmodbus's modbus_send_raw_request takes it: the unit
// address, then the PDU (function code, address, count or value, big-endian).
// Empty, with `error` set, when the request cannot be put on the wire.
struct RawRequest {
  std::vector<unsigned char> bytes;
  std::string error;
};
RawRequest raw_request(int unit_id, const ModbusRequest& request);

// Bytes of the normal RTU reply to `request` (unit address, PDU, CRC); 0 for
// a request that cannot go on the wire.
std::size_t rtu_reply_length(const ModbusRequest& request);
inline constexpr std::size_t kRtuCrcLength = 2;

// A Modbus/TCP request ADU: the MBAP header with `transaction`, protocol id
// 0 and the length, then the unit id and the PDU of `raw`.
std::vector<unsigned char> tcp_request(std::uint16_t transaction, const RawRequest& raw);
// The transaction id of a Modbus/TCP ADU of at least two bytes.
inline std::uint16_t tcp_transaction(const unsigned char* adu) {
  return static_cast<std::uint16_t>((adu[0] << 8) | adu[1]);
}

// The PDU inside a reply ADU, or the reason the ADU is refused.
struct ReplyFrame {
  const unsigned char* pdu = nullptr;
  std::size_t length = 0;
  std::string error;  // empty when the frame is good

  bool ok() const { return error.empty(); }
};

// Checks a reply ADU as libmodbus received it and strips its framing:
//   RTU: unit address, PDU, CRC-16 (low byte first);
//   TCP: transaction id, protocol id 0, length, unit id, PDU.
// The unit address must be `unit_id`, the CRC or the MBAP length must match,
// and a TCP reply must carry `transaction`.
ReplyFrame strip_adu(Framing framing, const unsigned char* adu, std::size_t length, int unit_id,
                     std::uint16_t transaction = 0);

// Modbus CRC-16 (polynomial 0xA001 reflected, initial value 0xFFFF).
std::uint16_t modbus_crc16(const unsigned char* bytes, std::size_t length);

}  // namespace sitehost
