#pragma once

#include <cstddef>

namespace velmocair::robustness {

// Resident memory of this process, in bytes.
std::size_t resident_bytes();
// File descriptors this process has open.
std::size_t open_files();

}  // namespace velmocair::robustness
