// Records N messages through the module, the floor (one locked 8-byte fwrite), the naive capture
// (two locked 4-byte fwrite calls) or the block store, so that callgrind can count the
// instructions: collect only inside quorb_capture and divide its total by N.
//   valgrind --tool=callgrind --collect-atstart=no --toggle-collect=quorb_capture
//            quorb_bench_callgrind module|floor|naive|blockstore N
// (`make bench-callgrind` does this and prints the quotient.)
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <thread>

#include "bench_rig.h"

extern "C" {
__attribute__((noinline)) void quorb_capture(BenchRecorder* recorder, StreamCapture* stream,
                                             BlockStore* block, unsigned long count) {
  for (unsigned long n = 0; n < count; ++n) {
    if (recorder != nullptr) {
      recorder->host.clock = static_cast<uint32_t>(n);
      recorder->module.midi(0x00403C90u);
    } else if (stream != nullptr) {
      stream->host.clock = static_cast<uint32_t>(n);
      stream->capture(0x00403C90u);
    } else {
      block->host.clock = static_cast<uint32_t>(n);
      block->capture(0x00403C90u);
    }
  }
}
}

int main(int argc, char** argv) {
  const std::string what = argc == 3 ? argv[1] : "";
  if (what != "module" && what != "floor" && what != "naive" && what != "blockstore") {
    std::fprintf(stderr, "usage: %s module|floor|naive|blockstore N\n", argv[0]);
    return 2;
  }
  // As in quorb_bench: a second thread, so that glibc's stream locks are taken as in the host.
  std::thread([] {}).join();
  const unsigned long count = std::strtoul(argv[2], nullptr, 10);
  ScratchDir folder;
  const std::string file = folder.path("take.quorb");
  if (what == "module") {
    BenchRecorder recorder(file);
    quorb_capture(&recorder, nullptr, nullptr, count);
  } else if (what == "blockstore") {
    BlockStore block(file);
    quorb_capture(nullptr, nullptr, &block, count);
  } else {
    StreamCapture stream(file,
                         what == "floor" ? StreamCapture::Writes::one : StreamCapture::Writes::two);
    quorb_capture(nullptr, &stream, nullptr, count);
  }
  return 0;
}
