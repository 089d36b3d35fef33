// Host-type tests and the syscall-API check on each kind of host.  The
// check's outcome is process-wide, so each case that depends on a fresh
// process runs in a child of its own.
#include <gtest/gtest.h>
#include <sys/syscall.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "hyxsim/hyxsim.h"
#include "hyxsysinfo/hostType.h"
#include "test_host.h"

namespace {

constexpr uint64_t kChecksumCall = KERNEL_CALL_SYSCALL_API_CHECKSUM;

std::string Hex(uint32_t value) {
  char text[16];
  snprintf(text, sizeof text, "%#x", value);
  return text;
}

// The library's message for a kernel checksum of `kernel`.
std::string Mismatch(uint32_t kernel) {
  return "The system call API checksum does not match (" + Hex(kernel) +
         " [kernel] != " + Hex(SYSCALL_API_CHECKSUM) + " [user]).";
}

struct HostExpectation {
  const char *profile;
  bool hyxkernel;
  bool mockup;
  bool checkPasses;
};

constexpr HostExpectation kHosts[] = {
    {"hypervisor", true, false, true},
    {"mockup", true, true, false},
    {"plain-linux", false, false, false},
    {"lookalike", false, false, false},  // system name only begins with "Hyxkernel"
};

const HostExpectation &ThisHost() {
  for (const HostExpectation &host : kHosts)
    if (OnProfile(host.profile)) return host;
  ADD_FAILURE() << "unknown HYX_TEST_PROFILE";
  return kHosts[0];
}

bool OnHyxkernel() { return ThisHost().hyxkernel && !ThisHost().mockup; }

TEST(HostType, AnswersAsTheHostIsAndAsksOnlyOnce) {
  HyxSim_ResetCounts();
  EXPECT_EQ(IsHyxkernelHost(), ThisHost().hyxkernel);
  EXPECT_EQ(IsMockupHost(), ThisHost().mockup);
  uint64_t unames = HyxSim_CallCount(SYS_uname);
  EXPECT_LE(unames, 1u);
  EXPECT_EQ(IsHyxkernelHost(), ThisHost().hyxkernel);
  EXPECT_EQ(HyxSim_CallCount(SYS_uname), unames);
}

TEST(SyscallApiCheck, OffTheHyxkernelOrOnAMockupItSaysNoSilently) {
  if (OnHyxkernel()) GTEST_SKIP() << "the kernel is asked here";
  HyxSim_ResetCounts();
  char message[64] = "untouched";
  testing::internal::CaptureStderr();
  EXPECT_FALSE(SyscallApi_Check(true, message, sizeof message));
  EXPECT_FALSE(SyscallApi_Check(true, nullptr, 0));
  EXPECT_EQ(testing::internal::GetCapturedStderr(), "");
  EXPECT_STREQ(message, "untouched");
  EXPECT_EQ(HyxSim_CallCount(kChecksumCall), 0u);
}

TEST(SyscallApiCheck, AMatchingKernelPassesOnceAndForAll) {
  if (!OnHyxkernel()) GTEST_SKIP() << "needs the Hyxkernel";
  EXPECT_EXIT(
      {
        HyxSim_ResetCounts();
        char message[64] = "";
        bool first = SyscallApi_Check(false, message, sizeof message);
        bool second = SyscallApi_Check(false, message, sizeof message);
        exit(first && second && HyxSim_CallCount(kChecksumCall) == 1 && message[0] == '\0' ? 0 : 1);
      },
      testing::ExitedWithCode(0), "^$");
}

struct FailureCase {
  const char *what;
  uint32_t status;
  int32_t error;
  uint32_t kernelChecksum;
  std::string message;
};

// A kernel that refuses or disagrees, as the caller's buffer sees it.
TEST(SyscallApiCheck, FailuresAreDescribedInTheCallersBuffer) {
  if (!OnHyxkernel()) GTEST_SKIP() << "needs the Hyxkernel";
  const FailureCase cases[] = {
      {"mismatch", 0, 0, 0x12345678, Mismatch(0x12345678)},
      {"refused as non-root", HYX_FAILURE, -1, 0,
       std::string("Failed to get hyxkernel version: ") + strerror(1) + " (running as non-root?)"},
      {"refused", HYX_NOT_IMPLEMENTED, 0, 0, "Failed to get hyxkernel version: " + Hex(HYX_NOT_IMPLEMENTED)},
      {"refused with another errno", HYX_FAILURE, -5, 0,
       "Failed to get hyxkernel version: " + Hex(HYX_FAILURE)},
  };
  for (const FailureCase &c : cases) {
    EXPECT_EXIT(
        {
          HyxSim_ScriptAnswer(kChecksumCall, c.status, c.error, &c.kernelChecksum, sizeof c.kernelChecksum,
                              0);
          char message[256] = "";
          bool passed = SyscallApi_Check(false, message, sizeof message);
          bool again = SyscallApi_Check(false, message, sizeof message);  // a failure is not remembered
          exit(!passed && !again && c.message == message && HyxSim_CallCount(kChecksumCall) == 2 ? 0 : 1);
        },
        testing::ExitedWithCode(0), "^$")
        << c.what;
  }
}

TEST(SyscallApiCheck, ASmallBufferCutsTheMessageAndNothingGoesToStderr) {
  if (!OnHyxkernel()) GTEST_SKIP() << "needs the Hyxkernel";
  EXPECT_EXIT(
      {
        uint32_t wrong = 1;
        HyxSim_ScriptAnswer(kChecksumCall, 0, 0, &wrong, sizeof wrong, 0);
        char message[16];
        bool passed = SyscallApi_Check(false, message, sizeof message);
        exit(!passed && strcmp(message, "The system call") == 0 ? 0 : 1);
      },
      testing::ExitedWithCode(0), "^$");
}

TEST(SyscallApiCheck, WithoutABufferAFailureGoesToStderrAndMayEndTheProcess) {
  if (!OnHyxkernel()) GTEST_SKIP() << "needs the Hyxkernel";
  EXPECT_EXIT(
      {
        uint32_t wrong = 0x12345678;
        HyxSim_ScriptAnswer(kChecksumCall, 0, 0, &wrong, sizeof wrong, 0);
        SyscallApi_Check(true, nullptr, 0);
        exit(0);
      },
      testing::ExitedWithCode(255),
      "^Error during version check: The system call API checksum does not match \\(0x12345678 \\[kernel\\] "
      "!= " +
          Hex(SYSCALL_API_CHECKSUM) + " \\[user\\]\\)\\.\n$");
  EXPECT_EXIT(
      {
        HyxSim_ScriptAnswer(kChecksumCall, HYX_NOT_IMPLEMENTED, 0, nullptr, 0, 0);
        exit(SyscallApi_Check(false, nullptr, 0) ? 1 : 0);
      },
      testing::ExitedWithCode(0),
      "^Error during version check: Failed to get hyxkernel version: " + Hex(HYX_NOT_IMPLEMENTED) + "\n$");
}

}  // namespace
