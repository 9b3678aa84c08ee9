#include "module.h"

#include <cstddef>
#include <cstdio>
#include <cstring>

#include <sys/stat.h>
#include <sys/types.h>

#include "file_access.h"

namespace {

// One byte into the stream's buffer, without the stream's lock: a recording stream belongs to
// one object and the host calls one object at a time, so the lock guards nothing. These are the
// C library's own unlocked puts on its own buffer: a byte lands in the buffer the stream was
// given, and the stream writes the buffer out when it is full, exactly as a locked write would.
inline void putByte(unsigned char byte, std::FILE* file) {
#if defined(_WIN32)
  _putc_nolock(byte, file); // msvcrt: a macro over the stream's own pointer and count
#else
  putc_unlocked(byte, file);
#endif
}

// One record into the stream's buffer: time, then message word, little-endian whatever the
// machine. Where the buffer has room for all 8 bytes, the C library's own buffer pointer (and,
// on msvcrt, its count) is moved once for the record, exactly as eight of its unlocked puts
// would move it; otherwise byte by byte, and the put that finds the buffer full writes it out.
// Write errors are not reported: nowhere to.
inline void writeRecord(std::FILE* file, uint32_t time, uint32_t message) {
  const unsigned char bytes[Module::RECORD_SIZE] = {
      static_cast<unsigned char>(time),          static_cast<unsigned char>(time >> 8),
      static_cast<unsigned char>(time >> 16),    static_cast<unsigned char>(time >> 24),
      static_cast<unsigned char>(message),       static_cast<unsigned char>(message >> 8),
      static_cast<unsigned char>(message >> 16), static_cast<unsigned char>(message >> 24)};
#if defined(__GLIBC__)
  if (file->_IO_write_end - file->_IO_write_ptr >= static_cast<std::ptrdiff_t>(sizeof bytes)) {
    std::memcpy(file->_IO_write_ptr, bytes, sizeof bytes);
    file->_IO_write_ptr += sizeof bytes;
    return;
  }
#elif defined(__MINGW32__) && !defined(_UCRT) // msvcrt.dll: the FILE its put macro uses
  if (file->_cnt >= static_cast<int>(sizeof bytes)) {
    std::memcpy(file->_ptr, bytes, sizeof bytes);
    file->_ptr += sizeof bytes;
    file->_cnt -= static_cast<int>(sizeof bytes);
    return;
  }
#endif
  for (const unsigned char byte : bytes)
    putByte(byte, file);
}

// The file's length modulo the record size, from the open descriptor, without reading the
// content and with 64-bit lengths on every target. 0 when it cannot be had, and for anything but
// a regular file (a device holds no records).
unsigned tornTail(std::FILE* file) {
#if defined(_WIN32)
  struct _stati64 status {};
  if (_fstati64(_fileno(file), &status) != 0 || (status.st_mode & _S_IFMT) != _S_IFREG) return 0;
#else
  struct stat status {};
  if (fstat(fileno(file), &status) != 0 || !S_ISREG(status.st_mode)) return 0;
#endif
  return static_cast<unsigned>(status.st_size % Module::RECORD_SIZE);
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
  if (recOpenResult == 0 && recFile != nullptr) std::fclose(recFile);
  recFile = nullptr;
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
  case PIN_MIDI_IN:
    out->name = "MIDI In";
    out->direction = PIN_IN;
    out->type = PIN_MIDI;
    out->flags = 0;
    return true;
  case PIN_REC:
    out->name = "REC";
    out->direction = PIN_IN;
    out->type = PIN_ENUM;
    out->variable = &rec;
    out->defaultValue = "0";
    out->extra = "range 0,1";
    out->flags = 0;
    return true;
  case PIN_OUTFILE:
    out->name = "OUTFILE";
    out->direction = PIN_IN;
    out->type = PIN_TEXT;
    out->variable = &outFileText;
    out->extra = "quorb";
    out->flags = PIN_FLAG_FILENAME;
    return true;
  case PIN_DIAGNOSE:
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
  if (pins == nullptr || pinTableSize <= PIN_OUTFILE) return;
  const Pin& filePin = pins[PIN_OUTFILE];
  if (!filePin.filled() || filePin.status != 1) return;
  selectFile();
}

void Module::selectFile() {
  callHost(HOST_RESOLVE_FILENAME, PIN_OUTFILE, PATH_CAPACITY, hostPath);
  // The host may fill every byte without a terminator.
  hostPath[PATH_CAPACITY - 1] = '\0';
  std::memcpy(path, hostPath, std::strlen(hostPath) + 1);

  closeRecording();
  const int result = openExclusive(path, "a+b", &recFile);
  recOpenResult = result;
  if (result == 0) {
    // Before any I/O on the stream: the object's own buffer, so that the C library never
    // allocates one at the first write on the audio thread.
    std::setvbuf(recFile, recBuffer, _IOFBF, sizeof recBuffer);
    // A file cut inside a record (a full disk, a size limit) would put every later record off
    // the 8-byte grid. Zero bytes complete the torn record so that the new recording starts on
    // the grid; nothing already in the file changes (readers judge the completed record: one
    // whose message word is 0 is no MIDI message). Buffered like the records, so a failing
    // write shows no sooner than theirs, and recording goes ahead either way.
    if (const unsigned tail = tornTail(recFile); tail != 0)
      for (unsigned n = tail; n < RECORD_SIZE; ++n)
        putByte(0, recFile);
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
  recordTime = clockReading() - startClock;
  recordMessage = message;
  writeRecord(recFile, recordTime, recordMessage);
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
