// The library-internal status lookups and the errno rule.
#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "status/status.h"

namespace {

const std::string kFailureMsgId = "@&!*@*@(msg.hyx.status.HYX_FAILURE)Failure";

// Positions of the kernel's range that hold no status.
constexpr HYX_ReturnStatus kKernelZero = HYX_FAILURE - 1;
constexpr HYX_ReturnStatus kPastLast = HYX_GENERIC_LINUX_ERROR + 1;
constexpr HYX_ReturnStatus kHole = HYX_NO_FCNTL_LOCK_HOLDER + 1;

struct LookupCase {
  HYX_ReturnStatus code;
  std::string name, message, msgId;
  int err;
};

TEST(StatusLookups, EveryColumnOfTheLookupTable) {
  const LookupCase cases[] = {
      {0, "HYX_OK", "Success", "@&!*@*@(msg.hyx.status.HYX_OK)Success", 0},
      {HYX_ERRNO_STATUS_BASE, "HYX_OK", "Success", "@&!*@*@(msg.hyx.status.HYX_OK)Success", 0},
      {HYX_ERRNO_STATUS_BASE + 2, "HYX_GENERIC_LINUX_ERROR", strerror(2), strerror(2), 2},
      {HYX_ERRNO_STATUS_BASE + 4095, "HYX_GENERIC_LINUX_ERROR", strerror(4095), strerror(4095), 4095},
      {HYX_ERRNO_STATUS_BASE + 4096, "UNKNOWN", "Unknown status", kFailureMsgId, 22},
      {kKernelZero, "UNKNOWN", "Unknown status", kFailureMsgId, 22},
      {5, "UNKNOWN", "Unknown status", kFailureMsgId, 22},
      {HYX_FAILURE, "HYX_FAILURE", "Failure", kFailureMsgId, 22},
      {HYX_NO_MEMORY, "HYX_NO_MEMORY", "Out of memory", "@&!*@*@(msg.hyx.status.HYX_NO_MEMORY)Out of memory",
       12},
      {HYX_GENERIC_LINUX_ERROR, "HYX_GENERIC_LINUX_ERROR", "Generic service console error",
       "@&!*@*@(msg.hyx.status.HYX_GENERIC_LINUX_ERROR)Generic service console error", 5},
      {kHole, "UNKNOWN", "Unknown status", kFailureMsgId, 22},
      {kPastLast, "UNKNOWN", "Unknown status", kFailureMsgId, 22},
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
  for (uint32_t code = HYX_FAILURE; code < kPastLast; ++code) {
    std::string name = Status_ToName(code);
    if (name == "UNKNOWN") continue;
    ++rows;
    EXPECT_EQ(Status_ToMsgIdMessage(code), "@&!*@*@(msg.hyx.status." + name + ")" + Status_ToMessage(code));
    EXPECT_EQ(name.rfind("HYX_", 0), 0u) << name;
  }
  EXPECT_EQ(rows, 361);
}

// Code from name, the inverse of the name lookup for every row: the tools
// take "HYX_NOT_FOUND", "hyx_not_found" and "NOT_FOUND", the profiles the
// first.
TEST(StatusLookups, EveryNameGivesItsCodeBack) {
  for (const StatusNameRow &row : kStatusNameRows) {
    HYX_ReturnStatus code = 0xffffffff;
    ASSERT_TRUE(Status_FromName(row.name, &code)) << row.name;
    EXPECT_EQ(code, row.code) << row.name;
    EXPECT_EQ(Status_ToName(row.code), std::string(row.name));
  }
  struct Case {
    const char *name;
    bool known;
    HYX_ReturnStatus code;
  };
  const Case cases[] = {
      {"hyx_not_found", true, HYX_NOT_FOUND},
      {"NOT_FOUND", true, HYX_NOT_FOUND},
      {"Bad_Param", true, HYX_BAD_PARAM},
      {"HYX_NOT_FOUNDX", false, 0},
      {"", false, 0},
      {"HYX_", false, 0},
  };
  for (const Case &c : cases) {
    HYX_ReturnStatus code = 0;
    EXPECT_EQ(Status_FromName(c.name, &code), c.known) << c.name;
    if (c.known) {
      EXPECT_EQ(code, c.code) << c.name;
    }
  }
  EXPECT_FALSE(Status_FromName(nullptr, nullptr));
  // The errno-carrying range the table names, at its edges.
  EXPECT_EQ(Status_CarriedErrno(HYX_ERRNO_STATUS_BASE), 0);
  EXPECT_EQ(Status_CarriedErrno(HYX_ERRNO_STATUS_BASE + 1), 1);
  EXPECT_EQ(Status_CarriedErrno(HYX_ERRNO_STATUS_BASE + kStatusMaxCarriedErrno), 4095);
  EXPECT_EQ(Status_CarriedErrno(HYX_ERRNO_STATUS_BASE + kStatusMaxCarriedErrno + 1), 0);
}

TEST(StatusFromErrno, ZeroIsOkAndTheSignIsDropped) {
  EXPECT_EQ(StatusFromErrno(0), static_cast<HYX_ReturnStatus>(HYX_OK));
  EXPECT_EQ(StatusFromErrno(2), HYX_ERRNO_STATUS_BASE + 2);
  EXPECT_EQ(StatusFromErrno(-2), HYX_ERRNO_STATUS_BASE + 2);
  EXPECT_EQ(StatusFromErrno(4095), HYX_ERRNO_STATUS_BASE + 4095);
}

TEST(StatusFromPamReturnValue, InvertsTheExportedMapping) {
  EXPECT_EQ(Status_FromPamReturnValue(0), static_cast<HYX_ReturnStatus>(HYX_OK));
  for (int pam = 1; pam <= 31; ++pam)
    EXPECT_EQ(HyxuserStatus_CodeToPamReturnValue(Status_FromPamReturnValue(pam)), pam);
  EXPECT_EQ(Status_FromPamReturnValue(32), static_cast<HYX_ReturnStatus>(HYX_FAILURE));
}

}  // namespace
