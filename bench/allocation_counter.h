#pragma once

#include <cstdint>

// Heap use of this process. The benchmark binary replaces malloc, calloc,
// realloc, the aligned allocators and free (which the global operator new
// and delete reach), so that it counts the allocations of C++ code and of C
// code alike: jsoncpp keeps every string value in a block of its own from
// malloc.
std::uint64_t allocations_so_far();
std::int64_t live_heap_bytes();
