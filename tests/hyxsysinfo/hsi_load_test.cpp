// The build-information exchange behind the load-time check, on each kind
// of host.
#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <string>

#include "hyxsim/hyxsim.h"
#include "hyxsysinfo/hostType.h"
#include "hyxsysinfo/hsiLoad.h"
#include "hyxsysinfo/kernelCall.h"
#include "test_host.h"

namespace {

constexpr uint64_t kSignatureCall = KERNEL_CALL_HSI_SIGNATURE, kGet = KERNEL_CALL_HSI_GET;

std::string Profile() { return TestProfile(); }

TEST(BuildInfo, MissingPointersAreRefusedBeforeAnythingIsWritten) {
  char build[21] = "untouched";
  const char *library = nullptr;
  bool translated = true;
  EXPECT_EQ(Hsi_GetBuildInfo(nullptr, 21, &library, &translated),
            static_cast<HYX_ReturnStatus>(HYX_BAD_PARAM));
  EXPECT_EQ(Hsi_GetBuildInfo(build, 21, nullptr, &translated), static_cast<HYX_ReturnStatus>(HYX_BAD_PARAM));
  EXPECT_EQ(Hsi_GetBuildInfo(build, 21, &library, nullptr), static_cast<HYX_ReturnStatus>(HYX_BAD_PARAM));
  EXPECT_EQ(Hsi_GetBuildInfo(build, 0, &library, &translated), static_cast<HYX_ReturnStatus>(HYX_BAD_PARAM));
  EXPECT_STREQ(build, "untouched");
  EXPECT_EQ(library, nullptr);
  EXPECT_TRUE(translated);
}

TEST(BuildInfo, OffTheHyxkernelNothingIsAskedAndTheLoadStatusIsAMismatch) {
  if (Profile() != "plain-linux") GTEST_SKIP();
  HyxSim_ResetCounts();
  char build[21];
  const char *library = nullptr;
  bool translated = true;
  EXPECT_EQ(Hsi_GetBuildInfo(build, sizeof build, &library, &translated),
            static_cast<HYX_ReturnStatus>(HYX_FAILURE));
  EXPECT_STREQ(build, "_Unknown_");
  EXPECT_STREQ(library, "Dec 19 2024 12:17:48");
  EXPECT_FALSE(translated);
  EXPECT_EQ(HyxSim_CallCount(kSignatureCall), 0u);
  EXPECT_EQ(hsiLoadStatus, static_cast<HYX_ReturnStatus>(HYX_CHECKSUM_MISMATCH));
}

TEST(BuildInfo, AMockupHostStillExchangesTheSignature) {
  if (Profile() != "mockup") GTEST_SKIP();
  HyxSim_ResetCounts();
  char build[21];
  const char *library = nullptr;
  bool translated = false;
  Hsi_GetBuildInfo(build, sizeof build, &library, &translated);
  EXPECT_EQ(HyxSim_CallCount(kSignatureCall), 1u);
  EXPECT_EQ(HyxSim_CallCount(KERNEL_CALL_SYSCALL_API_CHECKSUM), 0u);  // no syscall-API check on a mock-up
}

TEST(BuildInfo, AKernelThatWritesNothingLeavesUnknown) {
  if (Profile() != "hypervisor") GTEST_SKIP();
  HyxSim_ScriptAnswer(kSignatureCall, 0, 0, nullptr, 0, 1);
  char build[21];
  const char *library = nullptr;
  bool translated = true;
  EXPECT_EQ(Hsi_GetBuildInfo(build, sizeof build, &library, &translated),
            static_cast<HYX_ReturnStatus>(HYX_OK));
  EXPECT_STREQ(build, "_Unknown_");
  EXPECT_FALSE(translated);
  HyxSim_ClearHandlers();
}

TEST(BuildInfo, ARefusalWithoutTheKernelsSignaturesLeavesTranslationOff) {
  if (Profile() != "hypervisor") GTEST_SKIP();
  EXPECT_EXIT(
      {
        HyxSim_ScriptAnswer(kSignatureCall, HYX_CHECKSUM_MISMATCH, 0, nullptr, 0, 1);
        HyxSim_ScriptAnswer(kGet, HYX_NOT_FOUND, 0, nullptr, 0, 5);
        char build[21];
        const char *library = nullptr;
        bool translated = true;
        HYX_ReturnStatus status = Hsi_GetBuildInfo(build, sizeof build, &library, &translated);
        HYX_ReturnStatus checked = Hsi_CheckSignature(build, sizeof build, &library);
        exit(status == HYX_CHECKSUM_MISMATCH && !translated && checked == HYX_CHECKSUM_MISMATCH ? 0 : 1);
      },
      testing::ExitedWithCode(0), "^$");
}

}  // namespace
