// Version and uptime: what a program learns about its host kernel, and the
// load-time gate that keeps these reads from a kernel that speaks another
// interface.
#include <gtest/gtest.h>
#include <sys/wait.h>

#include <cerrno>
#include <cstring>
#include <functional>
#include <string>

#include "alloc_fail.h"
#include "bytes.h"
#include "hyxsim/hyxsim.h"
#include "hyxsysinfo/kernelCall.h"
#include "hyxuser/hyxuser.h"
#include "status_matchers.h"
#include "test_host.h"

namespace {

template <typename T>
bool AllZero(const T &record) {
  T zero;
  memset(&zero, 0, sizeof zero);
  return memcmp(&record, &zero, sizeof record) == 0;
}

// The profiles on which the load-time check passes.
bool Gated() { return !OnProfile("hypervisor"); }

class Version : public testing::Test {
 protected:
  void SetUp() override { HyxSim_ResetCounts(); }
  void TearDown() override { HyxSim_ClearHandlers(); }
};

TEST_F(Version, TheHostsVersionArrivesInBothRecords) {
  if (Gated()) GTEST_SKIP();
  HyxuserSystemVersion version;
  ASSERT_THAT(HyxuserVersion_GetSystemVersion(&version), IsOk());
  EXPECT_STREQ(version.product, "Hyxkernel");
  EXPECT_STREQ(version.productVersion, "8.0.3");
  EXPECT_STREQ(version.buildVersion, "build-24585383");
  EXPECT_STREQ(version.buildDate, "2026-10-02");
  EXPECT_STREQ(version.buildTime, "11:42:07");
  EXPECT_EQ(version.build, 24585383u);
  HyxuserUniqueSystemVersion unique;
  ASSERT_THAT(HyxuserVersion_GetUniqueSystemVersion(&unique), IsOk());
  EXPECT_STREQ(unique.buildType, "release");
  EXPECT_STREQ(unique.releaseUpdate, "3");
  EXPECT_STREQ(unique.releasePatch, "0");
  EXPECT_EQ(unique.build, 24585383u);
  uint64_t uptime = 0;
  EXPECT_THAT(HyxuserUptime_GetUptime(&uptime), IsOk());
  EXPECT_EQ(uptime, 825785982u);
}

// A kernel whose product text fills its whole field, without a NUL.
void AnswerLongProduct(HyxSimCall *call, void *) {
  memset(reinterpret_cast<void *>(At<uint64_t>(reinterpret_cast<const void *>(call->args[5]), 4)), 'p', 368);
  call->status = HYX_OK;
  call->error = 0;
}

TEST_F(Version, ALongTextIsCutTo31Characters) {
  if (Gated()) GTEST_SKIP();
  HyxSim_SetHandler(KERNEL_CALL_HSI_GET, AnswerLongProduct, nullptr);
  HyxuserSystemVersion version;
  EXPECT_THAT(HyxuserVersion_GetSystemVersion(&version), IsOk());
  EXPECT_EQ(std::string(version.product), std::string(31, 'p'));
  EXPECT_EQ(version.product[31], '\0');
}

TEST_F(Version, AFailedReadLeavesAZeroedRecordAndTheUptimeUntouched) {
  if (Gated()) GTEST_SKIP();
  HyxSim_ScriptAnswer(KERNEL_CALL_HSI_GET, HYX_NOT_FOUND, -2, nullptr, 0, 0);
  HyxuserUniqueSystemVersion unique;
  memset(&unique, 0xff, sizeof unique);
  EXPECT_THAT(HyxuserVersion_GetUniqueSystemVersion(&unique), IsStatus(HYX_NOT_FOUND));
  EXPECT_TRUE(AllZero(unique));
  uint64_t uptime = 7;
  EXPECT_THAT(HyxuserUptime_GetUptime(&uptime), IsStatus(HYX_NOT_FOUND));
  EXPECT_EQ(uptime, 7u);
}

// Every allocation on the way to the kernel, failed in turn: HYX_NO_MEMORY,
// the record zeroed, the uptime untouched, nothing kept.
TEST_F(Version, EveryFailedAllocationIsNoMemory) {
  if (Gated()) GTEST_SKIP();
  HyxuserSystemVersion version;
  HyxuserUniqueSystemVersion unique;
  uint64_t uptime = 7;
  const struct {
    const char *what;
    std::function<HYX_ReturnStatus()> call;
    std::function<bool()> outputAsDocumented;
  } exports[] = {
      {"GetSystemVersion",
       [&] {
         memset(&version, 0xff, sizeof version);
         return HyxuserVersion_GetSystemVersion(&version);
       },
       [&] { return AllZero(version); }},
      {"GetUniqueSystemVersion",
       [&] {
         memset(&unique, 0xff, sizeof unique);
         return HyxuserVersion_GetUniqueSystemVersion(&unique);
       },
       [&] { return AllZero(unique); }},
      {"GetUptime",
       [&] {
         uptime = 7;
         return HyxuserUptime_GetUptime(&uptime);
       },
       [&] { return uptime == 7; }},
  };
  for (const auto &e : exports) {
    uint64_t allocations = AllocFail_Sweep(e.call, [&](HYX_ReturnStatus status, uint64_t nth) {
      EXPECT_THAT(status, IsStatus(HYX_NO_MEMORY)) << e.what << ", allocation " << nth;
      EXPECT_TRUE(e.outputAsDocumented()) << e.what << ", allocation " << nth;
    });
    EXPECT_GT(allocations, 0u) << e.what;
    EXPECT_THAT(e.call(), IsOk()) << e.what;
  }
}

TEST_F(Version, ANullOutputIsABadParameterAndCallsNothing) {
  EXPECT_THAT(HyxuserVersion_GetSystemVersion(nullptr), IsStatus(HYX_BAD_PARAM));
  EXPECT_THAT(HyxuserVersion_GetUniqueSystemVersion(nullptr), IsStatus(HYX_BAD_PARAM));
  EXPECT_THAT(HyxuserUptime_GetUptime(nullptr), IsStatus(HYX_BAD_PARAM));
  EXPECT_EQ(HyxSim_CallCount(KERNEL_CALL_HSI_GET), 0u);
}

// Off the Hyxkernel, and on a Hyxkernel that refused the library's interface
// signature at load (the renumbered host), the gated reads answer at once;
// the calls the gate does not cover still reach the kernel and work.
TEST_F(Version, AGatedHostRefusesTheGatedReadsAndServesTheRest) {
  if (!Gated()) GTEST_SKIP();
  HyxuserSystemVersion version;
  memset(&version, 0xff, sizeof version);
  EXPECT_THAT(HyxuserVersion_GetSystemVersion(&version), IsStatus(HYX_CHECKSUM_MISMATCH));
  EXPECT_TRUE(AllZero(version));
  HyxuserUniqueSystemVersion unique;
  EXPECT_THAT(HyxuserVersion_GetUniqueSystemVersion(&unique), IsStatus(HYX_CHECKSUM_MISMATCH));
  uint64_t uptime = 7;
  EXPECT_THAT(HyxuserUptime_GetUptime(&uptime), IsStatus(HYX_CHECKSUM_MISMATCH));
  EXPECT_EQ(uptime, 7u);
  EXPECT_EQ(HyxSim_CallCount(KERNEL_CALL_HSI_GET), 0u);
  EXPECT_THAT(HyxuserCompat_VerifyHSISigniture(), IsStatus(HYX_CHECKSUM_MISMATCH));
  if (!OnProfile("renumbered")) return;

  // The ungated: a direct firmware call and a child started by the kernel.
  uint32_t length = 0;
  EXPECT_THAT(HyxuserSMBIOS_GetDataLen(&length), IsOk());
  EXPECT_EQ(HyxSim_CallCount(KERNEL_CALL_SMBIOS_LENGTH), 1u);
  int status = -1;
  EXPECT_THAT(HyxuserCompat_System("exit 3", &status), IsOk());
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 3) << status;
}

}  // namespace
