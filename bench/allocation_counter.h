#pragma once

#include <cstdint>

// Heap use of this process. The benchmark binary replaces the global
// operator new and delete to count allocations and the bytes they hold.
std::uint64_t allocations_so_far();
std::int64_t live_heap_bytes();
