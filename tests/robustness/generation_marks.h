#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>

#include "device/poll_cycle_table.h"

namespace velmocair::robustness {

// A simulator that marks generations writes the number of the cycle it is in
// into the first register of every register block the device reads; the
// record images those registers at these offsets.
inline constexpr std::size_t kMarkedBlocks = 8;

constexpr std::array<std::size_t, kMarkedBlocks> mark_offsets() {
  std::array<std::size_t, kMarkedBlocks> offsets{};
  std::size_t next = 0;
  for (const PollStep& row : kPollCycle) {
    if (row.request.kind == ReadKind::registers && next < offsets.size()) {
      offsets[next++] = row.target.offset;
    }
  }
  return offsets;
}

constexpr std::size_t register_blocks() {
  std::size_t blocks = 0;
  for (const PollStep& row : kPollCycle) {
    blocks += row.request.kind == ReadKind::registers ? 1 : 0;
  }
  return blocks;
}
static_assert(register_blocks() == kMarkedBlocks, "every register block carries a mark");

inline constexpr std::array<std::size_t, kMarkedBlocks> kMarkOffsets = mark_offsets();

// The generation of a whole record whose marks all agree; nothing for a
// record of another size or one whose blocks come from different cycles.
std::optional<std::uint16_t> generation_of(const unsigned char* record, std::size_t length);

}  // namespace velmocair::robustness
