#ifndef QUORB_TOOLS_COMMON_CONSOLE_H
#define QUORB_TOOLS_COMMON_CONSOLE_H

// The console: binary output refused on it, UTF-8 on Windows, and the window kept up when the
// program was started from Explorer.

#include <cstdio>

namespace quorb {

// True when the stream is a console or terminal: no place for binary output.
bool isConsole(std::FILE* stream);

// Console set-up at start: UTF-8 output on Windows, so that file names print as they are.
void setUpConsole();

// When the program's console belongs to it alone (Windows: started from Explorer, by a double
// click or a file dropped on it), waits for Enter so that the window stays up to be read.
// Elsewhere, and under a shell, it returns at once.
void holdConsoleIfOwn();

} // namespace quorb

#endif // QUORB_TOOLS_COMMON_CONSOLE_H
