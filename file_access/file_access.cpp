#include "file_access.h"

#include <cerrno>

#ifdef _WIN32
#include <share.h>
#else
#include <sys/file.h>
#endif

int openExclusive(const char* path, const char* mode, std::FILE** stream) noexcept {
  *stream = nullptr;
  if (path == nullptr || path[0] == '\0') return EINVAL;
  errno = 0;
#ifdef _WIN32
  std::FILE* file = _fsopen(path, mode, _SH_DENYRW);
  if (file == nullptr) return errno != 0 ? errno : EACCES;
#else
  std::FILE* file = std::fopen(path, mode);
  if (file == nullptr) return errno != 0 ? errno : EIO;
  // flock locks belong to the open file description, so a second open of the same file in this
  // process conflicts as well, just as a second _SH_DENYRW open does on Windows.
  if (flock(fileno(file), LOCK_EX | LOCK_NB) != 0) {
    const int lockError = errno;
    std::fclose(file);
    return lockError == EWOULDBLOCK ? EACCES : (lockError != 0 ? lockError : EACCES);
  }
#endif
  *stream = file;
  return 0;
}
