#include "app/shell/text_fit.h"

#include <gtest/gtest.h>

namespace {

// Ten pixels a character (a UTF-8 sequence counts once).
int ten_per_char(const std::string& s) {
  int n = 0;
  for (unsigned char c : s)
    if ((c & 0xC0) != 0x80) ++n;
  return 10 * n;
}

TEST(FitTextEllipsis, CutsToTheWidthKeepingOneCharacter) {
  struct Case {
    const char* text;
    int width, offset;
    const char* expected;
  } cases[] = {
      {"clip", 40, 0, "clip"},            // fits exactly
      {"clip", 45, 6, "c..."},           // the offset counts
      {"movie.mpg", 80, 0, "movie..."},  // 5 + 3 characters
      {"movie.mpg", 10, 0, "m..."},      // never below one character
      {"", 0, 5, "..."},
      {"\xc3\xa9t\xc3\xa9 clip", 60, 0, "\xc3\xa9t\xc3\xa9..."},  // whole characters
      {"\xc3\xa9\xc3\xa9\xc3\xa9", 0, 0, "\xc3\xa9..."},
  };
  for (const Case& c : cases)
    EXPECT_EQ(fit_text_ellipsis(c.text, c.width, c.offset, ten_per_char), c.expected) << c.text << " " << c.width;
}

}  // namespace
