#include "file_access.h"

#include <cerrno>
#include <fcntl.h>

#ifdef _WIN32
#include <io.h>
#include <share.h>
#include <sys/stat.h>
#else
#include <sys/file.h>
#include <unistd.h>
#endif

namespace {

// The open flags of an append mode, or -1 for a mode this function does not take.
int appendFlags(const char* mode) {
  if (mode == nullptr || mode[0] != 'a') return -1;
  bool update = false;
  bool binary = false;
  for (const char* c = mode + 1; *c != '\0'; ++c) {
    if (*c == '+' && !update)
      update = true;
    else if (*c == 'b' && !binary)
      binary = true;
    else
      return -1;
  }
#ifdef _WIN32
  return (update ? _O_RDWR : _O_WRONLY) | _O_APPEND | _O_CREAT | _O_NOINHERIT |
         (binary ? _O_BINARY : _O_TEXT);
#else
  return (update ? O_RDWR : O_WRONLY) | O_APPEND | O_CREAT | O_CLOEXEC;
#endif
}

void closeDescriptor(int fd) {
#ifdef _WIN32
  _close(fd);
#else
  ::close(fd);
#endif
}

} // namespace

int openExclusive(const char* path, const char* mode, std::FILE** stream) noexcept {
  *stream = nullptr;
  const int flags = appendFlags(mode);
  if (path == nullptr || path[0] == '\0' || flags < 0) return EINVAL;
  errno = 0;
  // The descriptor is opened first, with the flags fopen has no portable letter for; the stream
  // is made on it afterwards.
#ifdef _WIN32
  const int fd = _sopen(path, flags, _SH_DENYRW, _S_IREAD | _S_IWRITE);
  if (fd < 0) return errno != 0 ? errno : EACCES;
  std::FILE* file = _fdopen(fd, mode);
#else
  const int fd = ::open(path, flags, 0666);
  if (fd < 0) return errno != 0 ? errno : EIO;
  // flock locks belong to the open file description, so a second open of the same file in this
  // process conflicts as well, just as a second _SH_DENYRW open does on Windows.
  if (flock(fd, LOCK_EX | LOCK_NB) != 0) {
    const int lockError = errno;
    ::close(fd);
    return lockError == EWOULDBLOCK ? EACCES : (lockError != 0 ? lockError : EACCES);
  }
  std::FILE* file = fdopen(fd, mode);
#endif
  if (file == nullptr) {
    const int streamError = errno != 0 ? errno : ENOMEM;
    closeDescriptor(fd);
    return streamError;
  }
  *stream = file;
  return 0;
}
