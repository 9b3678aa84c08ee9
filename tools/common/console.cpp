#include "console.h"

#ifdef _WIN32
#include <io.h>
#include <windows.h>
#else
#include <unistd.h>
#endif

namespace quorb {

bool isConsole(std::FILE* stream) {
#ifdef _WIN32
  // _isatty is true for NUL as well; only a console has a console mode.
  DWORD mode = 0;
  return GetConsoleMode(reinterpret_cast<HANDLE>(_get_osfhandle(_fileno(stream))), &mode) != 0;
#else
  return isatty(fileno(stream)) != 0;
#endif
}

void setUpConsole() {
#ifdef _WIN32
  SetConsoleOutputCP(CP_UTF8);
#endif
}

void holdConsoleIfOwn() {
#ifdef _WIN32
  DWORD processes[2];
  if (GetConsoleProcessList(processes, 2) != 1) return;
  std::fputs("\nPress Enter to close this window.", stdout);
  std::fflush(stdout);
  std::getchar();
#endif
}

} // namespace quorb
