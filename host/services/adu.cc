#include "host/services/adu.h"

#include <iterator>

namespace sitehost {
namespace {

constexpr int kMinUnitId = 0;  // 0 is broadcast: accepted on the line, never answered
constexpr int kMaxUnitId = 255;
constexpr int kMaxWireValue = 0xFFFF;

// How each request kind and its normal reply go on the wire. The reply PDU
// is its fixed part and, per coil or register read, the bits given.
struct WireForm {
  ModbusRequest::Kind kind;
  unsigned char function_code;
  bool sends_value;  // the fourth and fifth bytes carry the value, not the count
  std::size_t reply_fixed;
  std::size_t reply_bits_per_item;
};

// clang-format off
// request kind                   function code  value on the wire  reply: fixed  bits per item
constexpr WireForm kWireForms[] = {
    {ModbusRequest::read_bits,      0x01,          false,             2,            1},
    {ModbusRequest::read_registers, 0x03,          false,             2,            16},
    {ModbusRequest::write_register, 0x06,          true,              5,            0},
};
// clang-format on
static_assert(std::size(kWireForms) == 3, "three request kinds go on the wire");

constexpr std::size_t kRtuHeader = 1;  // unit address
constexpr std::size_t kBitsPerByte = 8;
constexpr std::size_t kTcpHeader = 7;         // MBAP header including the unit id
constexpr std::size_t kTcpLengthCounted = 6;  // bytes of the ADU the MBAP length does not count
constexpr std::size_t kMinPdu = 2;            // function code and one byte

const WireForm* wire_form(ModbusRequest::Kind kind) {
  for (const WireForm& form : kWireForms) {
    if (form.kind == kind) {
      return &form;
    }
  }
  return nullptr;
}

void put_word(std::vector<unsigned char>& bytes, int word) {
  bytes.push_back(static_cast<unsigned char>((word >> 8) & 0xFF));
  bytes.push_back(static_cast<unsigned char>(word & 0xFF));
}

std::uint16_t word_at(const unsigned char* bytes) {
  return static_cast<std::uint16_t>((bytes[0] << 8) | bytes[1]);
}

ReplyFrame refused(std::string why) {
  ReplyFrame frame;
  frame.error = std::move(why);
  return frame;
}

ReplyFrame strip_rtu(const unsigned char* adu, std::size_t length, int unit_id) {
  if (length < kRtuHeader + kMinPdu + kRtuCrcLength) {
    return refused("frame too short");
  }
  const std::size_t body = length - kRtuCrcLength;
  const std::uint16_t received = static_cast<std::uint16_t>(adu[body] | (adu[body + 1] << 8));
  if (modbus_crc16(adu, body) != received) {
    return refused("bad CRC");
  }
  if (adu[0] != unit_id) {
    return refused("reply from unit " + std::to_string(adu[0]));
  }
  ReplyFrame frame;
  frame.pdu = adu + kRtuHeader;
  frame.length = body - kRtuHeader;
  return frame;
}

ReplyFrame strip_tcp(const unsigned char* adu, std::size_t length, int unit_id,
                     std::uint16_t transaction) {
  if (length < kTcpHeader + kMinPdu) {
    return refused("frame too short");
  }
  if (word_at(adu) != transaction) {
    return refused("reply to transaction " + std::to_string(word_at(adu)));
  }
  if (word_at(adu + 2) != 0) {
    return refused("not a Modbus protocol id");
  }
  if (word_at(adu + 4) != length - kTcpLengthCounted) {
    return refused("MBAP length does not match the frame");
  }
  if (adu[6] != unit_id) {
    return refused("reply from unit " + std::to_string(adu[6]));
  }
  ReplyFrame frame;
  frame.pdu = adu + kTcpHeader;
  frame.length = length - kTcpHeader;
  return frame;
}

}  // namespace

RawRequest raw_request(int unit_id, const ModbusRequest& request) {
  RawRequest raw;
  const WireForm* form = wire_form(request.kind);
  if (form == nullptr) {
    raw.error = "no request outstanding";
    return raw;
  }
  const int fourth = form->sends_value ? request.value & kMaxWireValue : request.count;
  if (unit_id < kMinUnitId || unit_id > kMaxUnitId) {
    raw.error = "unit address " + std::to_string(unit_id) + " out of range";
  } else if (request.address < 0 || request.address > kMaxWireValue || fourth < 0 ||
             fourth > kMaxWireValue) {
    raw.error = "address or count out of range";
  } else {
    raw.bytes = {static_cast<unsigned char>(unit_id), form->function_code};
    put_word(raw.bytes, request.address);
    put_word(raw.bytes, fourth);
  }
  return raw;
}

std::size_t rtu_reply_length(const ModbusRequest& request) {
  const WireForm* form = wire_form(request.kind);
  if (form == nullptr || request.count < 0) {
    return 0;
  }
  const std::size_t data_bits = static_cast<std::size_t>(request.count) * form->reply_bits_per_item;
  return kRtuHeader + form->reply_fixed + (data_bits + kBitsPerByte - 1) / kBitsPerByte +
         kRtuCrcLength;
}

ReplyFrame strip_adu(Framing framing, const unsigned char* adu, std::size_t length, int unit_id,
                     std::uint16_t transaction) {
  if (adu == nullptr) {
    return refused("no frame");
  }
  return framing == Framing::rtu ? strip_rtu(adu, length, unit_id)
                                 : strip_tcp(adu, length, unit_id, transaction);
}

std::vector<unsigned char> tcp_request(std::uint16_t transaction, const RawRequest& raw) {
  std::vector<unsigned char> adu;
  put_word(adu, transaction);
  put_word(adu, 0);
  put_word(adu, static_cast<int>(raw.bytes.size()));
  adu.insert(adu.end(), raw.bytes.begin(), raw.bytes.end());
  return adu;
}

std::uint16_t modbus_crc16(const unsigned char* bytes, std::size_t length) {
  constexpr std::uint16_t kPolynomial = 0xA001;
  std::uint16_t crc = 0xFFFF;
  for (std::size_t i = 0; i < length; ++i) {
    crc = static_cast<std::uint16_t>(crc ^ bytes[i]);
    for (int bit = 0; bit < 8; ++bit) {
      crc = (crc & 1) != 0 ? static_cast<std::uint16_t>((crc >> 1) ^ kPolynomial)
                           : static_cast<std::uint16_t>(crc >> 1);
    }
  }
  return crc;
}

}  // namespace sitehost
