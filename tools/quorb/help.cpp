#include "commands.h"

#include "failures.h"

namespace quorb {

void helpTopic(const std::string& topic, std::ostream& out) {
  if (topic != "format") throw UsageError("no help on \"" + topic + "\": try quorb help format");
  out << "A .quorb file is a row of 8-byte records: the time in the host's clock ticks, then the "
         "MIDI\nmessage, each 4 bytes, little-endian. It has no header.\n\n"
         "Takes in one file:\n"
      << TAKES_RULE << "\nDamage:\n"
      << DAMAGE_RULE
      << "\nNot a recording: a file that starts like a WAV, MIDI, MP3, Ogg, FLAC, PDF, zip or "
         "text file\nor a program, and a file with less than a third of its bytes in records "
         "holding a MIDI\nchannel message.\n";
}

} // namespace quorb
