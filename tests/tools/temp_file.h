#ifndef QUORB_TESTS_TOOLS_TEMP_FILE_H
#define QUORB_TESTS_TOOLS_TEMP_FILE_H

#include <cstdint>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

// A path in the system's temporary folder, removed before use and when the object goes.
class TempFile {
public:
  explicit TempFile(const std::string& name)
      : path_((std::filesystem::temp_directory_path() / ("quorb_tools_test_" + name)).string()) {
    std::filesystem::remove(path_);
  }
  ~TempFile() {
    std::error_code ignored;
    std::filesystem::remove(path_, ignored);
  }
  TempFile(const TempFile&) = delete;
  TempFile& operator=(const TempFile&) = delete;

  const std::string& path() const { return path_; }
  void write(const std::vector<uint8_t>& bytes) const {
    std::ofstream(path_, std::ios::binary)
        .write(reinterpret_cast<const char*>(bytes.data()), std::streamsize(bytes.size()));
  }
  std::vector<uint8_t> read() const {
    std::ifstream in(path_, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
  }

private:
  std::string path_;
};

#endif // QUORB_TESTS_TOOLS_TEMP_FILE_H
