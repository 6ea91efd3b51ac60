#include "bench/allocation_counter.h"

#include <malloc.h>

#include <atomic>
#include <cstdlib>
#include <new>

namespace {
std::atomic<std::uint64_t> allocations{0};
std::atomic<std::int64_t> live_bytes{0};

void release(void* block) noexcept {
  if (block != nullptr) {
    live_bytes.fetch_sub(static_cast<std::int64_t>(malloc_usable_size(block)),
                         std::memory_order_relaxed);
    std::free(block);
  }
}
}  // namespace

std::uint64_t allocations_so_far() { return allocations.load(std::memory_order_relaxed); }
std::int64_t live_heap_bytes() { return live_bytes.load(std::memory_order_relaxed); }

void* operator new(std::size_t size) {
  void* block = std::malloc(size == 0 ? 1 : size);
  if (block == nullptr) {
    throw std::bad_alloc();
  }
  allocations.fetch_add(1, std::memory_order_relaxed);
  live_bytes.fetch_add(static_cast<std::int64_t>(malloc_usable_size(block)),
                       std::memory_order_relaxed);
  return block;
}

void operator delete(void* block) noexcept { release(block); }
void operator delete(void* block, std::size_t) noexcept { release(block); }
