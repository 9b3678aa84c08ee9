// The reader's rules in words for people (quorb help format prints them). recording.cpp
// implements exactly these: a change to one is a change to the other.
#include "recording.h"

namespace quorb {

const char* const TAKES_RULE =
    "Nothing in a .quorb file marks where one take ends and the next begins. The first record\n"
    "starts a take; after that a record starts a new take when its time is smaller than the\n"
    "previous record's time, except in two cases, which keep it in the current take:\n"
    "  wrap:  the previous time is 0xC0000000 or more and this one is below 0x40000000: the\n"
    "         32-bit clock wrapped, and 2^32 is added to this and every later time of the\n"
    "         take;\n"
    "  pause: this time is not smaller than the time of the last earlier record of the take\n"
    "         whose time differs from the previous record's (both times with the take's 2^32\n"
    "         additions so far). The records at the previous time then stand alone ahead of\n"
    "         both neighbours, which is how messages that arrive as a pause ends are stamped\n"
    "         (they carry the pause's length). They are reported as time going backwards,\n"
    "         and tomidi places them at the time of the first record after them.\n"
    "Limits: a new take is missed, and read as going on, when its first time is not smaller\n"
    "than the last time of the take before it, or when the pause case fits it (the take\n"
    "before ends on records sharing one time, and the new first time is not smaller than the\n"
    "time before those). A message that arrived after a file was chosen but before its take\n"
    "started carries a time from the earlier time base; it reads as the end of the take\n"
    "before it (at the start of a file, as a take of its own).\n";

const char* const DAMAGE_RULE =
    "A record is plausible when its message is one the module could have written: status\n"
    "0x80-0xEF (a channel message) with both data bytes below 0x80. Records are read on the\n"
    "8-byte grid from byte 0; while the next 8 are plausible with times that do not decrease,\n"
    "each is read as it is. Elsewhere the reader scores each of the 8 byte shifts over the\n"
    "next 128 bytes: a whole record scores when it is plausible and in order (after a\n"
    "plausible record whose time is not above its own, or after the one before that, as a\n"
    "record stamped at a pause's end stands alone). While no shift beats the grid by 3 (by\n"
    "less where the file ends sooner), the record is read as it stands: a new take, a\n"
    "wrap, a pause end, or an odd word the module was given. When one does, stray bytes have\n"
    "moved what follows: the damage ends at the nearest offset on that shift from which 4\n"
    "plausible records with times that do not decrease follow (all that are left, if fewer).\n"
    "The grid's plausible records before it are read, the bytes from the first other one up\n"
    "to it are skipped and named in a warning, and reading goes on there, on the new grid.\n"
    "A file cut inside a record (a full disk, a size limit) and then recorded into again holds\n"
    "the torn record's first bytes before the new take: they are damage like stray bytes,\n"
    "skipped and named, never read as a message. Bytes at the end that make no whole record\n"
    "are skipped too. Every record read is shown as it stands, whatever its word; only channel\n"
    "messages become MIDI. The takes rule applies to what is read.\n";

} // namespace quorb
