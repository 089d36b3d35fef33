// hyxsim itself: what a program sees inside, what leaks out (nothing), and
// how the program's end comes back.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <string>

#include "run_command.h"

namespace {

using Outcome = CommandOutcome;

// Runs `script` with /bin/sh inside a sandbox of `profile`.
Outcome RunInside(const std::string &profile, const std::string &script) {
  std::string command = std::string(HYXSIM_PATH) + " --profile " + HOSTS_DIR + "/" + profile +
                        ".json -- /bin/sh -c '" + script + "' 2>&1";
  return RunCommand(command);
}

bool ExistsOnHost(const char *path) {
  struct stat st;
  return lstat(path, &st) == 0;
}

TEST(Sandbox, TheProgramSeesTheProfilesKernel) {
  EXPECT_EQ(RunInside("hypervisor", "uname -s").output, "Hyxkernel\n");
  EXPECT_EQ(RunInside("hypervisor", "uname -r").output, "8.0.3\n");
  EXPECT_EQ(RunInside("lookalike", "uname -s").output, "Hyxkernel-lookalike\n");
  EXPECT_NE(RunInside("plain-linux", "uname -s").output, "Hyxkernel\n");
}

TEST(Sandbox, TheMockupMarkerIsThereExactlyWhenTheProfileSaysSo) {
  const std::string test = "test -f /etc/norvex/mgmtd/mockupCalyxHost.txt";
  EXPECT_EQ(WEXITSTATUS(RunInside("mockup", test).status), 0);
  EXPECT_EQ(WEXITSTATUS(RunInside("hypervisor", test).status), 1);
}

TEST(Sandbox, TheHostsFixedPathsAreLaidOut) {
  Outcome outcome = RunInside(
      "hypervisor",
      "for p in /etc/norvex/mgmtd /var/run/norvex /var/spool/snmp /hxfs/devices/disks /hxfs/devices/file "
      "/hxfs/devices/ramdisk /hxfs/devices/deltadisks /hxfs/devices/cdrom /hxfs/devices/genscsi "
      "/hxfs/devices/multiextent; do test -d $p || echo missing $p; done; "
      "test -e /dev/char/hyxdriver/nvdManagement || echo missing nvd; "
      "test -e /lib64/libxml2.so.2 || echo missing libxml2; test -e /lib64/libpam.so.0 || echo missing "
      "libpam");
  EXPECT_EQ(outcome.output, "");
  EXPECT_EQ(outcome.status, 0);
}

TEST(Sandbox, OnlyLoopbackAndItIsUp) {
  Outcome outcome =
      RunInside("hypervisor", "tail -n +3 /proc/net/dev | cut -d: -f1 | tr -d \" \"; ip -o link show lo");
  EXPECT_EQ(outcome.output.rfind("lo\n", 0), 0u) << outcome.output;
  EXPECT_NE(outcome.output.find("UP"), std::string::npos) << outcome.output;
}

TEST(Sandbox, NothingIsCreatedOnTheMachinesRoot) {
  const char *hostPaths[] = {"/etc/norvex",  "/hxfs",       "/dev/char/hyxdriver",
                             "/run/norvex",  "/run/hyxsim", "/var/spool/snmp/leak",
                             "/tmp/.oldroot"};
  for (const char *path : hostPaths)
    if (ExistsOnHost(path)) GTEST_SKIP() << path << " exists on this machine already";
  Outcome outcome = RunInside("mockup",
                              "touch /etc/norvex/mgmtd/leak /hxfs/devices/disks/leak /run/norvex/leak "
                              "/var/spool/snmp/leak /tmp/leak /dev/char/hyxdriver/leak");
  EXPECT_EQ(outcome.status, 0) << outcome.output;
  for (const char *path : hostPaths) EXPECT_FALSE(ExistsOnHost(path)) << path;
}

TEST(Sandbox, ExitStatusAndSignalsPassThrough) {
  Outcome exited = RunInside("hypervisor", "exit 7");
  ASSERT_TRUE(WIFEXITED(exited.status));
  EXPECT_EQ(WEXITSTATUS(exited.status), 7);
  // popen's shell reports a signalled child as 128 + signal.
  Outcome killed = RunInside("hypervisor", "kill -TERM $$");
  EXPECT_EQ(WEXITSTATUS(killed.status), 128 + SIGTERM);
}

}  // namespace
