#ifndef QUORB_BENCH_BENCH_RIG_H
#define QUORB_BENCH_BENCH_RIG_H

// One recorder object from the built module file, recording into a file in a fresh temporary
// folder, driven as the host drives it; and the baseline it is measured against.

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <stdexcept>
#include <string>

#include "bench_host.h"
#include "built_module.h"

// The module's stream buffer size, given to the baseline's stream too.
constexpr size_t STREAM_BUFFER = 4096;

class TempFolder {
public:
  TempFolder() {
    std::string pattern = (std::filesystem::temp_directory_path() / "quorb-bench-XXXXXX").string();
    if (mkdtemp(pattern.data()) == nullptr) throw std::runtime_error("no temporary folder");
    dir_ = pattern;
  }
  ~TempFolder() {
    std::error_code ignored;
    std::filesystem::remove_all(dir_, ignored);
  }
  TempFolder(const TempFolder&) = delete;
  TempFolder& operator=(const TempFolder&) = delete;
  std::string path(const char* name) const { return (dir_ / name).string(); }

private:
  std::filesystem::path dir_;
};

class BenchRecorder {
public:
  explicit BenchRecorder(const std::string& file) : module(make(host)) {
    host.journal = false; // the journal grows with every clock reading
    module.open();
    host.resolvedPath = file;
    module.pinStatus(PIN_OUTFILE, 1);
    rec(1);
    module.block();
  }
  ~BenchRecorder() { module.close(); }
  BenchRecorder(const BenchRecorder&) = delete;
  BenchRecorder& operator=(const BenchRecorder&) = delete;

  void rec(int16_t value) { module.setPin<int16_t>(PIN_REC, value); }
  void choose() { module.pinStatus(PIN_OUTFILE, 1); }

  BenchHost host;
  HostedModule module;

private:
  static HostedModule make(BenchHost& host) {
    ModuleLibrary& library = builtModule();
    if (!library.loaded()) throw std::runtime_error(library.error());
    ModuleRecord* record = library.makeModule(0, 1, &BenchHost::callback, &host);
    if (record == nullptr) throw std::runtime_error("makeModule gave no object");
    return HostedModule(record);
  }
};

// What capturing a message would cost written plainly: one clock request through the host's
// callback and two locked 4-byte writes to a stream opened as the module opens its own.
class Baseline {
public:
  explicit Baseline(const std::string& file) {
    record.hostHandle = &host;
    host.journal = false;
    stream = std::fopen(file.c_str(), "a+b");
    if (stream == nullptr) throw std::runtime_error("cannot open " + file);
    std::setvbuf(stream, buffer, _IOFBF, sizeof buffer);
  }
  ~Baseline() { std::fclose(stream); }
  Baseline(const Baseline&) = delete;
  Baseline& operator=(const Baseline&) = delete;

  void capture(uint32_t message) {
    const uint32_t time =
        static_cast<uint32_t>(callback(&record, HOST_GET_CLOCK, 0, 0, nullptr, 0.0f));
    write(time);
    write(message);
  }

  BenchHost host;

private:
  void write(uint32_t word) {
    const unsigned char bytes[4] = {
        static_cast<unsigned char>(word), static_cast<unsigned char>(word >> 8),
        static_cast<unsigned char>(word >> 16), static_cast<unsigned char>(word >> 24)};
    std::fwrite(bytes, 1, sizeof bytes, stream);
  }

  // Called through a pointer the compiler cannot see through, as the module calls the host.
  HostCallback volatile callback = &BenchHost::callback;
  ModuleRecord record{};
  std::FILE* stream = nullptr;
  char buffer[STREAM_BUFFER];
};

#endif // QUORB_BENCH_BENCH_RIG_H
