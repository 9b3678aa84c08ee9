// The diagnostic log and the resolved path's edges.
#include <gtest/gtest.h>

#include <cerrno>
#include <filesystem>

#include "recorder_rig.h"

namespace {

class Diagnostics : public ::testing::Test {
protected:
  ScratchDir scratch;
  FreshLog log;
};

TEST_F(Diagnostics, EachOpenAttemptAppendsOneLineWhileTheSwitchIsOn) {
  const std::string take = scratch.path("take.quorb");
  const std::string missing = scratch.path("missing/take.quorb");
  const std::string old = "old" + LOG_LINE_END; // never truncated
  writeBytes(DIAGNOSTIC_LOG, std::vector<uint8_t>(old.begin(), old.end()));
  Recorder r;
  // Switch off: no line. Any non-zero byte is on.
  r.play("diag=1 file=take.quorb file=missing/take.quorb file= diag=0 file=take.quorb "
         "diag=0x80 file=take.quorb",
         scratch);
  const std::string expected = "old\nerr=0 " + take + "\nerr=" + std::to_string(ENOENT) + " " +
                               missing + "\nerr=" + std::to_string(EINVAL) + " \nerr=0 " + take +
                               "\n";
  EXPECT_EQ(expected, readLog());
}

TEST_F(Diagnostics, SwitchOffTouchesNoLogWhateverHappens) {
  Recorder r;
  r.play("file=take.quorb file=missing/take.quorb file=", scratch);
  EXPECT_FALSE(fileExists(DIAGNOSTIC_LOG));
}

TEST_F(Diagnostics, AnUnopenableLogLeavesRecordingAlone) {
  std::filesystem::create_directory(DIAGNOSTIC_LOG); // the log's name taken by a folder
  Recorder r;
  r.play("diag=1 file=take.quorb rec=1 blk m=0x90 close size=8", scratch);
}

// A path nested in folders so that it can be exactly `length` characters and still open.
std::string deepPath(const std::string& root, size_t length) {
  std::string path = root;
  std::filesystem::create_directory(path);
  while (length - path.size() > 60) {
    path += "/" + std::string(50, 'd');
    std::filesystem::create_directory(path);
  }
  path += "/";
  path += std::string(length - path.size(), 'f');
  return path;
}

TEST_F(Diagnostics, LongestLineThatFitsIsWhole_LongerOnesAreCutToALine) {
  struct Case {
    size_t pathLength;
    bool whole;
  };
  // "err=0 " + path + "\n" + NUL fits 400 bytes up to a 392-character path.
  for (const Case c : {Case{392, true}, Case{393, false}, Case{399, false}}) {
    SCOPED_TRACE(c.pathLength);
    FreshLog::clear();
    const std::string path =
        deepPath(scratch.path("deep" + std::to_string(c.pathLength)), c.pathLength);
    Recorder r;
    r.diagnose(1);
    r.choose(path);
    r.rec(1);
    r.block();
    r.midi(0x90);
    r.close();
    EXPECT_EQ(8u, readBytes(path).size()); // the open itself used the whole path
    const std::string line = readLog();
    if (c.whole) {
      EXPECT_EQ("err=0 " + path + "\n", line);
    } else {
      EXPECT_EQ(399u, line.size());
      EXPECT_EQ(("err=0 " + path).substr(0, 398) + "\n", line);
    }
  }
}

TEST_F(Diagnostics, AnUnterminatedHostPathIsCutAtTheBuffersEnd) {
  Recorder r;
  r.diagnose(1);
  r.host.terminatePath = false; // the host fills all 400 bytes, no NUL
  r.choose("p");
  const std::string line = readLog();
  ASSERT_EQ(399u, line.size());
  EXPECT_EQ('\n', line.back());
  EXPECT_EQ(0u, line.rfind("err=", 0));
  // 399 characters of 'p' is longer than any file name the system allows: the open fails.
  EXPECT_NE(0u, line.rfind("err=0 ", 0));
}

} // namespace
