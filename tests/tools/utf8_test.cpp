// The one UTF-8 check, and the two places that use it: what the reader takes for plain text and
// what the picture page lets through.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "recording.h"
#include "svg_text.h"
#include "utf8.h"

namespace {

TEST(Utf8, WellFormedSequencesAndNothingElse) {
  const struct {
    std::vector<uint8_t> bytes;
    size_t length;
  } cases[] = {
      {{'a'}, 1},
      {{0xC3, 0xA4}, 2},             // ä
      {{0xE9, 0x8C, 0xB2}, 3},       // 録
      {{0xF0, 0x9F, 0x8E, 0xB9}, 4}, // a keyboard
      {{0xF4, 0x8F, 0xBF, 0xBF}, 4}, // U+10FFFF, the last
      {{0x80}, 0},                   // a continuation byte alone
      {{0xC0, 0x80}, 0},             // overlong
      {{0xC1, 0xBF}, 0},             // overlong
      {{0xE0, 0x9F, 0xBF}, 0},       // overlong
      {{0xED, 0xA0, 0x80}, 0},       // a surrogate
      {{0xF0, 0x8F, 0xBF, 0xBF}, 0}, // overlong
      {{0xF4, 0x90, 0x80, 0x80}, 0}, // past U+10FFFF
      {{0xF5, 0x80, 0x80, 0x80}, 0}, // no such lead byte
      {{0xFF, 0x80, 0x80}, 0},
      {{0xC3, 0x41}, 0}, // the continuation is not one
      {{0xE9, 0x8C}, 3}, // cut short: judged on what is there, the cut shows in the length
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(::testing::PrintToString(c.bytes));
    EXPECT_EQ(c.length, quorb::utf8Length(c.bytes.data(), c.bytes.size()));
  }
}

TEST(Utf8, ThePageAndTheReaderJudgeAlike) {
  EXPECT_EQ("Käse ??? ??? x", quorb::svg::escaped("K\xC3\xA4se \xF5\x80\x80 \xED\xA0\x80 x"));
  EXPECT_EQ("cut ??", quorb::svg::escaped("cut \xE9\x8C"));
  const std::string good = "Käse: take 1\n", bad = "take \xF5\x80\x80\n";
  EXPECT_STREQ("plain text",
               quorb::knownFormat(reinterpret_cast<const uint8_t*>(good.data()), good.size()));
  EXPECT_EQ(nullptr, quorb::knownFormat(reinterpret_cast<const uint8_t*>(bad.data()), bad.size()));
}

} // namespace
