// A program linked to the shipped library, run off the Hyxkernel with
// HYXUSER_HSI_SNAPSHOT naming a snapshot: the load step answers from it,
// so the gated exports work; a snapshot that does not load, or one taken
// with another interface, leaves them refusing.
#include <gtest/gtest.h>
#include <sys/wait.h>

#include <cstdio>
#include <string>
#include <vector>

#include "hsi_cache_fixture.h"
#include "run_command.h"

namespace {

using hsicachefixture::SnapshotFile;

// What the probe prints when the load step refused the interface.
std::string Refused() {
  char text[64];
  snprintf(text, sizeof text, "load %#010x\nversion %#010x\n", HYX_CHECKSUM_MISMATCH, HYX_CHECKSUM_MISMATCH);
  return text;
}

CommandOutcome Probe(const std::string &snapshot) {
  return RunCommand("HYXUSER_HSI_SNAPSHOT='" + snapshot + "' " + PROBE_PATH + " 2>&1");
}

TEST(SnapshotLoad, AGatedExportAnswersFromTheSnapshot) {
  SnapshotFile snapshot(hsicachefixture::SampleFile());
  CommandOutcome outcome = Probe(snapshot.path());
  EXPECT_EQ(WEXITSTATUS(outcome.status), 0);
  EXPECT_EQ(outcome.output, "load 0000000000\nversion Hyxkernel 8.0.3 snapshot\n");
}

TEST(SnapshotLoad, ASnapshotThatDoesNotLoadLeavesTheGatedExportsRefusing) {
  SnapshotFile truncated(std::vector<uint8_t>(3));
  CommandOutcome outcome = Probe(truncated.path());
  EXPECT_EQ(outcome.output, "HsiCache_Init():HSI cache file got truncated-1\n" + Refused());
  std::string missing = std::string(truncated.path()) + ".missing";
  outcome = Probe(missing);
  EXPECT_EQ(outcome.output,
            "HsiCache_Init():Failed to open(" + missing + "): No such file or directory\n" + Refused());
}

TEST(SnapshotLoad, ASnapshotOfAnotherInterfaceLeavesTheGatedExportsRefusing) {
  SnapshotFile other(hsicachefixture::SampleWriter().Finish("other", std::string(32, '0')));
  EXPECT_EQ(Probe(other.path()).output, Refused());
}

TEST(SnapshotLoad, WithoutASnapshotThisHostIsNotTheHyxkernel) { EXPECT_EQ(Probe("").output, Refused()); }

}  // namespace
