#pragma once

#include <cstddef>

namespace velmocair {

// Whether a caller's output buffer holds `needed` bytes. A null buffer or a
// negative capacity holds none.
constexpr bool has_room(const void* out, int out_cap, std::size_t needed) {
  return out != nullptr && out_cap >= 0 && static_cast<std::size_t>(out_cap) >= needed;
}

}  // namespace velmocair
