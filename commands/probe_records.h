#pragma once

#include <array>
#include <vector>

#include "device/Velmocair_Data_t.h"

namespace velmocair::status {

using RecordBytes = std::array<unsigned char, sizeof(Velmocair_Data_t)>;

// Records for checking a decoder of stored records against a device's own
// status document: every coil and every register at 0, then at 1, then at
// 2 (each state text's values and the first invalid one of most); the
// coils at 1 with the registers at 0 and the other way round (a member shown
// from a coil and again from a register takes the later); and a ramp, each
// byte its offset (large words, and each member a value of its own).
std::vector<RecordBytes> probe_records();

}  // namespace velmocair::status
