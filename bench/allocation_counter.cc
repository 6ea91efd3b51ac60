#include "bench/allocation_counter.h"

#include <malloc.h>

#include <atomic>
#include <cerrno>
#include <cstddef>

// glibc's own allocator, which the replacements below forward to.
extern "C" {
void* __libc_malloc(std::size_t size);
void* __libc_calloc(std::size_t count, std::size_t size);
void* __libc_realloc(void* block, std::size_t size);
void* __libc_memalign(std::size_t alignment, std::size_t size);
void __libc_free(void* block);
}

namespace {
std::atomic<std::uint64_t> allocations{0};
std::atomic<std::int64_t> live_bytes{0};

void* counted(void* block) {
  if (block != nullptr) {
    allocations.fetch_add(1, std::memory_order_relaxed);
    live_bytes.fetch_add(static_cast<std::int64_t>(malloc_usable_size(block)),
                         std::memory_order_relaxed);
  }
  return block;
}

void uncount(void* block) {
  if (block != nullptr) {
    live_bytes.fetch_sub(static_cast<std::int64_t>(malloc_usable_size(block)),
                         std::memory_order_relaxed);
  }
}
}  // namespace

std::uint64_t allocations_so_far() { return allocations.load(std::memory_order_relaxed); }
std::int64_t live_heap_bytes() { return live_bytes.load(std::memory_order_relaxed); }

extern "C" {
void* malloc(std::size_t size) { return counted(__libc_malloc(size)); }

void* calloc(std::size_t count, std::size_t size) { return counted(__libc_calloc(count, size)); }

void free(void* block) {
  uncount(block);
  __libc_free(block);
}

// A moved or resized block counts as a new allocation; realloc(p, 0) frees p.
void* realloc(void* block, std::size_t size) {
  const std::int64_t old_bytes =
      block != nullptr ? static_cast<std::int64_t>(malloc_usable_size(block)) : 0;
  void* const resized = __libc_realloc(block, size);
  if (resized != nullptr || size == 0) {
    live_bytes.fetch_sub(old_bytes, std::memory_order_relaxed);
  }
  return counted(resized);
}

void* memalign(std::size_t alignment, std::size_t size) {
  return counted(__libc_memalign(alignment, size));
}

void* aligned_alloc(std::size_t alignment, std::size_t size) {
  return counted(__libc_memalign(alignment, size));
}

int posix_memalign(void** block, std::size_t alignment, std::size_t size) {
  void* const aligned = counted(__libc_memalign(alignment, size));
  if (aligned == nullptr) {
    return ENOMEM;
  }
  *block = aligned;
  return 0;
}
}
