// The exported status conversions, through the shipped library.
#include <gtest/gtest.h>

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

TEST(CodeToString, TextAndResultPerCode) {
  const TextCase cases[] = {
      {0, "okay", HYX_OK},
      {0x0bad0001, "Unknown error status: 0xbad0001", HYX_FAILURE},  // HYX_FAILURE itself
      {0x0bad0000, "Unknown error status: 0xbad0000", HYX_FAILURE},
      {0x0bad0002, "Would block", HYX_OK},
      {0x0bad0003, "Not found", HYX_OK},
      {0x0bad0093, "HSI GetList handler overflow", HYX_OK},
      {0x0bad016c, "Invalid error code", HYX_OK},
      {0x0bad016d, "Generic service console error", HYX_OK},
      {0x0bad016e, "Unknown error status: 0xbad016e", HYX_FAILURE},
      {0x0bad00e9, "Unknown error status: 0xbad00e9", HYX_FAILURE},  // positions without a row
      {0x0bad0127, "Unknown error status: 0xbad0127", HYX_FAILURE},
      {0x0bad0130, "Unknown error status: 0xbad0130", HYX_FAILURE},
      {0x0bad0131, "Unknown error status: 0xbad0131", HYX_FAILURE},
      {1, "Unknown error status: 0x1", HYX_FAILURE},
      {0x2bacffff, "Unknown error status: 0x2bacffff", HYX_FAILURE},
      {0x2bad0002, Errtext(2), HYX_OK},
      {0x2bad0000, Errtext(0), HYX_OK},
      {0x2bad5000, Errtext(0x5000), HYX_OK},                       // no upper bound
      {0xffffffff, Errtext(static_cast<int>(0xffffffffu - 0x2bad0000u)), HYX_OK},
  };
  for (const TextCase &c : cases) {
    char buffer[128];
    int length = -1;
    EXPECT_EQ(HyxuserStatus_CodeToString(c.code, buffer, sizeof buffer, &length), c.result) << std::hex << c.code;
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
  EXPECT_EQ(HyxuserStatus_CodeToString(0x0bad0001, unknown, sizeof unknown, &length), HYX_FAILURE);
  EXPECT_STREQ(unknown, "Unknown");
  EXPECT_EQ(length, static_cast<int>(strlen("Unknown error status: 0xbad0001")));
}

TEST(CodeToString, SizeZeroOnlyMeasuresAndNullLengthIsAccepted) {
  int length = 0;
  EXPECT_EQ(HyxuserStatus_CodeToString(0x0bad0003, nullptr, 0, &length), HYX_OK);
  EXPECT_EQ(length, 9);
  char untouched = 'x';
  EXPECT_EQ(HyxuserStatus_CodeToString(0x0bad0003, &untouched, 0, nullptr), HYX_OK);
  EXPECT_EQ(untouched, 'x');
  // A null buffer with a size is measured, not written through.
  EXPECT_EQ(HyxuserStatus_CodeToString(0x0bad0003, nullptr, 64, &length), HYX_OK);
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
      {0x0bad0001, 22, HYX_FAILURE},
      {0x0bad0000, 22, HYX_FAILURE},
      {0x0bad0014, 12, HYX_OK},
      {0x0bad0021, 110, HYX_OK},
      {0x0bad016d, 5, HYX_OK},
      {0x0bad016e, 22, HYX_FAILURE},
      {0x0bad0127, 22, HYX_FAILURE},
      {0x2bad0000, 0, HYX_OK},
      {0x2bad0002, 2, HYX_OK},
      {0x2bad5000, 0x5000, HYX_OK},
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
  for (uint32_t code = 0x0bad0000; code <= 0x0bad016e; ++code) {
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
  EXPECT_EQ(HyxuserStatus_CodeToPamReturnValue(0x2bad0001), -1);
  EXPECT_EQ(HyxuserStatus_CodeToPamReturnValue(0x80000004), -1);
}

}  // namespace
