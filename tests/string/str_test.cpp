// The bounded string functions: truncation that never splits a UTF-8
// character, allocation, and the copy that aborts instead of overflowing.
#include "string/str.h"

#include <gtest/gtest.h>

#include <csignal>
#include <cstdlib>
#include <cstring>
#include <string>

#include "../support/silent_abort.h"

namespace {

TEST(StrSnprintf, TruncationKeepsWholeCharacters) {
  const std::string text = "ab\xC3\xA9";  // ab and a 2-byte character
  const struct {
    size_t size;
    int result;
    std::string held;
  } cases[] = {
      {5, 4, text},   // fits exactly
      {4, -1, "ab"},  // the cut character is dropped
      {3, -1, "ab"}, {2, -1, "a"}, {1, -1, ""},
  };
  for (const auto &c : cases) {
    char buffer[8];
    memset(buffer, '#', sizeof buffer);
    EXPECT_EQ(Str_Snprintf(buffer, c.size, "%s", text.c_str()), c.result) << c.size;
    EXPECT_EQ(std::string(buffer), c.held) << c.size;
    EXPECT_EQ(buffer[c.size], '#') << "wrote past the buffer, size " << c.size;
  }
  char untouched = '#';
  EXPECT_EQ(Str_Snprintf(&untouched, 0, "%s", "abc"), -1);
  EXPECT_EQ(untouched, '#');
}

TEST(StrSnprintf, CutsInsideLongerCharacters) {
  char buffer[8];
  // Euro sign (3 bytes) cut after one or two of its bytes, and kept whole.
  EXPECT_EQ(Str_Snprintf(buffer, 3, "x\xE2\x82\xAC"), -1);
  EXPECT_STREQ(buffer, "x");
  EXPECT_EQ(Str_Snprintf(buffer, 4, "x\xE2\x82\xAC"), -1);
  EXPECT_STREQ(buffer, "x");
  EXPECT_EQ(Str_Snprintf(buffer, 5,
                         "x\xE2\x82\xAC"
                         "y"),
            -1);
  EXPECT_STREQ(buffer, "x\xE2\x82\xAC");
  // A 4-byte character that exactly fills the buffer stays.
  EXPECT_EQ(Str_Snprintf(buffer, 5, "\xF0\x9F\x98\x80!"), -1);
  EXPECT_STREQ(buffer, "\xF0\x9F\x98\x80");
}

TEST(StrSnprintf, EngineFailureLeavesACleanPrefix) {
  char buffer[16];
  memset(buffer, '#', sizeof buffer);
  EXPECT_EQ(Str_Snprintf(buffer, sizeof buffer, "ab\xC3\xA9%lc", static_cast<wint_t>(0x20AC)), -1);
  EXPECT_STREQ(buffer, "ab\xC3\xA9");
}

TEST(StrVasprintf, AllocatesTheWholeText) {
  auto format = [](size_t *length, const char *f, ...) {
    va_list ap;
    va_start(ap, f);
    char *text = Str_Vasprintf(length, f, ap);
    va_end(ap);
    return text;
  };
  size_t length = 0;
  char *text = format(&length, "%s-%05.1f", "value", 2.25);
  EXPECT_STREQ(text, "value-002.2");
  EXPECT_EQ(length, 11u);
  free(text);
  text = format(nullptr, "%0300d", 1);
  EXPECT_EQ(strlen(text), 300u);
  free(text);
  EXPECT_EQ(format(&length, "%lc", static_cast<wint_t>(0x20AC)), nullptr);
}

TEST(StrStrcpy, CopiesWhatFits) {
  char buffer[4];
  EXPECT_EQ(Str_Strcpy(buffer, "abc", sizeof buffer), buffer);
  EXPECT_STREQ(buffer, "abc");
}

TEST(StrStrcpyDeathTest, OverflowAbortsSilently) {
  char buffer[4];
  EXPECT_SILENT_ABORT(Str_Strcpy(buffer, "abcd", sizeof buffer));
}

TEST(StrStrlen, StopsAtTheMaximum) {
  const char text[5] = {'a', 'b', 'c', 'd', 'e'};  // no NUL
  EXPECT_EQ(Str_Strlen(text, 5), 5u);
  EXPECT_EQ(Str_Strlen(text, 3), 3u);
  EXPECT_EQ(Str_Strlen("ab", 10), 2u);
  EXPECT_EQ(Str_Strlen("ab", 0), 0u);
}

}  // namespace
