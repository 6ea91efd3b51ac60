#include "host/SPModbus.h"

namespace {

// 1..247 on a serial line; over TCP a unit is also addressed as 0 or 255.
constexpr int kMinUnitId = 0;
constexpr int kMaxUnitId = 255;

// An optional integer member within [low, high]; false when present but not
// such an integer.
bool read_int_member(const Json::Value& object, const char* key, int low, int high, int& out) {
  if (!object.isMember(key)) {
    return true;
  }
  const Json::Value& value = object[key];
  if (!value.isIntegral() || !value.isInt() || value.asInt() < low || value.asInt() > high) {
    return false;
  }
  out = value.asInt();
  return true;
}

}  // namespace

int SPModbus::InitSetting(const Json::Value& setting) {
  int unit = modbus_preset_byte;
  int baud = modbus_preset_int;
  if (setting.isObject() && setting.isMember("modbus")) {
    const Json::Value& modbus = setting["modbus"];
    if (!modbus.isObject() || !read_int_member(modbus, "unit_id", kMinUnitId, kMaxUnitId, unit) ||
        !read_int_member(modbus, "baud", 1, INT32_MAX, baud)) {
      return -1;
    }
  }
  unit_id_ = unit;
  baud_rate_ = baud;
  auto host = controller();
  return host ? host->InitSetting(*this, setting) : -1;
}

int SPModbus::process(unsigned char* pdu, unsigned length) {
  if (!processing) {
    return -1;  // nothing outstanding: an unsolicited or late reply
  }
  last_reply_ = decode_reply(
      pending_, pdu, length,
      {bit_buffer.data(), bit_buffer.size(), register_buffer.data(), register_buffer.size()});
  if (last_reply_.status != ReplyDecode::ok) {
    abandon_exchange();
    return -1;
  }
  const tab_type table = pending_.kind == ModbusRequest::read_bits ? tab_bits : tab_registers;
  processing = false;
  stalled = false;
  return process_payload(table, last_reply_.count);
}

int SPModbus::modbus_read_bits(int first, int count) {
  if (count < 1 || count > kMaxReadBits) {
    return -1;
  }
  issue({ModbusRequest::read_bits, first, count, 0});
  auto host = controller();
  return host ? host->modbus_read_bits(*this, first, count) : -1;
}

int SPModbus::modbus_read_registers(int first, int count) {
  if (count < 1 || count > kMaxReadRegisters) {
    return -1;
  }
  issue({ModbusRequest::read_registers, first, count, 0});
  auto host = controller();
  return host ? host->modbus_read_registers(*this, first, count) : -1;
}

int SPModbus::modbus_write_register(int reg, int value) {
  issue({ModbusRequest::write_register, reg, 1, value});
  auto host = controller();
  return host ? host->modbus_write_register(*this, reg, value) : -1;
}

void SPModbus::abandon_exchange() {
  processing = false;
  stalled = true;
  on_error();
}

void SPModbus::issue(ModbusRequest request) {
  pending_ = request;
  processing = true;
}
