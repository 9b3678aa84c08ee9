// libFuzzer target over the binary contract: each input is a program of host actions on up to
// four recorder objects, played through the module's entry points and records exactly as the
// host would play them. A shadow model predicts every recording file byte for byte; a file that
// differs from its model, like any crash or sanitizer report, is a finding.
//
// Input, read from the front, one action after another (short reads give zeros):
//   action byte % 12, object byte % 4, then the action's arguments:
//    0 create   pins byte: % 8 < 7 is the host's pin count, 7 asks makeModule for a wrong kind
//    1 open     2 close    6 block (the process routine)
//    3 dispatch opcode i32, index i32, value i32, pointer byte (odd: a zeroed buffer)
//    4 status   pin i32, status i32          5 midi     message u32
//    7 rec      value i16                    8 switch   value u8
//    9 choose   file byte % 8 (0-3 shared good names, 4 missing folder, 5 empty name,
//               6 /dev/full, 7 a folder)
//   10 clock    advance u32                 11 event    type i32, word i32, short i32
#include <unistd.h>

#include <array>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "host_interface.h"
#include "stand_in_host.h"

extern "C" ModuleRecord* QUORB_CALL makeModule(int32_t index, int32_t kind, HostCallback callback,
                                               void* hostHandle);

namespace {

namespace fs = std::filesystem;

constexpr size_t OBJECTS = 4;
const char* const DEV_FULL = "/dev/full";

class Input {
public:
  Input(const uint8_t* data, size_t size) : data_(data), size_(size) {}
  bool done() const { return at_ >= size_; }
  template <typename T> T take() {
    uint8_t bytes[sizeof(T)] = {};
    for (size_t i = 0; i < sizeof(T) && at_ < size_; ++i)
      bytes[i] = data_[at_++];
    T value;
    std::memcpy(&value, bytes, sizeof value);
    return value;
  }

private:
  const uint8_t* data_;
  size_t size_;
  size_t at_ = 0;
};

// What the recorder must be doing, from the host's view alone.
struct Shadow {
  bool opened = false;   // a pin table was built by the last open
  int32_t tablePins = 0; // the host's pin count at that open
  int16_t rec = 0;
  std::string file; // the path held open; empty when none
  bool startPending = false;
  bool paused = false;
  uint32_t startClock = 0;
  uint32_t pauseStartClock = 0;
};

struct Slot {
  std::unique_ptr<StandInHost> host;
  std::unique_ptr<HostedModule> module;
  Shadow shadow;
};

class Run {
public:
  explicit Run(const fs::path& dir) : dir_(dir) {
    for (size_t i = 0; i < 4; ++i)
      names_[i] = (dir_ / ("take" + std::to_string(i) + ".quorb")).string();
    names_[4] = (dir_ / "missing" / "take.quorb").string();
    names_[5] = "";
    names_[6] = DEV_FULL;
    names_[7] = (dir_ / "folder").string();
    fs::create_directory(names_[7]);
  }

  void play(Input& in) {
    while (!in.done()) {
      const uint8_t action = in.take<uint8_t>() % 12;
      Slot& slot = slots_[in.take<uint8_t>() % OBJECTS];
      if (action == 0) {
        create(slot, in.take<uint8_t>() % 8);
        continue;
      }
      if (!slot.module) {
        continue;
      }
      act(slot, action, in);
    }
    for (Slot& slot : slots_)
      if (slot.module) close(slot);
    for (const auto& [path, bytes] : expected_)
      check(path, bytes);
  }

private:
  void create(Slot& slot, uint8_t pins) {
    if (slot.module) return;
    auto host = std::make_unique<StandInHost>();
    host->journal = false;
    if (pins == 7) {
      if (makeModule(0, 2, &StandInHost::callback, host.get()) != nullptr) __builtin_trap();
      return;
    }
    host->pinCount = pins;
    host->clock = clock_;
    ModuleRecord* record = makeModule(0, 1, &StandInHost::callback, host.get());
    if (record == nullptr) __builtin_trap();
    slot.host = std::move(host);
    slot.module = std::make_unique<HostedModule>(record);
    slot.shadow = Shadow{};
  }

  void act(Slot& slot, uint8_t action, Input& in) {
    Shadow& s = slot.shadow;
    slot.host->clock = clock_;
    switch (action) {
    case 1:
      slot.module->open();
      opened(s, slot.host->pinCount);
      break;
    case 2:
      close(slot);
      break;
    case 3: {
      const int32_t opcode = in.take<int32_t>();
      const int32_t index = in.take<int32_t>();
      const int32_t value = in.take<int32_t>();
      const bool pointer = in.take<uint8_t>() & 1;
      if (opcode == MOD_CLOSE) {
        close(slot);
        break;
      }
      alignas(16) std::array<uint8_t, 256> buffer{};
      slot.module->dispatch(opcode, index, value, pointer ? buffer.data() : nullptr, 0.0f);
      if (opcode == MOD_OPEN) opened(s, slot.host->pinCount);
      break;
    }
    case 4: {
      const int32_t pin = in.take<int32_t>();
      const int32_t status = in.take<int32_t>();
      if (pin == PIN_INDEX_OUTFILE && status == 1 && s.opened && s.tablePins > PIN_INDEX_OUTFILE)
        choose(slot, slot.host->resolvedPath);
      else
        slot.module->pinStatus(pin, status);
      break;
    }
    case 5:
      midi(slot, in.take<uint32_t>());
      break;
    case 6:
      slot.module->block();
      if (s.opened) block(s);
      break;
    case 7:
      s.rec = in.take<int16_t>() % 3; // 0, 1 and a value that is neither
      slot.module->setPin<int16_t>(PIN_INDEX_REC, s.rec);
      break;
    case 8:
      slot.module->setPin<uint8_t>(PIN_INDEX_DIAGNOSE, in.take<uint8_t>());
      break;
    case 9: {
      const std::string& name = names_[in.take<uint8_t>() % 8];
      slot.host->resolvedPath = name;
      if (s.opened && s.tablePins > PIN_INDEX_OUTFILE)
        choose(slot, name);
      else
        slot.module->pinStatus(PIN_INDEX_OUTFILE, 1); // no file pin: nothing may happen
      break;
    }
    case 10:
      clock_ += in.take<uint32_t>() % 100000;
      break;
    case 11: {
      // Any event but a runnable EVENT_RUN (a routine address is the host's to get right).
      HostEvent event{};
      event.type = in.take<int32_t>();
      event.intValue = in.take<int32_t>();
      event.shortValue = in.take<uint32_t>();
      if (event.type == EVENT_PIN_STATUS || event.type == EVENT_MIDI) break; // modelled above
      slot.module->event(event);
      break;
    }
    }
  }

  void opened(Shadow& s, int32_t pins) {
    release(s);
    const int16_t rec = s.rec;
    s = Shadow{};
    s.rec = rec;
    s.opened = pins > 0 && pins <= 65536;
    s.tablePins = pins;
  }

  void choose(Slot& slot, const std::string& name) {
    Shadow& s = slot.shadow;
    release(s);
    slot.module->pinStatus(PIN_INDEX_OUTFILE, 1);
    const bool opens =
        !name.empty() && name != names_[4] && name != names_[7] && holders_.count(name) == 0;
    if (!opens) return;
    s.file = name;
    holders_[name] = &s;
    s.startPending = true;
    s.paused = false;
    if (name != DEV_FULL) expected_[name]; // an empty recording still creates the file
  }

  void midi(Slot& slot, uint32_t message) {
    slot.module->midi(message, 0x12345678, 0xFFFF);
    const Shadow& s = slot.shadow;
    if (s.file.empty() || isSystemMessage(message) || s.rec != 1) return;
    if (s.file == DEV_FULL) return;
    const uint32_t time = clock_ - s.startClock;
    std::vector<uint8_t>& bytes = expected_[s.file];
    for (uint32_t word : {time, message})
      for (int shift = 0; shift < 32; shift += 8)
        bytes.push_back(static_cast<uint8_t>(word >> shift));
  }

  void block(Shadow& s) {
    if (s.rec == 1) {
      if (s.startPending) {
        s.startClock = clock_;
        s.paused = false;
        s.startPending = false;
      }
      if (s.paused) {
        s.paused = false;
        s.startClock += clock_ - s.pauseStartClock;
      }
    } else if (!s.startPending && !s.paused) {
      s.pauseStartClock = clock_;
      s.paused = true;
    }
  }

  void close(Slot& slot) {
    const std::string file = slot.shadow.file;
    if (slot.module->close() != 1) __builtin_trap();
    release(slot.shadow);
    slot.module.reset();
    slot.host.reset();
    if (!file.empty() && file != DEV_FULL) check(file, expected_[file]);
  }

  void release(Shadow& s) {
    if (!s.file.empty()) holders_.erase(s.file);
    s.file.clear();
  }

  // Only once no object holds the file is everything on disk.
  void check(const std::string& path, const std::vector<uint8_t>& expected) {
    if (holders_.count(path) != 0) return;
    std::FILE* file = std::fopen(path.c_str(), "rb");
    if (file == nullptr) __builtin_trap();
    std::vector<uint8_t> actual(expected.size() + 1);
    const size_t got = std::fread(actual.data(), 1, actual.size(), file);
    std::fclose(file);
    if (got != expected.size() ||
        (got != 0 && std::memcmp(actual.data(), expected.data(), got) != 0)) {
      std::fprintf(stderr, "%s: %zu bytes on disk, the model says %zu\n", path.c_str(), got,
                   expected.size());
      __builtin_trap();
    }
  }

  fs::path dir_;
  std::array<std::string, 8> names_;
  std::array<Slot, OBJECTS> slots_;
  std::map<std::string, std::vector<uint8_t>> expected_;
  std::map<std::string, Shadow*> holders_;
  uint32_t clock_ = 1000;
};

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static const fs::path root = [] {
    fs::path dir = fs::temp_directory_path() / ("quorb-fuzz-" + std::to_string(getpid()));
    fs::create_directories(dir);
    fs::current_path(dir); // the diagnostic log is a relative name here
    std::atexit([] {
      std::error_code ignored;
      fs::current_path(fs::temp_directory_path(), ignored);
      fs::remove_all(fs::temp_directory_path() / ("quorb-fuzz-" + std::to_string(getpid())),
                     ignored);
    });
    return dir;
  }();
  {
    std::error_code ignored;
    for (const auto& entry : fs::directory_iterator(root))
      fs::remove_all(entry.path(), ignored);
  }
  Input in(data, size);
  Run run(root);
  run.play(in);
  return 0;
}
