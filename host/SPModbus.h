#pragma once

#include <array>
#include <cstdint>
#include <iostream>

#include "host/ORBSPDevice.h"
#include "host/modbus_reply.h"
#include "host/modbus_request.h"

// Host base of a Modbus device on a serial line (or a Modbus/TCP endpoint).
// A read or write leaves one outstanding request; the host's master carries
// it out, decodes the reply into bit_buffer or register_buffer through
// process() and so calls the device's process_payload.
//
// Configuration read by InitSetting (all optional), under the key "modbus":
//   "unit_id": unit address 0..255 (the host allows 1..247 on a serial line),
//              default modbus_preset_byte
//   "baud":    baud rate of a serial line, default modbus_preset_int
class SPModbus : public ORBSPDevice {
 public:
  enum tab_type { tab_bits, tab_registers };

  static constexpr int kMaxReadBits = 2000;      // the protocol's limit per read
  static constexpr int kMaxReadRegisters = 125;  // likewise

  int InitSetting(const Json::Value& setting) override;
  // Hands one reply PDU (function code onwards) to the outstanding request.
  // Returns process_payload's result, or -1 when the reply does not answer
  // the request (the exchange is then abandoned).
  int process(unsigned char* pdu, unsigned length) override;

  // Operations this class adds, in the host's dispatch order.
  virtual int process_payload(tab_type table, unsigned count) = 0;
  virtual int on_error() {
    std::cout << "SPModbus get error\n" << std::flush;
    return 0;
  }

  int modbus_read_bits(int first, int count);
  int modbus_read_registers(int first, int count);
  int modbus_write_register(int reg, int value);

  // Ends the outstanding exchange without a reply (time-out, broken frame,
  // lost connection): calls on_error(); the device keeps its step.
  void abandon_exchange();

  // The request the host must carry out while IsProcessing() is true.
  const ModbusRequest& pending_request() const { return pending_; }
  // How the last reply handed to process() decoded.
  const ReplyDecode& last_reply() const { return last_reply_; }
  // Unit address and baud rate resolved by InitSetting.
  int unit_id() const { return unit_id_; }
  int baud_rate() const { return baud_rate_; }

  int step = 0;
  std::uint8_t modbus_preset_byte = 1;
  std::int32_t modbus_preset_int = 9600;
  std::array<unsigned char, kMaxReadBits> bit_buffer{};
  std::array<std::uint16_t, kMaxReadRegisters> register_buffer{};

 protected:
  SPModbus() = default;

 private:
  void issue(ModbusRequest request);

  ModbusRequest pending_;
  ReplyDecode last_reply_;
  int unit_id_ = 1;
  int baud_rate_ = 9600;
};
