#ifndef QUORB_BENCH_BENCH_RIG_H
#define QUORB_BENCH_BENCH_RIG_H

// The recorder object the benchmarks time, from the one rig, and the captures it is measured
// against, compiled like the module (same compiler, target and flags) and run in the same
// process.

#include <fcntl.h>
#include <sys/stat.h>
#ifdef _WIN32
#include <io.h>
#else
#include <unistd.h>
#endif

#include <cstdint>
#include <cstdio>
#include <stdexcept>
#include <string>

#include "recorder_rig.h"
#include "scratch_dir.h"

// The module's stream buffer size, given to the stream captures too.
constexpr size_t STREAM_BUFFER = 4096;

// A recorder object of the one rig, recording into `file` from its first block on.
class BenchRecorder : public Recorder {
public:
  explicit BenchRecorder(const std::string& file) {
    host.journal = false; // the journal grows with every clock reading
    choose(file);
    rec(1);
    block();
  }
  using Recorder::choose;
  void choose() { Recorder::choose(host.resolvedPath); }
};

// A capture written with the C library's stream alone: one clock request through the host's
// callback, then the record into a stream opened as the module opens its own, with a 4 KiB
// buffer. `Writes::one` is the floor every capture that hands each record to the stream as its
// message is handled must pay: one locked 8-byte fwrite. `Writes::two` is the naive capture: two
// locked 4-byte fwrite calls, time then message.
class StreamCapture {
public:
  enum class Writes { one, two };
  StreamCapture(const std::string& file, Writes writes) : writes_(writes) {
    record.hostHandle = &host;
    host.journal = false;
    stream = std::fopen(file.c_str(), "a+b");
    if (stream == nullptr) throw std::runtime_error("cannot open " + file);
    std::setvbuf(stream, buffer, _IOFBF, sizeof buffer);
  }
  ~StreamCapture() { std::fclose(stream); }
  StreamCapture(const StreamCapture&) = delete;
  StreamCapture& operator=(const StreamCapture&) = delete;

  void capture(uint32_t message) {
    const uint32_t time =
        static_cast<uint32_t>(callback(&record, HOST_GET_CLOCK, 0, 0, nullptr, 0.0f));
    unsigned char bytes[8];
    for (unsigned shift = 0; shift < 32; shift += 8) { // little-endian, as on disk
      bytes[shift / 8] = static_cast<unsigned char>(time >> shift);
      bytes[4 + shift / 8] = static_cast<unsigned char>(message >> shift);
    }
    if (writes_ == Writes::one) {
      std::fwrite(bytes, 1, sizeof bytes, stream);
    } else {
      std::fwrite(bytes, 1, 4, stream);
      std::fwrite(bytes + 4, 1, 4, stream);
    }
  }

  StandInHost host;

private:
  // Called through a pointer the compiler cannot see through, as the module calls the host.
  HostCallback volatile callback = &StandInHost::callback;
  ModuleRecord record{};
  Writes writes_;
  std::FILE* stream = nullptr;
  char buffer[STREAM_BUFFER];
};

// A capture that holds records back from the stream: the same clock request through the host's
// callback, the record stored into a 4 KiB block of its own, and one write system call per full
// block. It measures less than any stream capture, and loses up to a block at exit; shown only
// for comparison with earlier figures.
class BlockStore {
public:
  explicit BlockStore(const std::string& file) {
#ifdef _WIN32
    fd = _open(file.c_str(), _O_WRONLY | _O_CREAT | _O_APPEND | _O_BINARY, _S_IREAD | _S_IWRITE);
#else
    fd = ::open(file.c_str(), O_WRONLY | O_CREAT | O_APPEND, 0644);
#endif
    if (fd < 0) throw std::runtime_error("cannot open " + file);
    record.hostHandle = &host;
    host.journal = false;
  }
  ~BlockStore() {
    writeOut(used);
#ifdef _WIN32
    _close(fd);
#else
    ::close(fd);
#endif
  }
  BlockStore(const BlockStore&) = delete;
  BlockStore& operator=(const BlockStore&) = delete;

  void capture(uint32_t message) {
    const uint32_t time =
        static_cast<uint32_t>(callback(&record, HOST_GET_CLOCK, 0, 0, nullptr, 0.0f));
    for (unsigned shift = 0; shift < 32; shift += 8) { // little-endian, as on disk
      block[used + shift / 8] = static_cast<unsigned char>(time >> shift);
      block[used + 4 + shift / 8] = static_cast<unsigned char>(message >> shift);
    }
    used += 8;
    if (used == sizeof block) {
      writeOut(used);
      used = 0;
    }
  }

  StandInHost host;

private:
  void writeOut(size_t size) {
    if (size == 0) return;
#ifdef _WIN32
    written += _write(fd, block, static_cast<unsigned>(size));
#else
    written += ::write(fd, block, size);
#endif
  }

  HostCallback volatile callback = &StandInHost::callback;
  ModuleRecord record{};
  int fd = -1;
  size_t used = 0;
  long long written = 0; // kept only so that no write's result goes unused
  unsigned char block[STREAM_BUFFER];
};

#endif // QUORB_BENCH_BENCH_RIG_H
