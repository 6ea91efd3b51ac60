#pragma once

#include <cstdint>

// Heap allocations made by this process so far. The benchmark binary replaces
// the global operator new to count them.
std::uint64_t allocations_so_far();
