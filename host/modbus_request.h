#pragma once

// The one request a Modbus device has outstanding.
struct ModbusRequest {
  enum Kind : unsigned char { none, read_bits, read_registers, write_register };

  Kind kind = none;
  int address = 0;  // first coil or register, as the device passed it
  int count = 0;    // coils or registers to read; 1 for a write
  int value = 0;    // value to write; only its low 16 bits go on the line
};
