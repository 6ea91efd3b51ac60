#include "simulator/frames.h"

#include <algorithm>
#include <iterator>

#include "simulator/pacing.h"

namespace velmocair::sim {
namespace {

constexpr int kRtuHeaderLength = 1;  // unit address
constexpr int kFieldsLength = 5;     // function, address, count or value
constexpr int kByteBits = 8;
constexpr std::uint16_t kCrcInitial = 0xFFFF;
constexpr std::uint16_t kCrcPolynomial = 0xA001;
constexpr std::uint8_t kCrcBreaker = 0xFF;
constexpr int kUnknownRequestLength = 4;  // unit, function, CRC

// How long an RTU request of a function is: a fixed part, plus the byte
// count found at count_at when that is not 0.
struct RequestShape {
  int function;
  int fixed_length;
  int count_at;
};

// clang-format off
// function  fixed length  byte count at
constexpr RequestShape kRequestShapes[] = {
    {0x01,     8,  0},  // read coils
    {0x02,     8,  0},  // read discrete inputs
    {0x03,     8,  0},  // read holding registers
    {0x04,     8,  0},  // read input registers
    {0x05,     8,  0},  // write single coil
    {0x06,     8,  0},  // write single register
    {0x0F,     9,  6},  // write multiple coils
    {0x10,     9,  6},  // write multiple registers
    {0x16,    10,  0},  // mask write register
    {0x17,    13, 10},  // read/write multiple registers
};

// Functions whose replies have the same shape, swapped to break a TCP frame.
// function  sibling
constexpr int kSiblingFunctions[][2] = {
    {0x01, 0x02},
    {0x02, 0x01},
    {0x03, 0x04},
    {0x04, 0x03},
    {0x05, 0x06},
    {0x06, 0x05},
};
// clang-format on
static_assert(std::size(kRequestShapes) == 10);
static_assert(std::size(kSiblingFunctions) == 6);

int sibling_function(int function) {
  const int plain = function & ~kExceptionFlag;
  for (const auto& row : kSiblingFunctions) {
    if (row[0] == plain) {
      return row[1] | (function & kExceptionFlag);
    }
  }
  return function ^ kExceptionFlag;
}

int word_at(const std::uint8_t* bytes) { return (bytes[0] << kByteBits) | bytes[1]; }

constexpr int kWriteFunctions[] = {0x05, 0x06, 0x0F, 0x10, 0x16, 0x17};

}  // namespace

bool is_write(int function) {
  return std::find(std::begin(kWriteFunctions), std::end(kWriteFunctions), function) !=
         std::end(kWriteFunctions);
}

Request decode_request(Transport transport, const std::uint8_t* adu, int length) {
  const int header = transport == Transport::tcp ? kTcpHeaderLength : kRtuHeaderLength;
  const int trailer = transport == Transport::tcp ? 0 : kCrcLength;
  Request request;
  request.unit_id = adu[header - 1];
  request.function = adu[header];
  if (length - header - trailer >= kFieldsLength) {
    request.address = word_at(adu + header + 1);
    request.quantity = word_at(adu + header + 3);
  }
  request.rtu_length = rtu_length(length - header - trailer);
  return request;
}

std::uint16_t crc16(const std::uint8_t* data, std::size_t length) {
  std::uint16_t crc = kCrcInitial;
  for (std::size_t i = 0; i < length; ++i) {
    crc ^= data[i];
    for (int bit = 0; bit < kByteBits; ++bit) {
      crc = (crc & 1u) != 0 ? static_cast<std::uint16_t>((crc >> 1) ^ kCrcPolynomial)
                            : static_cast<std::uint16_t>(crc >> 1);
    }
  }
  return crc;
}

int rtu_request_length(const std::uint8_t* bytes, int available) {
  if (available < kRtuHeaderLength + 1) {
    return 0;
  }
  for (const RequestShape& shape : kRequestShapes) {
    if (shape.function != bytes[kRtuHeaderLength]) {
      continue;
    }
    if (shape.count_at == 0) {
      return shape.fixed_length;
    }
    return available > shape.count_at ? shape.fixed_length + bytes[shape.count_at] : 0;
  }
  return kUnknownRequestLength;
}

bool rtu_crc_matches(const std::uint8_t* frame, int length) {
  if (length < kRtuHeaderLength + 1 + kCrcLength) {
    return false;
  }
  const std::uint16_t crc = crc16(frame, static_cast<std::size_t>(length - kCrcLength));
  return frame[length - 2] == (crc & 0xFFu) && frame[length - 1] == (crc >> kByteBits);
}

int reply_pdu_length(const Request& request) {
  switch (request.function) {
    case kReadCoils:
      return read_reply_pdu_length(Area::coils, request.quantity);
    case kReadRegisters:
      return read_reply_pdu_length(Area::registers, request.quantity);
    default:
      return kWriteEchoPduLength;
  }
}

std::vector<std::uint8_t> reply_frame(Transport transport, const std::uint8_t* request_adu,
                                      const std::vector<std::uint8_t>& pdu) {
  std::vector<std::uint8_t> frame;
  if (transport == Transport::tcp) {
    const std::size_t length = pdu.size() + 1;  // unit id and PDU
    frame = {request_adu[0],
             request_adu[1],
             0,
             0,
             static_cast<std::uint8_t>(length >> kByteBits),
             static_cast<std::uint8_t>(length & 0xFFu),
             request_adu[kTcpHeaderLength - 1]};
    frame.insert(frame.end(), pdu.begin(), pdu.end());
    return frame;
  }
  frame.push_back(request_adu[0]);
  frame.insert(frame.end(), pdu.begin(), pdu.end());
  const std::uint16_t crc = crc16(frame.data(), frame.size());
  frame.push_back(static_cast<std::uint8_t>(crc & 0xFFu));
  frame.push_back(static_cast<std::uint8_t>(crc >> kByteBits));
  return frame;
}

void raise_echoed_value(std::vector<std::uint8_t>& pdu) {
  const int value = (word_at(pdu.data() + 3) + 1) & 0xFFFF;
  pdu[3] = static_cast<std::uint8_t>(value >> kByteBits);
  pdu[4] = static_cast<std::uint8_t>(value & 0xFF);
}

void break_frame(Transport transport, std::vector<std::uint8_t>& frame) {
  if (transport == Transport::rtu) {
    frame.back() ^= kCrcBreaker;
    return;
  }
  frame[kTcpHeaderLength] = static_cast<std::uint8_t>(sibling_function(frame[kTcpHeaderLength]));
}

}  // namespace velmocair::sim
