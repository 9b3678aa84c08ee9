#ifndef QUORB_TESTS_STRESS_STRESS_SUPPORT_H
#define QUORB_TESTS_STRESS_STRESS_SUPPORT_H

// What the stress tests share: descriptor counts, and recordings too long to hold in memory,
// checked against a generator record by record while the file is read in chunks.

#include <gtest/gtest.h>

#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <functional>
#include <sstream>
#include <string>
#include <vector>

#include "recorder_rig.h"

// The process's open file descriptors. The directory listing holds one itself while it runs,
// the same one every time, so two counts compare.
inline size_t openDescriptors() {
  size_t count = 0;
  for ([[maybe_unused]] const auto& entry : std::filesystem::directory_iterator("/proc/self/fd"))
    ++count;
  return count;
}

// A message word that is never a system message and names its index in its upper 24 bits, so
// that a lost, repeated or reordered record shows.
inline uint32_t indexedMessage(uint32_t index) { return index << 8 | (0x80u + index % 0x70u); }

// Compares the file at `path` with `count` records, record i being `expected(i)`, reading a
// chunk at a time. Reports the first record that differs, and a length that differs.
inline ::testing::AssertionResult holdsRecords(const std::string& path, uint64_t count,
                                               const std::function<Record(uint64_t)>& expected) {
  std::FILE* file = std::fopen(path.c_str(), "rb");
  if (file == nullptr) return ::testing::AssertionFailure() << path << " does not open";
  std::vector<uint8_t> chunk(1 << 16);
  uint64_t index = 0;
  size_t got = 0;
  ::testing::AssertionResult result = ::testing::AssertionSuccess();
  while ((got = std::fread(chunk.data(), 1, chunk.size(), file)) > 0) {
    for (const Record& record : records({chunk.begin(), chunk.begin() + long(got)})) {
      if (index >= count) break;
      const Record want = expected(index);
      if (record != want) {
        // Formatted apart: an AssertionResult streams each value afresh, dropping std::hex.
        std::ostringstream text;
        text << "record " << index << " is (" << record.first << ", 0x" << std::hex << record.second
             << "), expected (" << std::dec << want.first << ", 0x" << std::hex << want.second
             << ")";
        result = ::testing::AssertionFailure() << text.str();
        break;
      }
      ++index;
    }
    if (!result) break;
  }
  const auto size = std::filesystem::file_size(path);
  std::fclose(file);
  if (!result) return result;
  if (size != count * 8)
    return ::testing::AssertionFailure()
           << path << " holds " << size << " bytes, expected " << count * 8;
  return ::testing::AssertionSuccess();
}

#endif // QUORB_TESTS_STRESS_STRESS_SUPPORT_H
