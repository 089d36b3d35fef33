// The safe allocation wrappers and the panic routine.  Death tests check
// that every fatal path ends in SIGABRT and prints nothing.
#include "misc/util.h"

#include <gtest/gtest.h>

#include <csignal>
#include <cstdint>
#include <cstdlib>
#include <cstring>

#include "../support/silent_abort.h"
#include "alloc_fail.h"

namespace {

// Too large for any allocator (above PTRDIFF_MAX, or above the sanitizers'
// configured maximum), so the request fails without touching memory.
volatile size_t hugeSize = SIZE_MAX / 2;

TEST(SafeAlloc, EmptyRequestsAreReturnedAsTheyCome) {
  void *p = Util_SafeMalloc(0);
  free(p);
  p = Util_SafeCalloc(0, 16);
  free(p);
  p = Util_SafeCalloc(16, 0);
  free(p);
  p = Util_SafeRealloc(Util_SafeMalloc(8), 0);
  free(p);
  EXPECT_EQ(Util_SafeStrdup(nullptr), nullptr);
  EXPECT_EQ(Util_SafeStrndup(nullptr, 4), nullptr);
  EXPECT_EQ(Util_SafeStrdupAt(nullptr, -1, "f.c", 1), nullptr);
}

TEST(SafeAlloc, SuccessfulRequests) {
  char *s = Util_SafeStrdup("hello");
  EXPECT_STREQ(s, "hello");
  s = static_cast<char *>(Util_SafeRealloc(s, 64));
  EXPECT_STREQ(s, "hello");
  free(s);

  const struct {
    const char *text;
    size_t maximum;
    const char *expected;
  } cases[] = {{"abcdef", 3, "abc"}, {"ab", 10, "ab"}, {"abc", 0, ""}, {"", 5, ""}};
  for (const auto &c : cases) {
    char *copy = Util_SafeStrndup(c.text, c.maximum);
    EXPECT_STREQ(copy, c.expected) << c.text << " " << c.maximum;
    free(copy);
  }
  // Strndup must not read past the maximum: this source has no NUL.
  const char unterminated[4] = {'w', 'x', 'y', 'z'};
  char *copy = Util_SafeStrndup(unterminated, sizeof unterminated);
  EXPECT_STREQ(copy, "wxyz");
  free(copy);

  int *zeroed = static_cast<int *>(Util_SafeCallocAt(4, sizeof(int), 17, "f.c", 2));
  EXPECT_EQ(zeroed[0] | zeroed[3], 0);
  free(zeroed);
}

TEST(SafeAllocDeathTest, FailedRequestsAbortSilently) {
  EXPECT_SILENT_ABORT(Util_SafeMalloc(hugeSize));
  EXPECT_SILENT_ABORT(Util_SafeCalloc(hugeSize, 4));
  EXPECT_SILENT_ABORT(Util_SafeRealloc(nullptr, hugeSize));
  EXPECT_SILENT_ABORT(Util_SafeMallocAt(hugeSize, -1, "f.c", 10));
  EXPECT_SILENT_ABORT(Util_SafeCallocAt(hugeSize, 4, 1234, "f.c", 10));
  EXPECT_SILENT_ABORT(Util_SafeReallocAt(nullptr, hugeSize, 7, "f.c", 10));
}

// The copies cannot be made to fail by their size: the allocator is told
// to fail them.
TEST(SafeAllocDeathTest, FailedCopiesAbortSilently) {
  EXPECT_SILENT_ABORT({
    AllocFail_Arm(1);
    Util_SafeStrdup("text");
  });
  EXPECT_SILENT_ABORT({
    AllocFail_Arm(1);
    Util_SafeStrdupAt("text", -1, "f.c", 10);
  });
  EXPECT_SILENT_ABORT({
    AllocFail_Arm(1);
    Util_SafeStrdupAt("text", 99, "f.c", 10);
  });
  EXPECT_SILENT_ABORT({
    AllocFail_Arm(1);
    Util_SafeStrndup("text", 2);
  });
  EXPECT_SILENT_ABORT({
    AllocFail_Arm(1);
    Util_SafeMalloc(16);
  });
}

TEST(SafeAllocDeathTest, ReallocFailureAborts) {
  EXPECT_SILENT_ABORT({
    void *p = Util_SafeMalloc(16);
    Util_SafeRealloc(p, hugeSize);
  });
}

TEST(PanicDeathTest, PanicAndChecksAbortSilently) {
  EXPECT_SILENT_ABORT(Panic("%s:%d Buffer too small\n", "f.c", 3));
  EXPECT_SILENT_ABORT(VERIFY(hugeSize == 0));
  EXPECT_SILENT_ABORT(NOT_REACHED());
  EXPECT_SILENT_ABORT(NOT_IMPLEMENTED());
}

TEST(PanicTest, VerifyOfATrueConditionGoesOn) {
  VERIFY(hugeSize != 0);
  SUCCEED();
}

}  // namespace
