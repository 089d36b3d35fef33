// The library-internal status lookups and the errno rule.
#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "status/status.h"

namespace {

const std::string kFailureMsgId = "@&!*@*@(msg.hyx.status.HYX_FAILURE)Failure";

struct LookupCase {
  HYX_ReturnStatus code;
  std::string name, message, msgId;
  int err;
};

TEST(StatusLookups, EveryColumnOfTheLookupTable) {
  const LookupCase cases[] = {
      {0, "HYX_OK", "Success", "@&!*@*@(msg.hyx.status.HYX_OK)Success", 0},
      {0x2bad0000, "HYX_OK", "Success", "@&!*@*@(msg.hyx.status.HYX_OK)Success", 0},
      {0x2bad0002, "HYX_GENERIC_LINUX_ERROR", strerror(2), strerror(2), 2},
      {0x2bad0fff, "HYX_GENERIC_LINUX_ERROR", strerror(4095), strerror(4095), 4095},
      {0x2bad1000, "UNKNOWN", "Unknown status", kFailureMsgId, 22},
      {0x0bad0000, "UNKNOWN", "Unknown status", kFailureMsgId, 22},
      {5, "UNKNOWN", "Unknown status", kFailureMsgId, 22},
      {0x0bad0001, "HYX_FAILURE", "Failure", kFailureMsgId, 22},
      {0x0bad0014, "HYX_NO_MEMORY", "Out of memory", "@&!*@*@(msg.hyx.status.HYX_NO_MEMORY)Out of memory", 12},
      {0x0bad016d, "HYX_GENERIC_LINUX_ERROR", "Generic service console error",
       "@&!*@*@(msg.hyx.status.HYX_GENERIC_LINUX_ERROR)Generic service console error", 5},
      {0x0bad00e9, "UNKNOWN", "Unknown status", kFailureMsgId, 22},
      {0x0bad016e, "UNKNOWN", "Unknown status", kFailureMsgId, 22},
      {0xffffffff, "UNKNOWN", "Unknown status", kFailureMsgId, 22},
  };
  for (const LookupCase &c : cases) {
    EXPECT_EQ(Status_ToName(c.code), c.name) << std::hex << c.code;
    EXPECT_EQ(Status_ToMessage(c.code), c.message) << std::hex << c.code;
    EXPECT_EQ(Status_ToMsgIdMessage(c.code), c.msgId) << std::hex << c.code;
    EXPECT_EQ(Status_ToErrno(c.code), c.err) << std::hex << c.code;
  }
}

TEST(StatusLookups, MessageIdIsTheKeyInFrontOfTheMessageForEveryRow) {
  int rows = 0;
  for (uint32_t code = 0x0bad0001; code <= 0x0bad016d; ++code) {
    std::string name = Status_ToName(code);
    if (name == "UNKNOWN") continue;
    ++rows;
    EXPECT_EQ(Status_ToMsgIdMessage(code), "@&!*@*@(msg.hyx.status." + name + ")" + Status_ToMessage(code));
    EXPECT_EQ(name.rfind("HYX_", 0), 0u) << name;
  }
  EXPECT_EQ(rows, 361);
}

TEST(StatusFromErrno, ZeroIsOkAndTheSignIsDropped) {
  EXPECT_EQ(StatusFromErrno(0), static_cast<HYX_ReturnStatus>(HYX_OK));
  EXPECT_EQ(StatusFromErrno(2), 0x2bad0002u);
  EXPECT_EQ(StatusFromErrno(-2), 0x2bad0002u);
  EXPECT_EQ(StatusFromErrno(4095), 0x2bad0fffu);
}

TEST(StatusFromPamReturnValue, InvertsTheExportedMapping) {
  EXPECT_EQ(Status_FromPamReturnValue(0), static_cast<HYX_ReturnStatus>(HYX_OK));
  for (int pam = 1; pam <= 31; ++pam)
    EXPECT_EQ(HyxuserStatus_CodeToPamReturnValue(Status_FromPamReturnValue(pam)), pam);
  EXPECT_EQ(Status_FromPamReturnValue(32), static_cast<HYX_ReturnStatus>(HYX_FAILURE));
}

}  // namespace
