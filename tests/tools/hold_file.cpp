// Holds a file as another program would while a test runs a tool on it: exclusively, the way
// the recorder holds its file, from "held" on its standard output until its standard input ends.
#include <cstdio>

#include "file_access.h"

int main(int argc, char** argv) {
  std::FILE* file = nullptr;
  if (argc != 2 || openExclusive(argv[1], "ab", &file) != 0) return 1;
  std::puts("held");
  std::fflush(stdout);
  while (std::getchar() != EOF) {
  }
  std::fclose(file);
  return 0;
}
