#pragma once

namespace velmocair {

// Byte-wise equality of two zero-terminated texts, usable in constant
// expressions.
constexpr bool same_text(const char* a, const char* b) {
  for (; *a != '\0' || *b != '\0'; ++a, ++b) {
    if (*a != *b) {
      return false;
    }
  }
  return true;
}

}  // namespace velmocair
