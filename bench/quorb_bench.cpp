// The module's cost on the host's audio thread. The figure that matters is one captured message
// against the floor: one host callback and one locked 8-byte fwrite into a stream with a 4 KiB
// buffer, the least that any capture pays which hands each record to the stream as its message
// is handled. Goal: at most 1.25 times the floor. Also measured in the same run: the naive
// capture (the callback and two locked 4-byte fwrite calls) and, for comparison with earlier
// figures, a block store that holds records back from the stream (an 8-byte store into a block
// of its own, one write per full 4 KiB).
//
// The timing loop is this program's own, so that it builds unchanged for Linux and for 32-bit
// Windows (run under Wine), where no benchmark library is packaged: the figures of the two
// targets come from the same code and the same statistics.
//
//   quorb_bench [--repetitions N] [--min-ms MS] [--seed S]
//
// First n is found per benchmark: grown until one sample of n iterations lasts at least MS
// milliseconds (these runs also warm caches and files up). Then every repetition runs each
// benchmark once, n iterations, in a shuffled order, so that a busy stretch of the machine does
// not always fall on the same one. Each sample starts on a fresh, empty file, set up and torn
// down outside the timing. Reported: wall time per iteration, the median, minimum and maximum
// of the samples, and the ratios of the medians.
#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "bench_rig.h"

namespace {

using Clock = std::chrono::steady_clock;

ScratchDir& folder() {
  static ScratchDir dir;
  return dir;
}

// A file that does not exist yet: each sample starts from nothing.
std::string fresh(const char* name) {
  const std::string file = folder().path(name);
  std::filesystem::remove(file);
  return file;
}

// Nanoseconds per iteration of `body(i)` over n iterations.
template <typename Body> double timed(uint64_t n, Body body) {
  const Clock::time_point start = Clock::now();
  for (uint64_t i = 0; i < n; ++i)
    body(i);
  const std::chrono::duration<double, std::nano> spent = Clock::now() - start;
  return spent.count() / static_cast<double>(n);
}

constexpr uint32_t NOTE_ON = 0x00403C90u;

double capturedMessage(uint64_t n) {
  BenchRecorder r(fresh("captured.quorb"));
  return timed(n, [&](uint64_t i) {
    r.host.clock = static_cast<uint32_t>(i);
    r.module.midi(NOTE_ON);
  });
}

double streamCapture(uint64_t n, const char* name, StreamCapture::Writes writes) {
  StreamCapture c(fresh(name), writes);
  return timed(n, [&](uint64_t i) {
    c.host.clock = static_cast<uint32_t>(i);
    c.capture(NOTE_ON);
  });
}
double floorCapture(uint64_t n) {
  return streamCapture(n, "floor.quorb", StreamCapture::Writes::one);
}
double naiveCapture(uint64_t n) {
  return streamCapture(n, "naive.quorb", StreamCapture::Writes::two);
}

double blockStore(uint64_t n) {
  BlockStore b(fresh("block-store.quorb"));
  return timed(n, [&](uint64_t i) {
    b.host.clock = static_cast<uint32_t>(i);
    b.capture(NOTE_ON);
  });
}

// A block while recording: the steady case, no host call.
double processBlock(uint64_t n) {
  BenchRecorder r(fresh("block.quorb"));
  return timed(n, [&](uint64_t) { r.module.block(); });
}

// Every block starts or ends a pause: the one host call a block may make.
double processBlockAtPauseEdge(uint64_t n) {
  BenchRecorder r(fresh("edge.quorb"));
  return timed(n, [&](uint64_t i) {
    r.rec(static_cast<int16_t>(i & 1));
    r.module.block();
  });
}

// Choosing the file again: closing the stream, opening and locking it, giving it its buffer.
double fileSelection(uint64_t n) {
  BenchRecorder r(fresh("select.quorb"));
  return timed(n, [&](uint64_t) { r.choose(); });
}

struct Benchmark {
  Benchmark(const char* name, double (*sample)(uint64_t)) : name(name), sample(sample) {}
  const char* name;
  double (*sample)(uint64_t n);
  uint64_t n = 1;
  std::vector<double> ns; // per iteration, one per repetition
};

double median(std::vector<double> values) {
  std::sort(values.begin(), values.end());
  const size_t half = values.size() / 2;
  return values.size() % 2 != 0 ? values[half] : (values[half - 1] + values[half]) / 2;
}

// Grows n until one sample lasts at least `minNs`.
void calibrate(Benchmark& b, double minNs) {
  for (;;) {
    const double total = b.sample(b.n) * static_cast<double>(b.n);
    if (total >= minNs) return;
    const double grow = total > 0 ? 1.2 * minNs / total : 10;
    b.n = static_cast<uint64_t>(static_cast<double>(b.n) * std::min(std::max(grow, 2.0), 100.0));
  }
}

bool parse(int argc, char** argv, unsigned& repetitions, double& minMs, unsigned& seed) {
  for (int i = 1; i < argc; i += 2) {
    if (i + 1 >= argc) return false;
    char* end = nullptr;
    const double value = std::strtod(argv[i + 1], &end);
    if (end == argv[i + 1] || *end != '\0' || !(value >= 0 && value < 1e9)) return false;
    if (std::strcmp(argv[i], "--repetitions") == 0)
      repetitions = static_cast<unsigned>(value);
    else if (std::strcmp(argv[i], "--min-ms") == 0)
      minMs = value;
    else if (std::strcmp(argv[i], "--seed") == 0)
      seed = static_cast<unsigned>(value);
    else
      return false;
  }
  return repetitions >= 1 && minMs > 0;
}

} // namespace

int main(int argc, char** argv) {
  unsigned repetitions = 15;
  double minMs = 20;
  unsigned seed = 1;
  if (!parse(argc, argv, repetitions, minMs, seed)) {
    std::fprintf(stderr, "usage: %s [--repetitions N] [--min-ms MS] [--seed S]\n", argv[0]);
    return 2;
  }
  // The host runs many threads. glibc leaves stream locks untaken until a process starts its
  // second thread, so one is started here to give every fwrite, the module's too, its real lock.
  std::thread([] {}).join();

  std::vector<Benchmark> benchmarks = {
      {"capturedMessage", capturedMessage},
      {"floor", floorCapture},
      {"naive", naiveCapture},
      {"blockStore", blockStore},
      {"processBlock", processBlock},
      {"processBlockAtPauseEdge", processBlockAtPauseEdge},
      {"fileSelection", fileSelection},
  };
  try {
    for (Benchmark& b : benchmarks)
      calibrate(b, minMs * 1e6);
    std::vector<Benchmark*> order;
    for (Benchmark& b : benchmarks)
      order.push_back(&b);
    std::mt19937 shuffle(seed);
    for (unsigned r = 0; r < repetitions; ++r) {
      std::shuffle(order.begin(), order.end(), shuffle);
      for (Benchmark* b : order)
        b->ns.push_back(b->sample(b->n));
    }
  } catch (const std::exception& e) {
    std::fprintf(stderr, "quorb_bench: %s\n", e.what());
    return 1;
  }

  std::printf("%u repetitions, interleaved; wall time per iteration in ns\n", repetitions);
  std::printf("%-26s %10s %10s %10s %12s\n", "benchmark", "median", "min", "max", "iterations");
  for (const Benchmark& b : benchmarks)
    std::printf("%-26s %10.1f %10.1f %10.1f %12llu\n", b.name, median(b.ns),
                *std::min_element(b.ns.begin(), b.ns.end()),
                *std::max_element(b.ns.begin(), b.ns.end()), static_cast<unsigned long long>(b.n));
  const double message = median(benchmarks[0].ns);
  std::printf("captured message / floor       = %.2f (goal: at most 1.25)\n",
              message / median(benchmarks[1].ns));
  std::printf("captured message / naive       = %.2f\n", message / median(benchmarks[2].ns));
  std::printf("captured message / block store = %.2f\n", message / median(benchmarks[3].ns));
  return 0;
}
