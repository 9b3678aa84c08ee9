// The test program's own C library entry points, which the module file loaded into it calls
// too: they count heap calls (AllocationCounter) and fail the Nth call on request (Faults).
#include "allocation_counter.h"
#include "faults.h"

#include <dlfcn.h>
#include <stdio_ext.h>

#include <atomic>
#include <cerrno>
#include <cstddef>
#include <cstdio>
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

std::atomic<bool> faultsArmed{false};
std::atomic<int> faultCall{-1}; // a FaultCall, -1 with no Faults object
std::atomic<long> faultCalls{0};
std::atomic<long> faultAt{0};
std::atomic<bool> faultDone{false};

// True when this call, of kind `call`, is the one to fail.
bool failHere(FaultCall call) {
  if (!faultsArmed.load(std::memory_order_relaxed) ||
      faultCall.load(std::memory_order_relaxed) != int(call))
    return false;
  const long n = faultCalls.fetch_add(1) + 1;
  if (n != faultAt.load()) return false;
  faultDone = true;
  return true;
}

using Overflow = int (*)(FILE*, int);
using Fclose = int (*)(FILE*);
struct RealCalls {
  Overflow overflow = reinterpret_cast<Overflow>(dlsym(RTLD_NEXT, "__overflow"));
  Fclose fclose = reinterpret_cast<Fclose>(dlsym(RTLD_NEXT, "fclose"));
};
// Looked up at the first call, which Faults makes unarmed, so that dlsym's own heap calls never
// count.
const RealCalls& real() {
  static const RealCalls calls;
  return calls;
}
} // namespace

// Seen by the module file, which is linked against the C library and finds these first.
#pragma GCC visibility push(default)
extern "C" {
void* malloc(size_t size) {
  note();
  if (failHere(FaultCall::malloc)) {
    errno = ENOMEM;
    return nullptr;
  }
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

// The C library's inline put calls this when a stream's buffer is full: the write that can fail.
// A failed write leaves the buffer emptied and the byte not put.
int __overflow(FILE* stream, int byte) {
  if (!failHere(FaultCall::write)) return real().overflow(stream, byte);
  __fpurge(stream);
  errno = ENOSPC;
  return EOF;
}
int fclose(FILE* stream) {
  if (!failHere(FaultCall::fclose)) return real().fclose(stream);
  __fpurge(stream);
  real().fclose(stream);
  errno = EIO;
  return EOF;
}
}
#pragma GCC visibility pop

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

Faults::Faults(FaultCall call, long failAt) {
  real();
  faultCalls = 0;
  faultAt = failAt;
  faultDone = false;
  faultCall = int(call);
}
Faults::~Faults() { faultCall = -1; }
long Faults::calls() const { return faultCalls.load(); }
bool Faults::failed() const { return faultDone.load(); }
Faults::Arm::Arm() { faultsArmed = true; }
Faults::Arm::~Arm() { faultsArmed = false; }
