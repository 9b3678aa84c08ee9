#ifndef QUORB_TESTS_REALTIME_ALLOCATION_COUNTER_H
#define QUORB_TESTS_REALTIME_ALLOCATION_COUNTER_H

// Counts every heap call of the process (malloc, calloc, realloc, free, and operator new and
// delete, which go through them) made between construction and count(), by anyone: the test
// program, the C and C++ libraries and the module file loaded into it. On Windows only
// allocations are counted, those that msvcrt.dll or the module file make (its HeapAlloc calls);
// realloc and free are not.

class AllocationCounter {
public:
  AllocationCounter();
  ~AllocationCounter();
  AllocationCounter(const AllocationCounter&) = delete;
  AllocationCounter& operator=(const AllocationCounter&) = delete;

  long count() const;

private:
  long start_ = 0;
};

#endif // QUORB_TESTS_REALTIME_ALLOCATION_COUNTER_H
