// Holds a file as another program would while a test runs a tool on it: exclusively (no sharing
// on Windows, an exclusive flock elsewhere, as the recorder does) from "held" on its standard
// output until its standard input ends.
#include <cstdio>

#ifdef _WIN32
#include <share.h>
#else
#include <sys/file.h>
#endif

int main(int argc, char** argv) {
  if (argc != 2) return 2;
#ifdef _WIN32
  std::FILE* file = _fsopen(argv[1], "ab", _SH_DENYRW);
#else
  std::FILE* file = std::fopen(argv[1], "ab");
  if (file != nullptr && flock(fileno(file), LOCK_EX | LOCK_NB) != 0) file = nullptr;
#endif
  if (file == nullptr) return 1;
  std::puts("held");
  std::fflush(stdout);
  while (std::getchar() != EOF) {
  }
  std::fclose(file);
  return 0;
}
