#include "commands/write_acknowledgement.h"

#include <cstdint>

#include "device/Velmocair.h"

// The unit echoes the register it wrote; the write is confirmed when the echo
// equals the value sent, compared at the register's 16-bit width.
Velmocair::PayloadResult Velmocair::AcknowledgeWrite() {
  const std::uint16_t echo = register_buffer[0];
  write_result = echo == static_cast<std::uint16_t>(write_value) ? velmocair::kWriteConfirmed
                                                                 : velmocair::kWriteEchoMismatch;
  Reset();
  return 0;
}
