#ifndef QUORB_FILE_ACCESS_H
#define QUORB_FILE_ACCESS_H

#include <cstdio>

// Opens `path` with the stdio `mode`, held exclusively: while the stream is open no other
// program, and no other stream of this process, can open the same file through this function.
// On Linux the hold is an advisory lock (flock): every opener through here respects it, other
// programs need not. On Windows it is the system's share mode, which binds everyone.
//
// No program that the process starts inherits the stream's descriptor or handle (close-on-exec,
// not inheritable): a host that starts programs while recording keeps the hold to itself, and
// the file can be chosen again while such a program runs.
//
// `mode` is an append mode: "a" or "a+", with "b" for binary; anything else gives EINVAL.
// Returns 0 and sets `*stream`, or returns the error number and sets `*stream` to null. A file
// someone else holds gives EACCES on every platform (the number a sharing violation gives on
// Windows). An empty path gives EINVAL without touching the file system.
int openExclusive(const char* path, const char* mode, std::FILE** stream) noexcept;

#endif // QUORB_FILE_ACCESS_H
