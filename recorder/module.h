#ifndef QUORB_RECORDER_MODULE_H
#define QUORB_RECORDER_MODULE_H

#include <cstdint>
#include <cstdio>

#include "module_base.h"
#include "recorder_contract.h"

// The MIDI recorder. While "REC" is 1 and a recording file is open it appends every MIDI message
// except system messages to the file as an 8-byte record (time, message word), the time taken
// from the host's clock with paused stretches cut out. "OUTFILE" chooses the file; every
// status-1 report on it closes the old file and starts a new recording appended to the new one.
//
// Threading: like every module object, called by the host one call at a time; no locks.
class Module : public ModuleBase {
public:
  static constexpr int32_t PATH_CAPACITY = 400;
  // The recording stream's buffer: 512 records. Whatever sits in it is lost if the host dies,
  // so it stays small; a bigger one would only save write calls that already come once per
  // 512 messages. Each record enters it as its message is handled, so exit() and every flush
  // of the process reach all of them.
  static constexpr size_t RECORD_BUFFER_SIZE = 4096;

  Module(HostCallback callback, void* hostHandle) noexcept;
  ~Module() override;

  void onPinStatus(Pin* pin) override;
  void open() override;
  bool getPinDescription(int32_t index, PinDescription* out) override;
  void onMidiData(uint32_t firstWord, uint32_t message, uint16_t shortValue) override;

  // Pause bookkeeping, run once per audio block through the process routine open installs.
  void processBlock();

  // Appends one line to the diagnostic log, opening and closing the log around it. Failures
  // leave the line unwritten and only show in diagOpenResult.
  void writeDiagnostic(const char* text);

private:
  void resetState() noexcept;
  void closeRecording() noexcept;
  void selectFile();
  uint32_t clockReading();

  // Pin variables, written by the host through the addresses getPinDescription hands out.
  int16_t rec = 0;             // "REC": 1 records
  char* outFileText = nullptr; // "OUTFILE": never read; the host resolves the path for us
  // "on D: DIAGNOSE.TXT": the host's 8-bit bool. Held as a byte because any non-zero value the
  // host writes means on, and a bool holding other than 0 or 1 is not a valid bool.
  uint8_t diagnose = 0;

  int32_t diagOpenResult = -1; // last log open: 0, an error number, or -1 before any
  int32_t recOpenResult = -1;  // 0 exactly while recFile is open
  std::FILE* recFile = nullptr;
  // A write to recFile failed or came up short: nothing more goes to this file until a file is
  // chosen again, so that records after a tear never land off the 8-byte grid.
  bool recWriteFailed = false;
  std::FILE* diagFile = nullptr; // open only while writeDiagnostic runs
  bool startPending = false;     // file just opened; time 0 taken at the first block with REC 1
  bool paused = false;
  uint32_t startClock = 0; // clock reading that counts as time 0, moved on by pauses
  uint32_t pauseStartClock = 0;
  // Lent to recFile while it is open; closeRecording runs before it goes away.
  char recBuffer[RECORD_BUFFER_SIZE];
  char hostPath[PATH_CAPACITY];
  char path[PATH_CAPACITY];
  char diagText[PATH_CAPACITY];
};

#endif // QUORB_RECORDER_MODULE_H
