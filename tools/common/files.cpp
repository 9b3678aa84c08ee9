#include "files.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <fstream>
#include <iterator>

#ifdef _WIN32
#include <fcntl.h>
#include <io.h>
#include <sys/stat.h>
#include <windows.h>
#else
#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>
#endif

#include "failures.h"

namespace fs = std::filesystem;

namespace quorb {

fs::path pathOf(const std::string& utf8) { return fs::u8path(utf8); }

std::string textOf(const fs::path& path) { return path.u8string(); }

namespace {

// True when another program holds the file exclusively, as the module holds the file it records.
bool heldByAnotherProgram(const fs::path& file) {
#ifdef _WIN32
  const HANDLE handle = CreateFileW(file.c_str(), GENERIC_READ,
                                    FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                    OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (handle != INVALID_HANDLE_VALUE) {
    CloseHandle(handle);
    return false;
  }
  return GetLastError() == ERROR_SHARING_VIOLATION;
#else
  const int fd = ::open(file.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
  if (fd < 0) return false;
  const bool held = flock(fd, LOCK_SH | LOCK_NB) != 0 && errno == EWOULDBLOCK;
  ::close(fd);
  return held;
#endif
}

} // namespace

std::vector<uint8_t> readWholeFile(const std::string& path, const std::string& what) {
  const fs::path file = pathOf(path);
  std::error_code error;
  const fs::file_status status = fs::status(file, error);
  if (!fs::exists(status)) throw FileError(path + ": cannot open: no such file");
  if (fs::is_directory(status)) throw FileError(path + ": a folder, not a " + what);
  if (fs::is_regular_file(status) && heldByAnotherProgram(file))
    throw FileError(path + ": being recorded by another program; it can be read once that "
                           "program lets it go (in the host: choose another file on OUTFILE, or "
                           "close the patch)");
  std::ifstream in(file, std::ios::binary);
  if (!in) throw FileError(path + ": cannot open (not readable)");
  std::vector<uint8_t> bytes;
  std::error_code sizeError;
  const uintmax_t size = fs::is_regular_file(status) ? fs::file_size(file, sizeError) : 0;
  if (!sizeError && size > 0 && size <= bytes.max_size()) {
    // Read in one piece at its size, so that the bytes take no more memory than the file.
    bytes.resize(size_t(size));
    in.read(reinterpret_cast<char*>(bytes.data()), std::streamsize(bytes.size()));
    bytes.resize(size_t(in.gcount()));
  }
  // Whatever follows: a file that grew meanwhile, or a device or pipe of no known size.
  if (in)
    bytes.insert(bytes.end(), std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
  if (in.bad()) throw FileError(path + ": read error");
  return bytes;
}

bool sameFile(const std::string& a, const std::string& b) {
  std::error_code error;
  return fs::equivalent(pathOf(a), pathOf(b), error) && !error;
}

bool fileStartsWith(const std::string& path, const std::string& magic) {
  std::ifstream in(pathOf(path), std::ios::binary);
  std::string start(magic.size(), '\0');
  return in && in.read(&start[0], std::streamsize(start.size())) && start == magic;
}

std::string freeName(const std::string& wanted, const std::vector<std::string>& taken) {
  const auto isFree = [&](const std::string& name) {
    std::error_code error;
    return !fs::exists(fs::symlink_status(pathOf(name), error)) &&
           std::find(taken.begin(), taken.end(), name) == taken.end();
  };
  if (isFree(wanted)) return wanted;
  fs::path stem = pathOf(wanted);
  const std::string extension = textOf(stem.extension());
  stem.replace_extension();
  for (uint64_t number = 2;; ++number) {
    const std::string name = textOf(stem) + " (" + std::to_string(number) + ")" + extension;
    if (isFree(name)) return name;
  }
}

std::string programFolder() {
#ifdef _WIN32
  std::wstring name(MAX_PATH, L'\0');
  for (;;) {
    const DWORD length = GetModuleFileNameW(nullptr, &name[0], DWORD(name.size()));
    if (length == 0) return "";
    if (length < name.size()) {
      name.resize(length);
      break;
    }
    name.resize(name.size() * 2);
  }
  return textOf(fs::path(name).parent_path());
#else
  std::error_code error;
  const fs::path self = fs::read_symlink("/proc/self/exe", error);
  return error ? "" : textOf(self.parent_path());
#endif
}

namespace {

std::string reason(int error) { return error != 0 ? std::strerror(error) : "unknown error"; }

// Creates `path` for writing, failing when it exists.
std::FILE* createNew(const fs::path& path) {
#ifdef _WIN32
  const int fd =
      _wopen(path.c_str(), _O_WRONLY | _O_CREAT | _O_EXCL | _O_BINARY, _S_IREAD | _S_IWRITE);
  if (fd < 0) return nullptr;
  std::FILE* file = _fdopen(fd, "wb");
  if (file == nullptr) _close(fd);
#else
  const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
  if (fd < 0) return nullptr;
  std::FILE* file = fdopen(fd, "wb");
  if (file == nullptr) ::close(fd);
#endif
  return file;
}

} // namespace

AtomicFile::AtomicFile(const std::string& target, bool replace)
    : target_(target), replace_(replace) {
  const fs::path path = pathOf(target);
  const fs::path folder = path.parent_path();
  for (int attempt = 0; attempt < 100 && file_ == nullptr; ++attempt) {
    temporary_ =
        folder / pathOf("." + textOf(path.filename()) + "." + std::to_string(attempt) + ".tmp");
    errno = 0;
    file_ = createNew(temporary_);
    if (file_ == nullptr && errno != EEXIST)
      throw FileError("cannot write " + target + ": " + reason(errno));
  }
  if (file_ == nullptr) throw FileError("cannot write " + target + ": no free temporary name");
}

AtomicFile::~AtomicFile() {
  if (file_ != nullptr) std::fclose(file_);
  if (!temporary_.empty()) {
    std::error_code ignored;
    fs::remove(temporary_, ignored);
  }
}

void AtomicFile::write(const uint8_t* data, size_t size) {
  if (file_ != nullptr && !failed_ && size > 0 && std::fwrite(data, 1, size, file_) != size)
    failed_ = true;
}

void AtomicFile::commit() {
  errno = 0;
#ifdef _WIN32
  bool ok = !failed_ && std::fflush(file_) == 0 && _commit(_fileno(file_)) == 0;
#else
  bool ok = !failed_ && std::fflush(file_) == 0 && fsync(fileno(file_)) == 0;
#endif
  int error = errno;
  if (std::fclose(file_) != 0 && ok) {
    ok = false;
    error = errno;
  }
  file_ = nullptr;
  if (!ok) throw FileError("cannot write " + target_ + ": " + reason(error));
#ifdef _WIN32
  // A plain rename will not replace an existing file on Windows.
  if (!MoveFileExW(temporary_.c_str(), pathOf(target_).c_str(),
                   (replace_ ? MOVEFILE_REPLACE_EXISTING : 0) | MOVEFILE_WRITE_THROUGH))
    throw FileError("cannot write " + target_ + ": " +
                    (GetLastError() == ERROR_ALREADY_EXISTS
                         ? std::string("another file took that name meanwhile")
                         : "Windows error " + std::to_string(GetLastError())));
#else
  // link() never replaces: where it is refused, the rename would have.
  // A file system without hard links gets the check and the rename instead.
  if (!replace_ && ::link(temporary_.c_str(), pathOf(target_).c_str()) == 0) {
    std::error_code ignored;
    fs::remove(temporary_, ignored);
  } else if (!replace_ && (errno == EEXIST || fs::exists(pathOf(target_)))) {
    throw FileError("cannot write " + target_ + ": another file took that name meanwhile");
  } else if (std::rename(temporary_.c_str(), pathOf(target_).c_str()) != 0) {
    throw FileError("cannot write " + target_ + ": " + reason(errno));
  }
#endif
  temporary_.clear();
}

} // namespace quorb
