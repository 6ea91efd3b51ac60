#include "tests/robustness/generation_marks.h"

#include "device/Velmocair_Data_t.h"
#include "device/record_access.h"

namespace velmocair::robustness {

std::optional<std::uint16_t> generation_of(const unsigned char* record, std::size_t length) {
  if (record == nullptr || length != sizeof(Velmocair_Data_t)) {
    return std::nullopt;
  }
  const std::uint16_t first = word_at(record, kMarkOffsets[0]);
  for (const std::size_t offset : kMarkOffsets) {
    if (word_at(record, offset) != first) {
      return std::nullopt;
    }
  }
  return first;
}

}  // namespace velmocair::robustness
