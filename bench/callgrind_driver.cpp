// Records N messages through the module, the baseline or the floor so that callgrind can count
// the instructions: collect only inside quorb_capture and divide its total by N.
//   valgrind --tool=callgrind --collect-atstart=no --toggle-collect=quorb_capture
//            quorb_bench_callgrind module|baseline|floor N
// (`make bench-callgrind` does this and prints the quotient.)
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <thread>

#include "bench_rig.h"

extern "C" {
__attribute__((noinline)) void quorb_capture(BenchRecorder* recorder, Baseline* baseline,
                                             Floor* floor, unsigned long count) {
  for (unsigned long n = 0; n < count; ++n) {
    if (recorder != nullptr) {
      recorder->host.clock = static_cast<uint32_t>(n);
      recorder->module.midi(0x00403C90u);
    } else if (baseline != nullptr) {
      baseline->host.clock = static_cast<uint32_t>(n);
      baseline->capture(0x00403C90u);
    } else {
      floor->host.clock = static_cast<uint32_t>(n);
      floor->capture(0x00403C90u);
    }
  }
}
}

int main(int argc, char** argv) {
  const char* what = argc == 3 ? argv[1] : "";
  if (std::strcmp(what, "module") != 0 && std::strcmp(what, "baseline") != 0 &&
      std::strcmp(what, "floor") != 0) {
    std::fprintf(stderr, "usage: %s module|baseline|floor N\n", argv[0]);
    return 2;
  }
  // As in quorb_bench: a second thread, so that glibc's stream locks are taken as in the host.
  std::thread([] {}).join();
  const unsigned long count = std::strtoul(argv[2], nullptr, 10);
  ScratchDir folder;
  if (std::strcmp(what, "module") == 0) {
    BenchRecorder recorder(folder.path("take.quorb"));
    quorb_capture(&recorder, nullptr, nullptr, count);
  } else if (std::strcmp(what, "baseline") == 0) {
    Baseline baseline(folder.path("take.quorb"));
    quorb_capture(nullptr, &baseline, nullptr, count);
  } else {
    Floor floor(folder.path("take.quorb"));
    quorb_capture(nullptr, nullptr, &floor, count);
  }
  return 0;
}
