// Reply PDUs of any shape against any outstanding request, through the
// decoder and through the Modbus base that hands decoded replies on.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <vector>

#include "host/SPModbus.h"
#include "host/modbus_reply.h"

namespace {

// A device that only checks what the Modbus base hands it.
class CheckingDevice : public SPModbus {
 public:
  int process_payload(tab_type table, unsigned count) override {
    const ModbusRequest& request = pending_request();
    const bool bits = request.kind == ModbusRequest::read_bits;
    if ((table == tab_bits) != bits) {
      std::abort();
    }
    if (request.kind != ModbusRequest::write_register && count != unsigned(request.count)) {
      std::abort();
    }
    for (unsigned i = 0; bits && i < count; ++i) {
      if (bit_buffer[i] > 1) {
        std::abort();
      }
    }
    return 0;
  }
};

}  // namespace

// Input: kind (1 byte), count (2), address (2), then the reply PDU.
extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  constexpr std::size_t kHeader = 5;
  if (size < kHeader) {
    return 0;
  }
  ModbusRequest request;
  request.kind = static_cast<ModbusRequest::Kind>(data[0] % 4);
  request.count = (data[1] << 8 | data[2]) % (SPModbus::kMaxReadBits + 2);
  request.address = data[3] << 8 | data[4];
  request.value = request.address;

  // Exactly sized heap copies, so that any read or write past them is caught.
  std::vector<unsigned char> pdu(data + kHeader, data + size);
  const std::size_t items = request.count > 0 ? static_cast<std::size_t>(request.count) : 1;
  std::vector<unsigned char> bits(items);
  std::vector<std::uint16_t> registers(items);
  const ReplyDecode decoded =
      decode_reply(request, pdu.data(), pdu.size(),
                   {bits.data(), bits.size(), registers.data(), registers.size()});
  if (decoded.status == ReplyDecode::exception && pdu.size() != 2) {
    std::abort();
  }
  describe_reply_failure(decoded);

  CheckingDevice device;
  switch (request.kind) {
    case ModbusRequest::read_bits:
      device.modbus_read_bits(request.address, request.count);
      break;
    case ModbusRequest::read_registers:
      device.modbus_read_registers(request.address, request.count);
      break;
    case ModbusRequest::write_register:
      device.modbus_write_register(request.address, request.value);
      break;
    case ModbusRequest::none:
      break;
  }
  device.process(pdu.data(), static_cast<unsigned>(pdu.size()));
  return 0;
}
