#include "allocation_counter.h"

#include <atomic>
#include <cstddef>
#include <new>

// glibc's own allocator under its second names; the replacements below count, then forward.
extern "C" {
void* __libc_malloc(size_t size);
void* __libc_calloc(size_t count, size_t size);
void* __libc_realloc(void* block, size_t size);
void __libc_free(void* block);
}

namespace {
std::atomic<long> heapCalls{0};
std::atomic<int> counters{0};

void note() {
  if (counters.load(std::memory_order_relaxed) > 0)
    heapCalls.fetch_add(1, std::memory_order_relaxed);
}
} // namespace

extern "C" {
void* malloc(size_t size) {
  note();
  return __libc_malloc(size);
}
void* calloc(size_t count, size_t size) {
  note();
  return __libc_calloc(count, size);
}
void* realloc(void* block, size_t size) {
  note();
  return __libc_realloc(block, size);
}
void free(void* block) {
  if (block != nullptr) note();
  __libc_free(block);
}
}

// Through malloc and free whatever the C++ library would do, so that none is missed.
void* operator new(size_t size) {
  void* block = malloc(size == 0 ? 1 : size);
  if (block == nullptr) throw std::bad_alloc();
  return block;
}
void* operator new[](size_t size) { return operator new(size); }
void operator delete(void* block) noexcept { free(block); }
void operator delete[](void* block) noexcept { free(block); }
void operator delete(void* block, size_t) noexcept { free(block); }
void operator delete[](void* block, size_t) noexcept { free(block); }

AllocationCounter::AllocationCounter() : start_(heapCalls.load()) { counters.fetch_add(1); }
AllocationCounter::~AllocationCounter() { counters.fetch_sub(1); }
long AllocationCounter::count() const { return heapCalls.load() - start_; }
