// Loading the shipped library into an unmodified program (hyxinfo) on each
// kind of host: what the load-time check concludes, and how it ends a
// process whose kernel speaks another syscall API.
#include <gtest/gtest.h>
#include <sys/wait.h>

#include <cstdio>
#include <string>

#include "hyxsysinfo/kernelCall.h"
#include "run_command.h"

namespace {

using Outcome = CommandOutcome;

Outcome HyxinfoHost(const std::string &profile, const char *redirect = "2>&1") {
  std::string command = std::string(HYXSIM_PATH) + " --profile " + HOSTS_DIR + "/" + profile + ".json --ro " +
                        BUILD_DIR + " -- " + HYXINFO_PATH + " host " + redirect;
  return RunCommand(command);
}

std::string UserChecksum() {
  char text[16];
  snprintf(text, sizeof text, "%#x", SYSCALL_API_CHECKSUM);
  return text;
}

// hyxinfo's line for a status: its code and name.
std::string InterfaceLine(const char *verdict, HYX_ReturnStatus status, const char *name) {
  char code[16];
  snprintf(code, sizeof code, "%#010x", status);
  return std::string("interface: ") + verdict + " (" + code + " " + name + ")";
}

TEST(LoadTime, OffTheHyxkernelTheInterfaceDoesNotMatch) {
  Outcome outcome = HyxinfoHost("plain-linux");
  EXPECT_EQ(WEXITSTATUS(outcome.status), 1);
  EXPECT_NE(
      outcome.output.find(InterfaceLine("does not match", HYX_CHECKSUM_MISMATCH, "HYX_CHECKSUM_MISMATCH")),
      std::string::npos)
      << outcome.output;
}

TEST(LoadTime, OnTheHypervisorTheProgramSeesItsKernelAndTheInterfaceMatches) {
  for (const char *profile : {"hypervisor", "mockup"}) {
    Outcome outcome = HyxinfoHost(profile);
    EXPECT_EQ(WEXITSTATUS(outcome.status), 0) << profile;
    EXPECT_EQ(outcome.output, "kernel:    Hyxkernel 8.0.3\ninterface: matches (0x00000000 HYX_OK)\n")
        << profile;
  }
}

TEST(LoadTime, AKernelNumberedItsOwnWayIsReportedAsAMismatch) {
  Outcome outcome = HyxinfoHost("renumbered");
  EXPECT_EQ(WEXITSTATUS(outcome.status), 1);
  EXPECT_NE(
      outcome.output.find(InterfaceLine("does not match", HYX_CHECKSUM_MISMATCH, "HYX_CHECKSUM_MISMATCH")),
      std::string::npos)
      << outcome.output;
}

TEST(LoadTime, ASyscallApiMismatchEndsTheProcessWhileLoading) {
  Outcome outcome = HyxinfoHost("checksum-mismatch", "2>&1 >/dev/null");
  EXPECT_EQ(WEXITSTATUS(outcome.status), 255);
  EXPECT_EQ(
      outcome.output,
      "Error during version check: The system call API checksum does not match (0x12345678 [kernel] != " +
          std::string(UserChecksum()) + " [user]).\n");
}

}  // namespace
