// A program linked to the shipped library, run off the Hyxkernel with
// HYXUSER_HSI_SNAPSHOT naming a snapshot: the load step answers from it,
// so the gated exports work; a snapshot that does not load, or one taken
// with another interface, leaves them refusing.
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "hsi_cache_fixture.h"
#include "run_command.h"

namespace {

class Snapshot {
 public:
  explicit Snapshot(const std::vector<uint8_t> &bytes) {
    const char *dir = getenv("TMPDIR");
    path_ = std::string(dir != nullptr && dir[0] != '\0' ? dir : "/tmp") + "/hsi_snapshot_XXXXXX";
    int fd = mkstemp(path_.data());
    EXPECT_GE(fd, 0);
    EXPECT_EQ(write(fd, bytes.data(), bytes.size()), static_cast<ssize_t>(bytes.size()));
    close(fd);
  }
  ~Snapshot() { unlink(path_.c_str()); }
  const std::string &path() const { return path_; }

 private:
  std::string path_;
};

CommandOutcome Probe(const std::string &snapshot) {
  return RunCommand("HYXUSER_HSI_SNAPSHOT='" + snapshot + "' " + PROBE_PATH + " 2>&1");
}

TEST(SnapshotLoad, AGatedExportAnswersFromTheSnapshot) {
  Snapshot snapshot(hsicachefixture::SampleFile());
  CommandOutcome outcome = Probe(snapshot.path());
  EXPECT_EQ(WEXITSTATUS(outcome.status), 0);
  EXPECT_EQ(outcome.output, "load 0000000000\nversion Hyxkernel 8.0.3 snapshot\n");
}

TEST(SnapshotLoad, ASnapshotThatDoesNotLoadLeavesTheGatedExportsRefusing) {
  Snapshot truncated(std::vector<uint8_t>(3));
  CommandOutcome outcome = Probe(truncated.path());
  EXPECT_EQ(outcome.output,
            "HsiCache_Init():HSI cache file got truncated-1\nload 0x0bad003a\nversion 0x0bad003a\n");
  outcome = Probe(truncated.path() + ".missing");
  EXPECT_EQ(outcome.output,
            "HsiCache_Init():Failed to open(" + truncated.path() +
                ".missing): No such file or directory\nload 0x0bad003a\nversion 0x0bad003a\n");
}

TEST(SnapshotLoad, ASnapshotOfAnotherInterfaceLeavesTheGatedExportsRefusing) {
  Snapshot other(hsicachefixture::SampleWriter().Finish("other", std::string(32, '0')));
  EXPECT_EQ(Probe(other.path()).output, "load 0x0bad003a\nversion 0x0bad003a\n");
}

TEST(SnapshotLoad, WithoutASnapshotThisHostIsNotTheHyxkernel) {
  EXPECT_EQ(Probe("").output, "load 0x0bad003a\nversion 0x0bad003a\n");
}

}  // namespace
