#pragma once

#include <climits>
#include <cmath>

namespace velmocair {

// Integer part of `value` (truncated toward zero), clamped to the range of
// int; NaN gives 0. A plain conversion of an out-of-range double is undefined.
inline int saturating_int(double value) {
  if (std::isnan(value)) {
    return 0;
  }
  if (value >= static_cast<double>(INT_MAX)) {
    return INT_MAX;
  }
  if (value <= static_cast<double>(INT_MIN)) {
    return INT_MIN;
  }
  return static_cast<int>(value);
}

}  // namespace velmocair
