#include "host/modbus_reply.h"

#include <iterator>

#include "host/modbus_exception.h"

namespace {

constexpr unsigned char kReadCoils = 0x01;
constexpr unsigned char kReadHoldingRegisters = 0x03;
constexpr unsigned char kWriteSingleRegister = 0x06;

unsigned char function_code(ModbusRequest::Kind kind) {
  switch (kind) {
    case ModbusRequest::read_bits:
      return kReadCoils;
    case ModbusRequest::read_registers:
      return kReadHoldingRegisters;
    case ModbusRequest::write_register:
      return kWriteSingleRegister;
    case ModbusRequest::none:
      break;
  }
  return 0;
}

std::uint16_t big_endian_word(const unsigned char* bytes) {
  return static_cast<std::uint16_t>((bytes[0] << 8) | bytes[1]);
}

ReplyDecode decode_coils(const ModbusRequest& request, const unsigned char* pdu, std::size_t length,
                         const ReplyTables& tables) {
  const auto count = static_cast<std::size_t>(request.count);
  const std::size_t byte_count = (count + 7) / 8;
  if (count > tables.bit_capacity || length != 2 + byte_count || pdu[1] != byte_count) {
    return {};
  }
  for (std::size_t i = 0; i < count; ++i) {
    tables.bits[i] = static_cast<unsigned char>((pdu[2 + i / 8] >> (i % 8)) & 1);
  }
  return {ReplyDecode::ok, static_cast<unsigned>(count), 0};
}

ReplyDecode decode_registers(const ModbusRequest& request, const unsigned char* pdu,
                             std::size_t length, const ReplyTables& tables) {
  const auto count = static_cast<std::size_t>(request.count);
  if (count > tables.register_capacity || length != 2 + 2 * count || pdu[1] != 2 * count) {
    return {};
  }
  for (std::size_t i = 0; i < count; ++i) {
    tables.registers[i] = big_endian_word(pdu + 2 + 2 * i);
  }
  return {ReplyDecode::ok, static_cast<unsigned>(count), 0};
}

ReplyDecode decode_echo(const ModbusRequest& request, const unsigned char* pdu, std::size_t length,
                        const ReplyTables& tables) {
  if (length != 5 || tables.register_capacity < 1 ||
      big_endian_word(pdu + 1) != static_cast<std::uint16_t>(request.address)) {
    return {};
  }
  tables.registers[0] = big_endian_word(pdu + 3);
  return {ReplyDecode::ok, 1, 0};
}

// The exception codes a Modbus server or gateway sends, by their meaning.
struct ExceptionText {
  unsigned char code;
  const char* text;
};

// clang-format off
// code  text
constexpr ExceptionText kExceptionTexts[] = {
    {0x01, "exception 01: illegal function"},
    {0x02, "exception 02: illegal data address"},
    {0x03, "exception 03: illegal data value"},
    {0x04, "exception 04: server device failure"},
    {0x05, "exception 05: acknowledge"},
    {0x06, "exception 06: server device busy"},
    {0x08, "exception 08: memory parity error"},
    {0x0A, "exception 0A: gateway path unavailable"},
    {0x0B, "exception 0B: gateway target device failed to respond"},
};
// clang-format on
static_assert(std::size(kExceptionTexts) == 9, "the codes of the Modbus protocol");

constexpr char kHexDigits[] = "0123456789ABCDEF";
constexpr std::size_t kCodeAt = sizeof "exception " - 1;

// Each text names its own code in two hexadecimal digits.
constexpr bool texts_name_their_codes() {
  for (const ExceptionText& row : kExceptionTexts) {
    if (row.text[kCodeAt] != kHexDigits[row.code >> 4] ||
        row.text[kCodeAt + 1] != kHexDigits[row.code & 0x0F]) {
      return false;
    }
  }
  return true;
}
static_assert(texts_name_their_codes());

}  // namespace

ReplyDecode decode_reply(const ModbusRequest& request, const unsigned char* pdu, std::size_t length,
                         const ReplyTables& tables) {
  const unsigned char expected = function_code(request.kind);
  if (pdu == nullptr || length < 2 || expected == 0 || request.count < 1) {
    return {};
  }
  if (pdu[0] == (expected | modbus_exception::kFlag)) {
    return length == 2 ? ReplyDecode{ReplyDecode::exception, 0, pdu[1]} : ReplyDecode{};
  }
  if (pdu[0] != expected) {
    return {};
  }
  switch (request.kind) {
    case ModbusRequest::read_bits:
      return decode_coils(request, pdu, length, tables);
    case ModbusRequest::read_registers:
      return decode_registers(request, pdu, length, tables);
    case ModbusRequest::write_register:
      return decode_echo(request, pdu, length, tables);
    case ModbusRequest::none:
      break;
  }
  return {};
}

const char* describe_reply_failure(const ReplyDecode& decoded) {
  if (decoded.status != ReplyDecode::exception) {
    return "malformed reply";
  }
  for (const ExceptionText& row : kExceptionTexts) {
    if (row.code == decoded.exception_code) {
      return row.text;
    }
  }
  return "exception: unknown code";
}
