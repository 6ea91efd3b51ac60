#pragma once

// The unit's answer to a write the device has outstanding, through the host's
// reply path (SPModbus::process), and what the device must make of it.
#include <algorithm>
#include <cstdint>
#include <cstring>
#include <vector>

#include "fuzz/fuzz_device.h"

namespace velmocair::fuzz {

enum class EchoKind : std::uint8_t { matching, offset, time_out, exception, wrong_address };
inline constexpr std::uint8_t kEchoKinds = 5;

struct Echo {
  EchoKind kind;
  std::uint16_t value;  // offset added to the echoed value, or the exception code
};

inline Echo read_echo(ByteReader& in) {
  const auto kind = static_cast<EchoKind>(in.u8() % kEchoKinds);
  return {kind, in.u16()};
}

inline constexpr std::uint8_t kWriteSingleRegister = 0x06;
inline constexpr std::uint8_t kExceptionFlag = 0x80;

inline std::vector<std::uint8_t> echo_pdu(int reg, std::uint16_t value) {
  return {kWriteSingleRegister, static_cast<std::uint8_t>(reg >> 8), static_cast<std::uint8_t>(reg),
          static_cast<std::uint8_t>(value >> 8), static_cast<std::uint8_t>(value)};
}

// Hands `pdu` to the device in a buffer of exactly its size.
inline int deliver(FuzzDevice& device, const std::vector<std::uint8_t>& pdu) {
  ExactBuffer<> exact(pdu.size());
  std::copy(pdu.begin(), pdu.end(), exact.data());
  return device.process(exact.data(), static_cast<unsigned>(pdu.size()));
}

// Answers an outstanding write as `echo` says. An echo of the register
// written is judged in 16 bits: 0 when it equals the value written, else 3;
// a time-out, an exception or an echo of another register leaves the
// result unknown (-1). A JSON command that wrote nothing since the write
// went out ignores its echo.
inline void answer_write(FuzzDevice& device, const Echo& echo) {
  if (!device.IsProcessing() || device.pending_request().kind != ModbusRequest::write_register) {
    return;
  }
  const int reg = device.pending_request().address;
  const auto written = static_cast<std::uint16_t>(device.write_value);
  require(device.write_result == kNoWrite);
  if (!is_write_acknowledgement_step(device.step)) {
    require(deliver(device, echo_pdu(reg, written)) == 1 && device.write_result == kNoWrite);
    return;
  }
  switch (echo.kind) {
    case EchoKind::matching:
    case EchoKind::offset: {
      const auto echoed = static_cast<std::uint16_t>(
          written + (echo.kind == EchoKind::offset ? echo.value : std::uint16_t{0}));
      require(deliver(device, echo_pdu(reg, echoed)) == 0);
      require(device.write_result == (echoed == written ? 0 : 3));
      require(!device.IsProcessing() && !device.IsStalled());
      return;
    }
    case EchoKind::time_out:
      device.abandon_exchange();
      break;
    case EchoKind::exception:
      require(deliver(device, {static_cast<std::uint8_t>(kWriteSingleRegister | kExceptionFlag),
                               static_cast<std::uint8_t>(echo.value)}) == -1);
      break;
    case EchoKind::wrong_address:
      require(deliver(device, echo_pdu(reg + 1 + echo.value % 0xFFFF, written)) == -1);
      break;
  }
  require(device.write_result == kNoWrite && !device.IsProcessing() && device.IsStalled());
}

}  // namespace velmocair::fuzz
