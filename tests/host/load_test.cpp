// Loading the shipped library into an unmodified program (hyxinfo) on each
// kind of host: what the load-time check concludes, and how it ends a
// process whose kernel speaks another syscall API.
#include <gtest/gtest.h>

#include "run_command.h"
#include <sys/wait.h>

#include <cstdio>
#include <string>

namespace {

using Outcome = CommandOutcome;

Outcome HyxinfoHost(const std::string &profile, const char *redirect = "2>&1") {
  std::string command = std::string(HYXSIM_PATH) + " --profile " + HOSTS_DIR + "/" + profile + ".json --ro " + BUILD_DIR + " -- " +
                        HYXINFO_PATH + " host " + redirect;
  return RunCommand(command);
}

TEST(LoadTime, OffTheHyxkernelTheInterfaceDoesNotMatch) {
  Outcome outcome = HyxinfoHost("plain-linux");
  EXPECT_EQ(WEXITSTATUS(outcome.status), 1);
  EXPECT_NE(outcome.output.find("interface: does not match (0x0bad003a HYX_CHECKSUM_MISMATCH)"), std::string::npos)
      << outcome.output;
}

TEST(LoadTime, OnTheHypervisorTheProgramSeesItsKernelAndTheInterfaceMatches) {
  for (const char *profile : {"hypervisor", "mockup"}) {
    Outcome outcome = HyxinfoHost(profile);
    EXPECT_EQ(WEXITSTATUS(outcome.status), 0) << profile;
    EXPECT_EQ(outcome.output, "kernel:    Hyxkernel 8.0.3\ninterface: matches (0x00000000 HYX_OK)\n") << profile;
  }
}

TEST(LoadTime, AKernelNumberedItsOwnWayIsReportedAsAMismatch) {
  Outcome outcome = HyxinfoHost("renumbered");
  EXPECT_EQ(WEXITSTATUS(outcome.status), 1);
  EXPECT_NE(outcome.output.find("interface: does not match (0x0bad003a HYX_CHECKSUM_MISMATCH)"), std::string::npos)
      << outcome.output;
}

TEST(LoadTime, ASyscallApiMismatchEndsTheProcessWhileLoading) {
  Outcome outcome = HyxinfoHost("checksum-mismatch", "2>&1 >/dev/null");
  EXPECT_EQ(WEXITSTATUS(outcome.status), 255);
  EXPECT_EQ(outcome.output,
            "Error during version check: The system call API checksum does not match (0x12345678 [kernel] != "
            "0xb535cbbb [user]).\n");
}

}  // namespace
