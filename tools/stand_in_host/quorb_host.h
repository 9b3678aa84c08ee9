#ifndef QUORB_TOOLS_STAND_IN_HOST_QUORB_HOST_H
#define QUORB_TOOLS_STAND_IN_HOST_QUORB_HOST_H

// The quorb-host command, callable in-process: arguments as main gets them, reports and errors
// to the given streams. Returns the exit code: 0 done, non-zero for bad arguments, an unreadable
// MIDI file, an unusable module file or an unwritable recording file.

#include <ostream>

int runQuorbHost(int argc, const char* const* argv, std::ostream& out, std::ostream& err);

#endif // QUORB_TOOLS_STAND_IN_HOST_QUORB_HOST_H
