#include "module_texts.h"

#include <cstddef>
#include <cstring>

namespace {

constexpr const char* MODULE_ID = "QUORB_REC_M";
constexpr size_t LINE_WIDTH = 37; // every about line but the ID line, before its line feed

struct Texts {
  char id[100];
  char about[1000];
  size_t aboutLength = 0;

  Texts() noexcept {
    std::memset(id, 0, sizeof id);
    std::memset(about, 0, sizeof about);
    std::strcat(id, MODULE_ID);
    std::strcat(id, "\n");

    stars();
    credit("December 2026, written at home");
    credit("a QUORB tools release");
    credit("module by the QUORB developers");
    stars();
    append(id, std::strlen(id));
    // Lines 7 and 9 are the module's own words, kept exactly as they stand.
    line(" *    RECORDER for QUORB Files       ");
    stars();
    line(" *          enjoy the MUSIC          ");
    credit("thanks to the authors of the host");
    stars();
  }

  void append(const char* text, size_t length) noexcept {
    if (aboutLength + length >= sizeof about) return; // cannot happen with these texts
    std::memcpy(about + aboutLength, text, length);
    aboutLength += length;
  }
  void line(const char* text) noexcept {
    append(text, std::strlen(text));
    append("\n", 1);
  }
  void stars() noexcept {
    char text[LINE_WIDTH + 1];
    text[0] = ' ';
    std::memset(text + 1, '*', LINE_WIDTH - 1);
    text[LINE_WIDTH] = '\0';
    line(text);
  }
  // " *" then `text` centred in blanks, 37 characters in all.
  void credit(const char* text) noexcept {
    char padded[LINE_WIDTH + 1];
    std::memset(padded, ' ', LINE_WIDTH);
    padded[LINE_WIDTH] = '\0';
    padded[1] = '*';
    const size_t room = LINE_WIDTH - 2;
    size_t length = std::strlen(text);
    if (length > room) length = room;
    std::memcpy(padded + 2 + (room - length) / 2, text, length);
    line(padded);
  }
};

const Texts& texts() noexcept {
  static const Texts built; // thread-safe one-time construction
  return built;
}

} // namespace

const char* moduleIdText() noexcept { return texts().id; }
const char* moduleAboutText() noexcept { return texts().about; }
