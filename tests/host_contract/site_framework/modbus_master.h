#ifndef SITE_FRAMEWORK_MODBUS_MASTER_H
#define SITE_FRAMEWORK_MODBUS_MASTER_H

#include <cstdint>
#include <cstdio>

#include "site_framework/serial_port_device.h"

// Modbus master of a device on a serial port. A read or write is carried out
// by the host, which decodes the reply into bit_buffer or register_buffer and
// then calls process_payload.
class SPModbus : public ORBSPDevice {
 public:
  enum class tab_type : unsigned char { coils, holding_registers };

  bool InitSetting(const Json::Value& setting) override;
  long process(unsigned char* data, unsigned length) override;

  virtual long process_payload(tab_type table, unsigned int count) = 0;
  virtual long on_error() {
    std::fputs("SPModbus get error\n", stdout);
    std::fflush(stdout);
    return 0;
  }

  bool modbus_read_bits(int first, int count);
  bool modbus_read_registers(int first, int count);
  bool modbus_write_register(int reg, int value);

 protected:
  int step = 0;
  std::int8_t modbus_preset_byte = 0;
  int modbus_preset_int = 0;
  unsigned char bit_buffer[64] = {};
  unsigned short register_buffer[40] = {};
};

#endif
