// Reply PDUs of any shape against any outstanding request, through the
// decoder and through the Modbus base that hands decoded replies on.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <vector>

#include "fuzz/fuzz_device.h"
#include "host/SPModbus.h"
#include "host/modbus_reply.h"

namespace {

using velmocair::fuzz::require;

constexpr std::size_t kBitsPerByte = 8;

// A device that only checks what the Modbus base hands it.
class CheckingDevice : public SPModbus {
 public:
  int process_payload(tab_type table, unsigned count) override {
    const ModbusRequest& request = pending_request();
    const bool bits = request.kind == ModbusRequest::read_bits;
    require((table == tab_bits) == bits);
    require(request.kind == ModbusRequest::write_register || count == unsigned(request.count));
    for (unsigned i = 0; bits && i < count; ++i) {
      require(bit_buffer[i] <= 1);
    }
    return 0;
  }
};

}  // namespace

// Input: kind (1 byte), count (2), address (2), table room (1: one item less
// than the count, exactly the count, or one more), then the reply PDU.
extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  constexpr std::size_t kHeader = 6;
  if (size < kHeader) {
    return 0;
  }
  ModbusRequest request;
  request.kind = static_cast<ModbusRequest::Kind>(data[0] % 4);
  request.count = (data[1] << 8 | data[2]) % (SPModbus::kMaxReadBits + 2);
  request.address = data[3] << 8 | data[4];
  request.value = request.address;
  const int room = request.count - 1 + data[5] % 3;

  // Exactly sized heap copies, so that any read or write past them is caught;
  // the tables start as canaries, so that any write into them is seen.
  std::vector<unsigned char> pdu(data + kHeader, data + size);
  const std::size_t items = room > 0 ? static_cast<std::size_t>(room) : 0;
  velmocair::fuzz::ExactBuffer<> bits(items);
  velmocair::fuzz::ExactBuffer<std::uint16_t> registers(items);
  std::uint16_t* const words = registers.data();
  const ReplyDecode decoded =
      decode_reply(request, pdu.data(), pdu.size(), {bits.data(), items, words, items});
  if (decoded.status != ReplyDecode::ok) {
    require(bits.untouched_from(0) && registers.untouched_from(0));
    require(decoded.status != ReplyDecode::exception || pdu.size() == 2);
  } else if (request.kind == ModbusRequest::write_register) {
    require(decoded.count == 1 && pdu.size() == 5 &&
            words[0] == static_cast<std::uint16_t>(pdu[3] << 8 | pdu[4]) &&
            registers.untouched_from(1));
  } else {
    const auto count = static_cast<std::size_t>(request.count);
    require(decoded.count == count && count <= items);
    for (std::size_t i = 0; i < count; ++i) {
      if (request.kind == ModbusRequest::read_bits) {
        require(bits.data()[i] == ((pdu[2 + i / kBitsPerByte] >> (i % kBitsPerByte)) & 1));
      } else {
        require(words[i] == static_cast<std::uint16_t>(pdu[2 + 2 * i] << 8 | pdu[3 + 2 * i]));
      }
    }
    require(request.kind == ModbusRequest::read_bits
                ? bits.untouched_from(count) && registers.untouched_from(0)
                : registers.untouched_from(count) && bits.untouched_from(0));
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
