// Raw reply frames as the host's Modbus master receives them, RTU and TCP:
// the host's own framing check (strip_adu), then the device's reply path for
// a read of its poll cycle or the echo of a control write. The frame is the
// fuzzer's bytes as they are, or its PDU wrapped in a well-formed frame so
// that the decoding behind the framing is reached.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <iterator>
#include <memory>
#include <string>
#include <vector>

#include "fuzz/echo.h"
#include "fuzz/fuzz_device.h"
#include "host/NullController.h"
#include "host/services/adu.h"

namespace {

using sitehost::Framing;
using velmocair::fuzz::ByteReader;
using velmocair::fuzz::FuzzDevice;
using velmocair::fuzz::require;
using Bytes = std::vector<std::uint8_t>;

constexpr std::size_t kRtuOverhead = 3;  // unit address and CRC
constexpr std::size_t kTcpHeader = 7;    // MBAP header with the unit id
constexpr std::size_t kTcpLengthCounted = 6;
constexpr std::uint8_t kReadCoils = 0x01;
constexpr std::uint8_t kReadHoldingRegisters = 0x03;
constexpr std::uint8_t kExceptionFlag = 0x80;
constexpr std::size_t kBitsPerByte = 8;

std::size_t reply_bytes(const ModbusRequest& read) {
  const auto count = static_cast<std::size_t>(read.count);
  return read.kind == ModbusRequest::read_bits ? (count + kBitsPerByte - 1) / kBitsPerByte
                                               : 2 * count;
}

std::uint16_t word_at(const std::uint8_t* bytes) {
  return static_cast<std::uint16_t>(bytes[0] << 8 | bytes[1]);
}

Bytes wrap(Framing framing, std::uint8_t unit, const Bytes& pdu) {
  Bytes adu;
  if (framing == Framing::rtu) {
    adu.push_back(unit);
    adu.insert(adu.end(), pdu.begin(), pdu.end());
    const std::uint16_t crc = sitehost::modbus_crc16(adu.data(), adu.size());
    adu.push_back(static_cast<std::uint8_t>(crc & 0xFF));
    adu.push_back(static_cast<std::uint8_t>(crc >> 8));
    return adu;
  }
  const std::size_t counted = pdu.size() + 1;
  adu = {0,   0, 0, 0, static_cast<std::uint8_t>(counted >> 8), static_cast<std::uint8_t>(counted),
         unit};
  adu.insert(adu.end(), pdu.begin(), pdu.end());
  return adu;
}

// What the framing check must have found in `adu` when it accepted it.
void check_accepted_frame(Framing framing, const std::uint8_t* adu, std::size_t n, int unit,
                          const sitehost::ReplyFrame& frame) {
  if (framing == Framing::rtu) {
    require(n >= kRtuOverhead + 2 && adu[0] == unit);
    require(sitehost::modbus_crc16(adu, n - 2) ==
            static_cast<std::uint16_t>(adu[n - 2] | adu[n - 1] << 8));
    require(frame.pdu == adu + 1 && frame.length == n - kRtuOverhead);
  } else {
    require(n >= kTcpHeader + 2 && word_at(adu) == 0 && word_at(adu + 2) == 0 &&
            word_at(adu + 4) == n - kTcpLengthCounted && adu[6] == unit);
    require(frame.pdu == adu + kTcpHeader && frame.length == n - kTcpHeader);
  }
}

// Whether `pdu` answers `request` as a unit would: the right function code,
// and the byte count of the read, or the echoed register.
ReplyDecode::Status expected_status(const ModbusRequest& request, const Bytes& pdu) {
  const std::uint8_t code = request.kind == ModbusRequest::read_bits ? kReadCoils
                            : request.kind == ModbusRequest::read_registers
                                ? kReadHoldingRegisters
                                : velmocair::fuzz::kWriteSingleRegister;
  if (pdu.size() == 2 && pdu[0] == (code | kExceptionFlag)) {
    return ReplyDecode::exception;
  }
  if (pdu.size() < 2 || pdu[0] != code) {
    return ReplyDecode::malformed;
  }
  if (request.kind == ModbusRequest::write_register) {
    return pdu.size() == 5 && word_at(pdu.data() + 1) == static_cast<std::uint16_t>(request.address)
               ? ReplyDecode::ok
               : ReplyDecode::malformed;
  }
  const std::size_t bytes = reply_bytes(request);
  return pdu.size() == 2 + bytes && pdu[1] == bytes ? ReplyDecode::ok : ReplyDecode::malformed;
}

// Brings the device to a read of its poll cycle (`choice` picks the step) or
// to a control write (`choice` picks the command, `value` the set-point).
void prepare(FuzzDevice& device, bool write, std::uint8_t choice, std::uint16_t value) {
  if (write) {
    const velmocair::NumericCommand& command =
        velmocair::kNumericCommands[choice % std::size(velmocair::kNumericCommands)];
    int out_len = 0;
    device.DeviceIoControl(command.code, &value, sizeof value, nullptr, 0, out_len);
    return;
  }
  device.RefreshStatus();
  for (std::size_t i = 0; i < choice % std::size(velmocair::kPollCycle); ++i) {
    const ModbusRequest& pending = device.pending_request();
    const std::size_t bytes = reply_bytes(pending);
    Bytes pdu{pending.kind == ModbusRequest::read_bits ? kReadCoils : kReadHoldingRegisters,
              static_cast<std::uint8_t>(bytes)};
    pdu.resize(2 + bytes, 0);
    velmocair::fuzz::deliver(device, pdu);
  }
}

// The record image of a read's reply: a byte per coil, registers low byte
// first.
Bytes record_image(const ModbusRequest& read, const Bytes& pdu) {
  Bytes image;
  for (int i = 0; i < read.count; ++i) {
    const auto item = static_cast<std::size_t>(i);
    if (read.kind == ModbusRequest::read_bits) {
      image.push_back(
          static_cast<std::uint8_t>((pdu[2 + item / kBitsPerByte] >> (item % kBitsPerByte)) & 1));
    } else {
      image.push_back(pdu[3 + 2 * item]);
      image.push_back(pdu[2 + 2 * item]);
    }
  }
  return image;
}

}  // namespace

// Bits of the input's first byte.
constexpr std::uint8_t kTcpFlag = 1;        // TCP framing, else RTU
constexpr std::uint8_t kWrapFlag = 2;       // wrap the body in a well-formed frame
constexpr std::uint8_t kWriteFlag = 4;      // a control write is outstanding, else a read
constexpr std::uint8_t kOtherUnitFlag = 8;  // a wrapped frame names its own unit address

// Input: flags (above), the unit address the host expects, the unit
// address of a wrapped frame, what is outstanding (read step or command and
// set-point), then the frame or the PDU to wrap.
extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  constexpr std::size_t kHeader = 6;
  ByteReader header(data, size < kHeader ? size : kHeader);
  const std::uint8_t flags = header.u8();
  const Framing framing = (flags & kTcpFlag) != 0 ? Framing::tcp : Framing::rtu;
  const bool wrapped = (flags & kWrapFlag) != 0;
  const bool write = (flags & kWriteFlag) != 0;
  const std::uint8_t unit = header.u8();
  const std::uint8_t other_unit = header.u8();
  const std::uint8_t frame_unit = (flags & kOtherUnitFlag) != 0 ? other_unit : unit;
  const std::uint8_t choice = header.u8();
  const std::uint16_t value = header.u16();
  const Bytes body = size > kHeader ? Bytes(data + kHeader, data + size) : Bytes();

  const Bytes adu_bytes = wrapped ? wrap(framing, frame_unit, body) : body;
  velmocair::fuzz::ExactBuffer<> adu(adu_bytes.size());
  std::copy(adu_bytes.begin(), adu_bytes.end(), adu.data());
  const sitehost::ReplyFrame frame = sitehost::strip_adu(framing, adu.data(), adu.size(), unit);
  if (wrapped && frame_unit == unit && body.size() >= 2) {
    require(frame.ok());  // a well-formed frame from the expected unit is taken
  }
  if (!frame.ok()) {
    return 0;
  }
  check_accepted_frame(framing, adu.data(), adu.size(), unit, frame);
  const Bytes pdu(frame.pdu, frame.pdu + frame.length);

  const auto host = std::make_shared<NullController>();
  FuzzDevice device;
  device.Init(host, 1, Json::Value(Json::objectValue));
  prepare(device, write, choice, value);
  velmocair::fuzz::check_state(device);
  if (!device.IsProcessing()) {
    require(velmocair::fuzz::deliver(device, pdu) == -1);  // nothing outstanding
    return 0;
  }
  const ModbusRequest request = device.pending_request();
  const int step = device.step;
  const auto record = device.record;
  const int result = velmocair::fuzz::deliver(device, pdu);
  const ReplyDecode::Status status = expected_status(request, pdu);
  require(device.last_reply().status == status);
  velmocair::fuzz::check_state(device);
  if (status != ReplyDecode::ok) {
    require(result == -1 && device.IsStalled() && device.step == step &&
            std::memcmp(&record, &device.record, sizeof record) == 0);
    require(request.kind != ModbusRequest::write_register ||
            device.write_result == velmocair::fuzz::kNoWrite);
    return 0;
  }
  if (request.kind == ModbusRequest::write_register) {
    const std::uint16_t echoed = word_at(pdu.data() + 3);
    require(result == 0 && device.write_result ==
                               (echoed == static_cast<std::uint16_t>(device.write_value) ? 0 : 3));
    return 0;
  }
  const velmocair::PollStep& poll = *velmocair::find_poll_step(step);
  const unsigned char* const filled = velmocair::record_bytes(device.record);
  require(std::memcmp(&record, filled, poll.target.offset) == 0);
  const Bytes image = record_image(request, pdu);
  require(image.size() == poll.target.bytes &&
          std::memcmp(filled + poll.target.offset, image.data(), image.size()) == 0);
  require(result == (&poll == &velmocair::kLastPollStep ? 0 : 1));
  return 0;
}
