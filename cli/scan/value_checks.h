#pragma once

#include <cstdint>
#include <map>
#include <string>
#include <vector>

namespace velmocair::cli {

// What one walk of the poll cycle read from a unit: its coils and holding
// registers by address, and whether every coil reply left the bits beyond
// the coils asked for clear, as a Modbus unit pads its last byte.
struct CycleValues {
  std::map<int, int> coils;
  std::map<int, std::uint16_t> registers;
  bool coil_padding_clear = true;
};

// The checks the values passed, by name ("state words 0/1"), and for each
// one failed the value that fails it.
struct ValueVerdict {
  std::vector<std::string> passed;
  std::vector<std::string> failed;

  bool plausible() const { return failed.empty(); }
};

// Whether the values can be those of a unit of this type: its coils read as
// bits, its state words (run-mode flags, on/off, local operation) 0 or 1, its
// set-points within what a unit can be set to, and its high alarm limits
// above the low ones. A device whose every register holds the same value
// fails at least two of them.
ValueVerdict check_values(const CycleValues& values);

}  // namespace velmocair::cli
