#include "tests/support/test_unit.h"

#include <algorithm>

TestUnit::TestUnit(const Json::Value& setting) {
  device.local_clock = [this] { return now; };
  device.Init(host.controller, kDataId, setting);
  host.calls.clear();
}

int TestUnit::reply_bits(const std::vector<unsigned char>& bits) {
  std::copy(bits.begin(), bits.end(), device.bit_buffer.begin());
  return device.process_payload(SPModbus::tab_bits, static_cast<unsigned>(bits.size()));
}

int TestUnit::reply_registers(const std::vector<std::uint16_t>& registers) {
  std::copy(registers.begin(), registers.end(), device.register_buffer.begin());
  return device.process_payload(SPModbus::tab_registers, static_cast<unsigned>(registers.size()));
}

int TestUnit::run_cycle(unsigned char coil, std::uint16_t word) {
  device.RefreshStatus();
  int replies = 0;
  // Answers whatever the device has outstanding, as a host would; a device
  // that never stops asking is cut off well after one cycle's worth.
  while (device.IsProcessing() && replies < kReplyLimit) {
    const ModbusRequest& request = device.pending_request();
    std::vector<unsigned char> pdu = request.kind == ModbusRequest::read_bits
                                         ? coils_reply_pdu(request.count, coil)
                                         : registers_reply_pdu(request.count, word);
    ++replies;
    device.process(pdu.data(), static_cast<unsigned>(pdu.size()));
  }
  return replies;
}

std::vector<unsigned char> coils_reply_pdu(int count, unsigned char value) {
  std::vector<unsigned char> pdu{0x01, static_cast<unsigned char>((count + 7) / 8)};
  pdu.resize(2 + pdu[1], 0);
  for (int i = 0; i < count && value != 0; ++i) {
    pdu[2 + i / 8] = static_cast<unsigned char>(pdu[2 + i / 8] | (1 << (i % 8)));
  }
  return pdu;
}

std::vector<unsigned char> registers_reply_pdu(int count, std::uint16_t value) {
  std::vector<unsigned char> pdu{0x03, static_cast<unsigned char>(2 * count)};
  for (int i = 0; i < count; ++i) {
    pdu.push_back(static_cast<unsigned char>(value >> 8));
    pdu.push_back(static_cast<unsigned char>(value & 0xFF));
  }
  return pdu;
}
