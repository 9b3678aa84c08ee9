// The module's cost on the host's audio thread. The figure that matters is one captured message
// against the baseline (one host callback and two locked 4-byte fwrite calls on the same kind of
// stream), both measured in this run; the ratio is printed at the end, goal at most 0.80.
#include <benchmark/benchmark.h>

#include <unistd.h>

#include <cstdint>
#include <iostream>
#include <map>
#include <string>
#include <thread>
#include <vector>

#include "bench_rig.h"

namespace {

TempFolder& folder() {
  static TempFolder dir;
  return dir;
}

// Empties the file every so many messages, outside the timing, so a long run stays small on
// disk. Appending streams write at the end wherever that is, so emptying under them is safe.
constexpr uint32_t TRIM_EVERY = 1u << 18;

void trim(benchmark::State& state, const std::string& file) {
  state.PauseTiming();
  if (truncate(file.c_str(), 0) != 0) state.SkipWithError("cannot empty the recording");
  state.ResumeTiming();
}

void capturedMessage(benchmark::State& state) {
  const std::string file = folder().path("captured.quorb");
  BenchRecorder r(file);
  uint32_t n = 0;
  for (auto _ : state) {
    r.host.clock = n;
    r.module.midi(0x00403C90u);
    if (++n % TRIM_EVERY == 0) trim(state, file);
  }
  state.SetItemsProcessed(state.iterations());
}
BENCHMARK(capturedMessage);

void baseline(benchmark::State& state) {
  const std::string file = folder().path("baseline.quorb");
  Baseline b(file);
  uint32_t n = 0;
  for (auto _ : state) {
    b.host.clock = n;
    b.capture(0x00403C90u);
    if (++n % TRIM_EVERY == 0) trim(state, file);
  }
  state.SetItemsProcessed(state.iterations());
}
BENCHMARK(baseline);

// A block while recording: the steady case, no host call.
void processBlock(benchmark::State& state) {
  BenchRecorder r(folder().path("block.quorb"));
  for (auto _ : state)
    r.module.block();
}
BENCHMARK(processBlock);

// Every block starts or ends a pause: the one host call a block may make.
void processBlockAtPauseEdge(benchmark::State& state) {
  BenchRecorder r(folder().path("edge.quorb"));
  int16_t rec = 1;
  for (auto _ : state) {
    rec = static_cast<int16_t>(1 - rec);
    r.rec(rec);
    r.module.block();
  }
}
BENCHMARK(processBlockAtPauseEdge);

// Choosing the file again: closing the stream, opening and locking it, giving it its buffer.
void fileSelection(benchmark::State& state) {
  BenchRecorder r(folder().path("select.quorb"));
  for (auto _ : state)
    r.choose();
}
BENCHMARK(fileSelection);

// The console report, then the ratio of the two figures it holds (medians when repeated), on
// the thread's CPU time, which other programs on the machine disturb less than the clock.
class RatioReporter : public benchmark::ConsoleReporter {
public:
  RatioReporter() : ConsoleReporter(OO_None) {} // plain text, fit to paste
  void ReportRuns(const std::vector<Run>& runs) override {
    for (const Run& run : runs)
      if (!run.error_occurred) nanoseconds[run.benchmark_name()] = run.GetAdjustedCPUTime();
    ConsoleReporter::ReportRuns(runs);
  }
  void Finalize() override {
    ConsoleReporter::Finalize();
    const std::string suffix = nanoseconds.count("capturedMessage_median") ? "_median" : "";
    const auto message = nanoseconds.find("capturedMessage" + suffix);
    const auto base = nanoseconds.find("baseline" + suffix);
    if (message == nanoseconds.end() || base == nanoseconds.end() || base->second <= 0) return;
    std::cout << "captured message / baseline = " << message->second / base->second
              << " (goal: at most 0.80)\n";
  }

private:
  std::map<std::string, double> nanoseconds; // CPU time per iteration, in the runs' unit (ns)
};

} // namespace

int main(int argc, char** argv) {
  // The host runs many threads. glibc leaves stream locks untaken until a process starts its
  // second thread, so one is started here to give the baseline's fwrite its real lock.
  std::thread([] {}).join();
  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
  RatioReporter reporter;
  benchmark::RunSpecifiedBenchmarks(&reporter);
  benchmark::Shutdown();
  return 0;
}
