#pragma once

#include <iterator>

namespace velmocair {

// Steps at which a control write awaits the unit's echo: a numeric command
// (and a JSON command that issued a write) leaves its command code in step.
inline constexpr int kWriteAcknowledgementSteps[] = {100, 102, 106, 110};

// Outcome of the last control write, which a result query reports.
inline constexpr int kWriteResultNone = -1;  // no write, or its echo is pending
inline constexpr int kWriteConfirmed = 0;
inline constexpr int kWriteEchoMismatch = 3;

constexpr bool is_write_acknowledgement_step(int step) {
  for (const int code : kWriteAcknowledgementSteps) {
    if (step == code) {
      return true;
    }
  }
  return false;
}

}  // namespace velmocair
