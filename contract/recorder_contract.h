#ifndef QUORB_CONTRACT_RECORDER_CONTRACT_H
#define QUORB_CONTRACT_RECORDER_CONTRACT_H

// What the recorder promises everyone outside it: the host numbering its pins, the stand-in host
// playing the host's part, the reader of its files and the tests. The module and each of those
// include this one header; none of them writes these facts again.

#include <cstddef>
#include <cstdint>

// The recorder's pins, numbered as the host numbers them: in the order of the descriptions the
// module hands out (it uses no skipped or repeated pins).
enum : int32_t {
  PIN_INDEX_MIDI_IN = 0,
  PIN_INDEX_REC = 1,
  PIN_INDEX_OUTFILE = 2,
  PIN_INDEX_DIAGNOSE = 3,
  RECORDER_PINS = 4
};

// The diagnostic log's fixed name. Elsewhere than on Windows it is an ordinary relative name.
inline constexpr const char* DIAGNOSTIC_LOG = "D:\\DIAGNOSE.TXT";

// One record of a recording file: time, then message word, each uint32 little-endian.
inline constexpr size_t RECORD_SIZE = 8;

// A system message (status 0xF0-0xFF in the word's low byte): never recorded.
constexpr bool isSystemMessage(uint32_t word) { return (word & 0xF0u) == 0xF0u; }

#endif // QUORB_CONTRACT_RECORDER_CONTRACT_H
