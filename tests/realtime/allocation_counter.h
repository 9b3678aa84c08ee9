#ifndef QUORB_TESTS_REALTIME_ALLOCATION_COUNTER_H
#define QUORB_TESTS_REALTIME_ALLOCATION_COUNTER_H

// Counts every heap call of the process (malloc, calloc, realloc, free, and operator new and
// delete, which go through them) made between construction and count(), by anyone: the test
// program, the C and C++ libraries and the module file loaded into it. On Windows: every heap
// call that msvcrt.dll or the module file makes, and every lock they take (locks()).

class AllocationCounter {
public:
  AllocationCounter();
  ~AllocationCounter();
  AllocationCounter(const AllocationCounter&) = delete;
  AllocationCounter& operator=(const AllocationCounter&) = delete;

  long count() const;
#ifdef _WIN32
  long locks() const;
#endif

private:
  long start_ = 0;
#ifdef _WIN32
  long lockStart_ = 0;
#endif
};

#endif // QUORB_TESTS_REALTIME_ALLOCATION_COUNTER_H
