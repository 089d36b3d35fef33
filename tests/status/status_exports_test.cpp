// The exported status conversions, through the shipped library.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <string>

#include "hyxuser/hyxuser.h"

namespace {

struct TextCase {
  HYX_ReturnStatus code;
  std::string text;
  HYX_ReturnStatus result;
};

std::string Errtext(int e) { return strerror(e); }

std::string Unknown(HYX_ReturnStatus code) {
  char text[64];
  snprintf(text, sizeof text, "Unknown error status: %#x", code);
  return text;
}

// Positions of the kernel's range that hold no status.
constexpr HYX_ReturnStatus kKernelZero = HYX_FAILURE - 1;  // the range's first position
constexpr HYX_ReturnStatus kPastLast = HYX_GENERIC_LINUX_ERROR + 1;
constexpr HYX_ReturnStatus kHoles[] = {HYX_NO_FCNTL_LOCK_HOLDER + 1, HYX_FT_NOT_RUNNING + 1,
                                       HYX_SVM_IO_RETRY + 1, HYX_SVM_IO_RETRY + 2};

TEST(CodeToString, TextAndResultPerCode) {
  const TextCase cases[] = {
      {0, "okay", HYX_OK},
      {HYX_FAILURE, Unknown(HYX_FAILURE), HYX_FAILURE},  // HYX_FAILURE itself
      {kKernelZero, Unknown(kKernelZero), HYX_FAILURE},
      {HYX_WOULD_BLOCK, "Would block", HYX_OK},
      {HYX_NOT_FOUND, "Not found", HYX_OK},
      {HYX_HSI_LIST_OVERFLOW, "HSI GetList handler overflow", HYX_OK},
      {HYX_LAST_ERR, "Invalid error code", HYX_OK},
      {HYX_GENERIC_LINUX_ERROR, "Generic service console error", HYX_OK},
      {kPastLast, Unknown(kPastLast), HYX_FAILURE},
      {kHoles[0], Unknown(kHoles[0]), HYX_FAILURE},  // positions without a row
      {kHoles[1], Unknown(kHoles[1]), HYX_FAILURE},
      {kHoles[2], Unknown(kHoles[2]), HYX_FAILURE},
      {kHoles[3], Unknown(kHoles[3]), HYX_FAILURE},
      {1, "Unknown error status: 0x1", HYX_FAILURE},
      {HYX_ERRNO_STATUS_BASE - 1, Unknown(HYX_ERRNO_STATUS_BASE - 1), HYX_FAILURE},
      {HYX_ERRNO_STATUS_BASE + 2, Errtext(2), HYX_OK},
      {HYX_ERRNO_STATUS_BASE, Errtext(0), HYX_OK},
      {HYX_ERRNO_STATUS_BASE + 0x5000, Errtext(0x5000), HYX_OK},  // no upper bound
      {0xffffffff, Errtext(static_cast<int>(0xffffffffu - HYX_ERRNO_STATUS_BASE)), HYX_OK},
  };
  for (const TextCase &c : cases) {
    char buffer[128];
    int length = -1;
    EXPECT_EQ(HyxuserStatus_CodeToString(c.code, buffer, sizeof buffer, &length), c.result)
        << std::hex << c.code;
    EXPECT_EQ(buffer, c.text) << std::hex << c.code;
    EXPECT_EQ(length, static_cast<int>(c.text.size())) << std::hex << c.code;
  }
}

TEST(CodeToString, TruncatesLikeSnprintfAndReportsTheWholeLength) {
  char buffer[3] = {'x', 'x', 'x'};
  int length = 0;
  EXPECT_EQ(HyxuserStatus_CodeToString(0, buffer, sizeof buffer, &length), HYX_OK);
  EXPECT_STREQ(buffer, "ok");
  EXPECT_EQ(length, 4);

  char unknown[8];
  EXPECT_EQ(HyxuserStatus_CodeToString(HYX_FAILURE, unknown, sizeof unknown, &length), HYX_FAILURE);
  EXPECT_STREQ(unknown, "Unknown");
  EXPECT_EQ(length, static_cast<int>(Unknown(HYX_FAILURE).size()));
}

TEST(CodeToString, SizeZeroOnlyMeasuresAndNullLengthIsAccepted) {
  int length = 0;
  EXPECT_EQ(HyxuserStatus_CodeToString(HYX_NOT_FOUND, nullptr, 0, &length), HYX_OK);
  EXPECT_EQ(length, 9);
  char untouched = 'x';
  EXPECT_EQ(HyxuserStatus_CodeToString(HYX_NOT_FOUND, &untouched, 0, nullptr), HYX_OK);
  EXPECT_EQ(untouched, 'x');
  // A null buffer with a size is measured, not written through.
  EXPECT_EQ(HyxuserStatus_CodeToString(HYX_NOT_FOUND, nullptr, 64, &length), HYX_OK);
  EXPECT_EQ(length, 9);
}

struct ErrnoCase {
  HYX_ReturnStatus code;
  int err;
  HYX_ReturnStatus result;
};

TEST(CodeToErrno, ErrnoAndResultPerCode) {
  const ErrnoCase cases[] = {
      {0, 0, HYX_OK},
      {HYX_FAILURE, 22, HYX_FAILURE},
      {kKernelZero, 22, HYX_FAILURE},
      {HYX_NO_MEMORY, 12, HYX_OK},
      {HYX_TIMEOUT, 110, HYX_OK},
      {HYX_GENERIC_LINUX_ERROR, 5, HYX_OK},
      {kPastLast, 22, HYX_FAILURE},
      {kHoles[1], 22, HYX_FAILURE},
      {HYX_ERRNO_STATUS_BASE, 0, HYX_OK},
      {HYX_ERRNO_STATUS_BASE + 2, 2, HYX_OK},
      {HYX_ERRNO_STATUS_BASE + 0x5000, 0x5000, HYX_OK},
      {0x1234, 22, HYX_FAILURE},
  };
  for (const ErrnoCase &c : cases) {
    int err = -1;
    EXPECT_EQ(HyxuserStatus_CodeToErrno(c.code, &err), c.result) << std::hex << c.code;
    EXPECT_EQ(err, c.err) << std::hex << c.code;
  }
}

TEST(CodeToErrno, NullOutputIsABadParameter) {
  EXPECT_EQ(HyxuserStatus_CodeToErrno(0, nullptr), static_cast<HYX_ReturnStatus>(HYX_BAD_PARAM));
}

TEST(CodeToPamReturnValue, MapsOneToOneOntoOneToThirtyOne) {
  int seen[32] = {};
  for (uint32_t code = kKernelZero; code <= kPastLast; ++code) {
    int32_t pam = HyxuserStatus_CodeToPamReturnValue(code);
    ASSERT_GE(pam, -1);
    ASSERT_LE(pam, 31);
    if (pam > 0) ++seen[pam];
  }
  for (int v = 1; v <= 31; ++v) EXPECT_EQ(seen[v], 1) << "PAM value " << v;
}

TEST(CodeToPamReturnValue, SpotValues) {
  EXPECT_EQ(HyxuserStatus_CodeToPamReturnValue(0), 0);
  EXPECT_EQ(HyxuserStatus_CodeToPamReturnValue(HYX_FAILURE), 4);
  EXPECT_EQ(HyxuserStatus_CodeToPamReturnValue(HYX_IGNORE), 25);
  EXPECT_EQ(HyxuserStatus_CodeToPamReturnValue(HYX_DEVICE_NOT_READY_FAIL_OPEN), 1);
  EXPECT_EQ(HyxuserStatus_CodeToPamReturnValue(HYX_EXISTS), -1);
  EXPECT_EQ(HyxuserStatus_CodeToPamReturnValue(HYX_ERRNO_STATUS_BASE + 1), -1);
  EXPECT_EQ(HyxuserStatus_CodeToPamReturnValue(0x80000004), -1);
}

}  // namespace
