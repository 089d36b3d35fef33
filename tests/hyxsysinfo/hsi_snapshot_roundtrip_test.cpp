// A host recorded with hyxsnap under the simulator answers the same from
// the snapshot outside any sandbox: a program linked to the shipped library
// prints what every system-information export returns, live and from the
// snapshot (HYXUSER_HSI_SNAPSHOT), and the two outputs are the same; so are
// hyxinfo's answers with --snapshot.
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <nlohmann/json.hpp>
#include <sstream>
#include <string>
#include <utility>

#include "hyxuser/hyxuser.h"
#include "run_command.h"

namespace {

const std::string kHost = std::string(PROFILE_DIR) + "/hypervisor.json";

std::string Live(const std::string &command, const std::string &host = kHost) {
  return std::string(HYXSIM_PATH) + " --profile " + host + " --bind " + BUILD_DIR + " -- " + command;
}

class HsiSnapshotRoundTrip : public testing::Test {
 protected:
  static void SetUpTestSuite() {
    CommandOutcome outcome = RunCommand(Live(std::string(HYXSNAP_PATH) + " -o " + Snapshot() + " 2>&1"));
    ASSERT_EQ(outcome.status, 0) << outcome.output;
  }
  static void TearDownTestSuite() { unlink(Snapshot().c_str()); }
  static std::string Snapshot() { return std::string(WORK_DIR) + "/roundtrip.snapshot"; }
  static std::string FromSnapshot(const std::string &command) {
    return "HYXUSER_HSI_SNAPSHOT=" + Snapshot() + " " + command;
  }
};

TEST_F(HsiSnapshotRoundTrip, EveryExportAnswersAsTheLiveHost) {
  CommandOutcome live = RunCommand(Live(PROBE_PATH));
  CommandOutcome replayed = RunCommand(FromSnapshot(PROBE_PATH));
  ASSERT_EQ(live.status, 0);
  ASSERT_EQ(replayed.status, 0);
  // The live host answers (the comparison is worth something).
  EXPECT_NE(live.output.find("verify 0x00000000\n"), std::string::npos) << live.output;
  EXPECT_NE(live.output.find("nics 0x00000000 766d6e696330"), std::string::npos) << live.output;
  EXPECT_NE(live.output.find("uefi-list 0x00000000 4\n"), std::string::npos) << live.output;
  std::istringstream a(live.output), b(replayed.output);
  std::string left, right;
  while (std::getline(a, left)) {
    ASSERT_TRUE(std::getline(b, right)) << "the snapshot's answers end before: " << left;
    EXPECT_EQ(right, left);
  }
  EXPECT_FALSE(std::getline(b, right)) << right;
}

// A value whose size is asked first cannot be answered from a snapshot: the
// size question is refused, and the export says so.
TEST_F(HsiSnapshotRoundTrip, SizeQuestionsAreRefused) {
  CommandOutcome live = RunCommand(Live(std::string(PROBE_PATH) + " uefi-get"));
  CommandOutcome replayed = RunCommand(FromSnapshot(std::string(PROBE_PATH) + " uefi-get"));
  EXPECT_NE(
      live.output.find("uefi-get BootOrder-8be4df61-93ca-11d2-aa0d-00e098032b8c attributes=7 0x00000000 "),
      std::string::npos)
      << live.output;
  char refused[32];
  snprintf(refused, sizeof refused, " 0x%08x", static_cast<unsigned>(HYX_NOT_SUPPORTED));
  EXPECT_NE(replayed.output.find("uefi-get BootOrder-8be4df61-93ca-11d2-aa0d-00e098032b8c attributes=0" +
                                 std::string(refused)),
            std::string::npos)
      << replayed.output;
}

TEST_F(HsiSnapshotRoundTrip, TheToolsAnswerFromTheSnapshot) {
  const std::pair<std::string, const char *> kRuns[] = {
      {HYXINFO_PATH, "version"},      {HYXINFO_PATH, "nics"},
      {HYXINFO_PATH, "interfaces"},   {HYXINFO_PATH, "vm 527120"},
      {HYXHSI_PATH, "storage paths"}, {HYXHSI_PATH, "get nfs41client:mounts/info /vmfs/volumes/backup"},
      {HYXHSI_PATH, "ls hyxModules"},
  };
  for (const auto &[tool, command] : kRuns) {
    std::string arguments = std::string(" ") + command + " --json";
    CommandOutcome live = RunCommand(Live(tool + arguments));
    CommandOutcome replayed = RunCommand(tool + " --snapshot " + Snapshot() + arguments + " 2>&1");
    EXPECT_EQ(live.status, 0) << command << ": " << live.output;
    EXPECT_EQ(replayed.status, 0) << command << ": " << replayed.output;
    EXPECT_EQ(replayed.output, live.output) << command;
  }
}

// A snapshot finds modules by name prefix: of two modules whose names
// begin alike, each is still found itself, whatever order the host lists
// them in.
TEST(HsiSnapshotModules, ModulesWhoseNamesBeginAlikeAnswerAsTheyDidLive) {
  const std::string host = std::string(WORK_DIR) + "/prefix-modules.json";
  const std::string snapshot = std::string(WORK_DIR) + "/prefix-modules.snapshot";
  FILE *profile = fopen(host.c_str(), "w");
  ASSERT_NE(profile, nullptr);
  fputs(R"({"description": "two modules, one name beginning the other",
            "hsiModules": [
              {"name": "nfs", "id": 3, "nodes": [{"name": "version", "get": "HSI_DEC_U32"}],
               "hsi": {"version": {"value": 3}}},
              {"name": "nfsx", "id": 41, "nodes": [{"name": "version", "get": "HSI_DEC_U32"}],
               "hsi": {"version": {"value": 41}}}]})",
        profile);
  ASSERT_EQ(fclose(profile), 0);
  CommandOutcome recorded = RunCommand(
      Live(std::string(HYXSNAP_PATH) + " -o " + snapshot + " nfs:version nfsx:version 2>&1", host));
  ASSERT_EQ(recorded.status, 0) << recorded.output;
  for (const char *module : {"nfs", "nfsx"}) {
    std::string arguments = std::string(" get ") + module + ":version --json";
    CommandOutcome live = RunCommand(Live(HYXHSI_PATH + arguments, host));
    CommandOutcome replayed =
        RunCommand(std::string(HYXHSI_PATH) + " --snapshot " + snapshot + arguments + " 2>&1");
    EXPECT_EQ(live.status, 0) << live.output;
    EXPECT_EQ(nlohmann::json::parse(live.output, nullptr, false)["value"], module[3] ? 41 : 3) << live.output;
    EXPECT_EQ(replayed.output, live.output) << module;
  }
  unlink(snapshot.c_str());
  unlink(host.c_str());
}

TEST_F(HsiSnapshotRoundTrip, HyxinfoRefusesASnapshotThatDoesNotLoad) {
  std::string path = std::string(WORK_DIR) + "/truncated.snapshot";
  CommandOutcome cut = RunCommand("head -c 100 " + Snapshot() + " > " + path);
  ASSERT_EQ(cut.status, 0);
  for (const char *command : {HYXINFO_PATH " version", HYXHSI_PATH " ls"}) {
    for (const std::string &file : {path, std::string(WORK_DIR) + "/missing.snapshot"}) {
      std::string line = command;
      line.insert(line.find(' '), " --snapshot " + file);
      CommandOutcome outcome = RunCommand(line + " 2>&1");
      EXPECT_TRUE(WIFEXITED(outcome.status) && WEXITSTATUS(outcome.status) == 1) << outcome.output;
      EXPECT_NE(outcome.output.find("the snapshot did not load"), std::string::npos) << outcome.output;
      // The library says why, once.
      size_t said = outcome.output.find("HsiCache_Init():");
      EXPECT_NE(said, std::string::npos) << outcome.output;
      EXPECT_EQ(outcome.output.find("HsiCache_Init():", said + 1), std::string::npos) << outcome.output;
    }
  }
  unlink(path.c_str());
  CommandOutcome bare = RunCommand(std::string(HYXINFO_PATH) + " --snapshot 2>&1");
  EXPECT_EQ(WEXITSTATUS(bare.status), 2) << bare.output;
}

}  // namespace
