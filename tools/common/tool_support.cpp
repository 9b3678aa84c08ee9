#include "tool_support.h"

#include <cerrno>
#include <cmath>
#include <cstdlib>
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
#include <unistd.h>
#endif

namespace fs = std::filesystem;

namespace quorb {

std::string plural(uint64_t count, const std::string& one, const std::string& many) {
  return std::to_string(count) + " " + (count == 1 ? one : many.empty() ? one + "s" : many);
}

double parseNumber(const std::string& option, const std::string& text, double min, double max) {
  char* end = nullptr;
  const double value = std::strtod(text.c_str(), &end);
  if (text.empty() || end == text.c_str() || *end != '\0' || !std::isfinite(value))
    throw UsageError(option + ": \"" + text + "\" is not a number");
  if (value < min || value > max) {
    char range[128];
    std::snprintf(range, sizeof range, " must be from %g to %g, not %s", min, max, text.c_str());
    throw UsageError(option + range);
  }
  return value;
}

int64_t parseInteger(const std::string& option, const std::string& text, int64_t min, int64_t max) {
  char* end = nullptr;
  errno = 0;
  const long long value = std::strtoll(text.c_str(), &end, 10);
  if (text.empty() || end == text.c_str() || *end != '\0') {
    std::strtod(text.c_str(), &end);
    const bool number = !text.empty() && end != text.c_str() && *end == '\0';
    throw UsageError(option + ": \"" + text + "\" is not " +
                     (number ? "a whole number" : "a number"));
  }
  if (errno == ERANGE || value < min || value > max)
    throw UsageError(option + " must be from " + std::to_string(min) + " to " +
                     std::to_string(max) + ", not " + text);
  return value;
}

fs::path pathOf(const std::string& utf8) { return fs::u8path(utf8); }

std::string textOf(const fs::path& path) { return path.u8string(); }

std::vector<uint8_t> readWholeFile(const std::string& path, const std::string& what) {
  const fs::path file = pathOf(path);
  std::error_code error;
  const fs::file_status status = fs::status(file, error);
  if (!fs::exists(status)) throw FileError(path + ": cannot open: no such file");
  if (fs::is_directory(status)) throw FileError(path + ": a folder, not a " + what);
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

AtomicFile::AtomicFile(const std::string& target) : target_(target) {
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
                   MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH))
    throw FileError("cannot write " + target_ + ": Windows error " +
                    std::to_string(GetLastError()));
#else
  if (std::rename(temporary_.c_str(), pathOf(target_).c_str()) != 0)
    throw FileError("cannot write " + target_ + ": " + reason(errno));
#endif
  temporary_.clear();
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
