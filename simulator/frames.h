#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace velmocair::sim {

enum class Transport : unsigned char { tcp, rtu };

inline constexpr int kTcpHeaderLength = 7;  // MBAP header, unit id included
inline constexpr int kCrcLength = 2;
inline constexpr int kMaxAduLength = 260;

inline constexpr int kReadCoils = 0x01;
inline constexpr int kReadRegisters = 0x03;
inline constexpr int kWriteRegister = 0x06;
inline constexpr int kExceptionFlag = 0x80;
inline constexpr int kExceptionPduLength = 2;  // function | 0x80, code
inline constexpr int kWriteEchoPduLength = 5;  // function, address, value

inline constexpr int kIllegalFunction = 1;
inline constexpr int kIllegalDataAddress = 2;
inline constexpr int kIllegalDataValue = 3;

// The fields of a request the unit acts on.
struct Request {
  int unit_id = 0;
  int function = 0;
  int address = 0;
  int quantity = 0;    // count of a read, value of a single-register write
  int rtu_length = 0;  // size of the request as an RTU frame
};

// Whether a function writes: single and multiple coils and registers, a
// mask write, a read/write of registers.
bool is_write(int function);

// Reads the request of a whole ADU as the transport frames it.
Request decode_request(Transport transport, const std::uint8_t* adu, int length);

// CRC-16/MODBUS (reflected polynomial 0xA001, initial value 0xFFFF).
std::uint16_t crc16(const std::uint8_t* data, std::size_t length);

// Length of the RTU request whose first `available` bytes are given, or 0
// while too few bytes are there to tell.
int rtu_request_length(const std::uint8_t* bytes, int available);

// True when the RTU frame ends with the CRC of what precedes it.
bool rtu_crc_matches(const std::uint8_t* frame, int length);

// PDU length of the normal reply to a request the unit supports.
int reply_pdu_length(const Request& request);

// Wraps a reply PDU into the ADU that answers `request_adu`: TCP echoes the
// transaction id; RTU appends the CRC.
std::vector<std::uint8_t> reply_frame(Transport transport, const std::uint8_t* request_adu,
                                      const std::vector<std::uint8_t>& pdu);

// Adds 1 (modulo 65536) to the value a write-echo PDU carries.
void raise_echoed_value(std::vector<std::uint8_t>& pdu);

// Breaks a reply frame so that a master must reject it: RTU gets a wrong CRC;
// TCP carries the reply under a different function code of the same shape.
void break_frame(Transport transport, std::vector<std::uint8_t>& frame);

}  // namespace velmocair::sim
