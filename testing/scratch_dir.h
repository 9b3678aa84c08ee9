#ifndef QUORB_TESTS_SCRATCH_DIR_H
#define QUORB_TESTS_SCRATCH_DIR_H

// A fresh temporary directory that is also the working directory while it lives, so that the
// diagnostic log (a relative name outside Windows) and every recording stay inside it.

#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

class ScratchDir {
public:
  ScratchDir();
  ~ScratchDir();
  ScratchDir(const ScratchDir&) = delete;
  ScratchDir& operator=(const ScratchDir&) = delete;

  std::string path(const std::string& name) const { return (dir_ / name).string(); }

private:
  std::filesystem::path dir_;
  std::filesystem::path previous_;
};

std::vector<uint8_t> readBytes(const std::string& path);
std::string readText(const std::string& path);
void writeBytes(const std::string& path, const std::vector<uint8_t>& bytes);
bool fileExists(const std::string& path);

#endif // QUORB_TESTS_SCRATCH_DIR_H
