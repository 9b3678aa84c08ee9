#ifndef QUORB_TESTS_REALTIME_FAULTS_H
#define QUORB_TESTS_REALTIME_FAULTS_H

// The fault seam (Linux): the test program's own stream write, fclose and malloc, which the
// module file loaded into it calls too, can be made to fail once, at the Nth call made while a
// Faults object is armed. Counting only while armed keeps the test's own calls (strings, the
// rig, GoogleTest) out of the count: arm it around calls into the module.
//
// The stream write is __overflow, which the C library's inline put (putc_unlocked) calls when a
// stream's buffer is full: a failing one drops the buffer and the byte, as a failed write does,
// and returns EOF. A failing fclose drops what the stream still holds, as a close whose last
// write fails does, closes the descriptor and returns EOF. A failing malloc returns null with
// ENOMEM.

enum class FaultCall { write, fclose, malloc };

class Faults {
public:
  // failAt 0: fail nothing, only count.
  Faults(FaultCall call, long failAt);
  ~Faults();
  Faults(const Faults&) = delete;
  Faults& operator=(const Faults&) = delete;

  // Runs `body` armed: its calls of the chosen kind count, and the failAt-th fails.
  template <typename Body> auto armed(Body body) {
    Arm arm;
    return body();
  }
  long calls() const; // of the chosen kind while armed, so far
  bool failed() const;

private:
  struct Arm {
    Arm();
    ~Arm();
  };
};

#endif // QUORB_TESTS_REALTIME_FAULTS_H
