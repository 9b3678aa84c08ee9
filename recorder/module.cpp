#include "module.h"

#include <cstddef>
#include <cstdio>
#include <cstring>

#include "file_access.h"

namespace {

// Four bytes, least significant first, whatever the machine.
inline void storeLittleEndian(unsigned char* to, uint32_t word) {
#if defined(__BYTE_ORDER__) && __BYTE_ORDER__ == __ORDER_LITTLE_ENDIAN__
  std::memcpy(to, &word, sizeof word); // one store
#else
  for (unsigned n = 0; n < sizeof word; ++n)
    to[n] = static_cast<unsigned char>(word >> (8 * n));
#endif
}

} // namespace

extern "C" {
// The process routine the host calls once per block with the object as first argument.
static void QUORB_CALL recorderProcess(ModuleBase* object) {
  if (object == nullptr) return;
  try {
    static_cast<Module*>(object)->processBlock();
  } catch (...) {
  }
}
}

Module::Module(HostCallback hostCallback, void* hostHandle) noexcept
    : ModuleBase(hostCallback, hostHandle) {
  // The host may close an object it never opened; its fields must already mean "nothing open".
  resetState();
  hostPath[0] = '\0';
  path[0] = '\0';
  diagText[0] = '\0';
}

Module::~Module() { closeRecording(); }

void Module::resetState() noexcept {
  diagOpenResult = -1;
  recOpenResult = -1;
  recFile = nullptr;
  diagFile = nullptr;
  startPending = false;
  paused = false;
  startClock = 0;
  pauseStartClock = 0;
}

void Module::closeRecording() noexcept {
  if (recOpenResult == 0 && recFile != nullptr) {
    handOver();
    std::fclose(recFile);
  }
  recFile = nullptr;
  staged = 0;
}

void Module::handOver() noexcept {
  if (staged == 0) return;
  // One locked write: a flush of every stream from another thread (fflush(NULL), _flushall)
  // waits for it or comes before it, so the stream only ever holds whole records. The stream has
  // the object's buffer, so this only copies, and writes to disk only when 4 KiB have filled.
  // Write errors are not reported: nowhere to.
  std::fwrite(stage, 1, staged, recFile);
  staged = 0;
}

void Module::open() {
  // A repeated open must not forget a recording that is still buffered.
  closeRecording();
  resetState();
  ModuleBase::open();
  callHost(HOST_NOTIFY_OPEN);
  setProcessRoutine(&recorderProcess, 0, 0, 0);
}

bool Module::getPinDescription(int32_t index, PinDescription* out) {
  if (out == nullptr) return false;
  switch (index) {
  case PIN_INDEX_MIDI_IN:
    out->name = "MIDI In";
    out->direction = PIN_IN;
    out->type = PIN_MIDI;
    out->flags = 0;
    return true;
  case PIN_INDEX_REC:
    out->name = "REC";
    out->direction = PIN_IN;
    out->type = PIN_ENUM;
    out->variable = &rec;
    out->defaultValue = "0";
    out->extra = "range 0,1";
    out->flags = 0;
    return true;
  case PIN_INDEX_OUTFILE:
    out->name = "OUTFILE";
    out->direction = PIN_IN;
    out->type = PIN_TEXT;
    out->variable = &outFileText;
    out->extra = "quorb";
    out->flags = PIN_FLAG_FILENAME;
    return true;
  case PIN_INDEX_DIAGNOSE:
    out->name = "on D: DIAGNOSE.TXT";
    out->direction = PIN_DIRECTION_3;
    out->type = PIN_BOOL;
    out->variable = &diagnose;
    out->defaultValue = "false";
    out->flags = 0;
    return true;
  default:
    return false;
  }
}

uint32_t Module::clockReading() { return static_cast<uint32_t>(callHost(HOST_GET_CLOCK)); }

void Module::onPinStatus(Pin*) {
  // Whichever pin changed, only a fresh status 1 on "OUTFILE" selects a file. A host holding
  // fewer than three pins has no file pin to look at.
  if (pins == nullptr || pinTableSize <= PIN_INDEX_OUTFILE) return;
  const Pin& filePin = pins[PIN_INDEX_OUTFILE];
  if (!filePin.filled() || filePin.status != 1) return;
  selectFile();
}

void Module::selectFile() {
  callHost(HOST_RESOLVE_FILENAME, PIN_INDEX_OUTFILE, PATH_CAPACITY, hostPath);
  // The host may fill every byte without a terminator.
  hostPath[PATH_CAPACITY - 1] = '\0';
  std::memcpy(path, hostPath, std::strlen(hostPath) + 1);

  closeRecording();
  const int result = openExclusive(path, "a+b", &recFile);
  recOpenResult = result;
  if (result == 0) {
    // Before any I/O on the stream: the object's own buffer, so that the C library never
    // allocates one at the first write on the audio thread. Whatever the file already holds
    // stays as it is, whole records or not: the recorder appends and never reads, completes or
    // truncates.
    std::setvbuf(recFile, recBuffer, _IOFBF, sizeof recBuffer);
  }

  if (diagnose != 0) {
    int length = std::snprintf(diagText, sizeof diagText, "err=%d %s\n", result, hostPath);
    if (length >= 0) {
      if (static_cast<size_t>(length) >= sizeof diagText) {
        // Cut, but keep the line a line.
        diagText[sizeof diagText - 2] = '\n';
        diagText[sizeof diagText - 1] = '\0';
      }
      writeDiagnostic(diagText);
    }
  }

  if (result == 0) {
    startPending = true;
    paused = false;
  }
}

void Module::writeDiagnostic(const char* text) {
  diagOpenResult = openExclusive(DIAGNOSTIC_LOG, "a+", &diagFile);
  if (diagOpenResult != 0) return;
  std::fputs(text, diagFile);
  std::fclose(diagFile);
  diagFile = nullptr;
}

void Module::onMidiData(uint32_t, uint32_t message, uint16_t) {
  if (recOpenResult != 0 || recFile == nullptr) return;
  if ((message & 0xF0u) == 0xF0u) return; // system messages are never recorded
  if (rec != 1) return;
  const uint32_t time = clockReading() - startClock;
  recordTime = time;
  recordMessage = message;
  // Time, then message word.
  storeLittleEndian(stage + staged, time);
  storeLittleEndian(stage + staged + 4, message);
  staged += RECORD_SIZE;
  if (staged == sizeof stage) handOver();
}

void Module::processBlock() {
  // The block's records go to the stream now, so that a host that ends its process with exit()
  // and without closing the object still gets every record handled before its last block: exit
  // flushes every stream.
  if (recOpenResult == 0 && recFile != nullptr) handOver();
  if (rec == 1) {
    if (startPending) {
      startClock = clockReading();
      paused = false;
      startPending = false;
    }
    if (paused) {
      paused = false;
      startClock += clockReading() - pauseStartClock;
    }
  } else if (!startPending && !paused) {
    pauseStartClock = clockReading();
    paused = true;
  }
}
