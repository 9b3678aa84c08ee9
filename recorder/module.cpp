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

// Adds one whole record to `stream` under a single hold of the stream's lock. The C library's
// stream table is shared by the whole host process, and any thread may flush every stream at
// any moment (fflush(NULL), _flushall): under the lock such a flush finds the record either
// entirely in the buffer or not at all. An error left on the stream by an earlier failed write,
// ours or a foreign flush's, is seen before anything is added. False when the stream had failed
// or the record did not go in whole.
//
// The buffer holds whole records and is written only when full or flushed under the lock, so the
// write it needs comes at a record's first byte.
bool appendRecord(std::FILE* stream, const unsigned char (&record)[RECORD_SIZE]) {
#ifdef _WIN32
  // msvcrt's fwrite takes the stream's own lock (the import library's _lock_file is a stand-in
  // that need not be the lock msvcrt takes, so the module takes none itself). The error flag is
  // read as msvcrt's ferror reads it, without a lock, and inline: msvcrt's FILE is public and its
  // own headers once defined ferror as this very test. A foreign flush that fails between the
  // check and the write lets at most this record follow the tear: the next message's check
  // stops the file there.
#ifdef _UCRT
  const bool failed = std::ferror(stream) != 0;
#else
  const bool failed = (stream->_flag & _IOERR) != 0;
#endif
  return !failed && std::fwrite(record, sizeof record, 1, stream) == 1;
#else
  // The bytes go in through the C library's own unlocked put (an inline store into the buffer, a
  // call only when the buffer is full and must be written), so that the one lock taken here,
  // which also covers the error check, is the only one: a locked fwrite inside it would take the
  // lock a second time.
  flockfile(stream);
  bool added = !ferror_unlocked(stream);
  for (size_t n = 0; added && n < sizeof record; ++n)
    added = putc_unlocked(record[n], stream) != EOF;
  funlockfile(stream);
  return added;
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
  recWriteFailed = false;
  diagFile = nullptr;
  startPending = false;
  paused = false;
  startClock = 0;
  pauseStartClock = 0;
}

void Module::closeRecording() noexcept {
  if (recOpenResult == 0 && recFile != nullptr) std::fclose(recFile);
  recFile = nullptr;
  recWriteFailed = false;
}

void Module::open() {
  // A repeated open must not forget a recording that is still open.
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
  if (recOpenResult != 0 || recFile == nullptr || recWriteFailed) return;
  if (isSystemMessage(message)) return;
  if (rec != 1) return;
  const uint32_t time = clockReading() - startClock;
  // Time, then message word, into the stream now: nothing waits in the object where exit(), a
  // flush or a crash could not reach it. No flush is made; the stream writes to disk when its
  // buffer fills. A failure is not reported (there is nowhere to), but stops the file.
  unsigned char record[RECORD_SIZE];
  storeLittleEndian(record, time);
  storeLittleEndian(record + 4, message);
  if (!appendRecord(recFile, record)) recWriteFailed = true;
}

void Module::processBlock() {
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
