// What the tools say when something goes wrong, as a user meets it: one
// JSON error object (or nothing) under --json, every status by its table
// name and message, a hint off a hypervisor host, usage errors that say
// what was wrong, and no internal names of the library.  Each command runs
// in its own sandbox, on the host profile it needs.  And how the tools are
// linked: one copy of the library per tool process.
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <nlohmann/json.hpp>
#include <string>
#include <vector>

#include "hyxuser/hyxuser.h"
#include "run_command.h"
#include "status/statusNames.h"

namespace {

struct ToolRun {
  int exitCode;
  std::string out, err;
};

std::string ReadAll(const std::string &path) {
  std::string text;
  if (FILE *f = fopen(path.c_str(), "r")) {
    char buffer[4096];
    size_t n;
    while ((n = fread(buffer, 1, sizeof buffer, f)) > 0) text.append(buffer, n);
    fclose(f);
  }
  return text;
}

// Runs a shell command line, stdout and stderr apart.
ToolRun RunLine(const std::string &command) {
  const std::string errFile = std::string(WORK_DIR) + "/tool_errors_stderr";
  CommandOutcome outcome = RunCommand(command + " 2>" + errFile);
  return {WIFEXITED(outcome.status) ? WEXITSTATUS(outcome.status) : -1, outcome.output, ReadAll(errFile)};
}

// A tool's command line inside a sandbox with the named example host.
std::string OnHost(const std::string &profile, const std::string &command) {
  return std::string(HYXSIM_PATH) + " --profile " + PROFILE_DIR + "/" + profile + ".json --bind " +
         BUILD_DIR + " --bind " + WORK_DIR + " -- " + command;
}

TEST(ToolErrors, AFailingCommandUnderJsonPrintsOneErrorObject) {
  struct Case {
    const char *profile;
    std::string command;
    HYX_ReturnStatus status;
  };
  // On the renumbered host the library refuses what it gates while the
  // kernel's lists still answer: every look-up after a list is refused.
  const Case cases[] = {
      {"renumbered", HYXHSI_PATH " --json storage adapters", HYX_CHECKSUM_MISMATCH},
      {"renumbered", HYXHSI_PATH " --json storage devices", HYX_CHECKSUM_MISMATCH},
      {"renumbered", HYXHSI_PATH " --json storage paths", HYX_CHECKSUM_MISMATCH},
      {"hypervisor", HYXINFO_PATH " --json storage pci vmhba9", HYX_NOT_FOUND},
      {"plain-linux", HYXINFO_PATH " --json nics", HYX_CHECKSUM_MISMATCH},
  };
  for (const Case &c : cases) {
    ToolRun run = RunLine(OnHost(c.profile, c.command));
    EXPECT_EQ(run.exitCode, 1) << c.command << ": " << run.err;
    EXPECT_EQ(std::count(run.out.begin(), run.out.end(), '\n'), 1) << c.command << ": " << run.out;
    nlohmann::json value = nlohmann::json::parse(run.out, nullptr, false);
    ASSERT_TRUE(value.is_object()) << c.command << ": " << run.out;
    ASSERT_EQ(value.size(), 1u) << run.out;
    const nlohmann::json &error = value["error"];
    EXPECT_EQ(error["name"], Status_ToName(c.status)) << run.out;
    EXPECT_EQ(error["code"], c.status) << run.out;
    EXPECT_TRUE(error["message"].is_string() && !error["message"].get<std::string>().empty()) << run.out;
  }
  // Without --json the refused look-up is an error too, not a blank.
  ToolRun table = RunLine(OnHost("renumbered", HYXHSI_PATH " storage adapters"));
  EXPECT_EQ(table.exitCode, 1) << table.out;
  EXPECT_EQ(table.out, "");
  EXPECT_NE(table.err.find(": PCI location: HYX_CHECKSUM_MISMATCH"), std::string::npos) << table.err;
}

// "NAME (0xCODE): message", as the tools show a status.
std::string Shown(const char *name, uint32_t code, const char *message) {
  char hex[16];
  snprintf(hex, sizeof hex, "0x%08x", code);
  return std::string(name) + " (" + hex + "): " + message + "\n";
}

TEST(ToolErrors, EveryStatusIsShownByItsTableNameAndMessage) {
  struct Case {
    const char *profile;
    std::string command, shown;
  };
  const std::string notFound = Shown("HYX_NOT_FOUND", HYX_NOT_FOUND, "Not found");
  const Case cases[] = {
      // The library's own text for HYX_FAILURE is its unknown-code text;
      // the tools give the table's.
      {"edges", HYXINFO_PATH " storage pci vmhba32",
       "vmhba32: " + Shown("HYX_FAILURE", HYX_FAILURE, "Failure")},
      {"hypervisor", HYXINFO_PATH " storage pci vmhba9", "vmhba9: " + notFound},
      // An errno-carrying code by its errno's name; a path that is no
      // volume gives the device request's error.
      {"hxfs", HYXINFO_PATH " hxfs is /tmp",
       "/tmp: " + Shown("ENOTTY", HYX_ERRNO_STATUS_BASE + ENOTTY, "Inappropriate ioctl for device")},
      {"hypervisor", HYXSNAP_PATH " -o " WORK_DIR "/nosuch.snapshot net/nosuch",
       "hyxsnap: net/nosuch: " + notFound},
  };
  for (const Case &c : cases) {
    ToolRun run = RunLine(OnHost(c.profile, c.command));
    EXPECT_EQ(run.exitCode, 1) << c.command;
    EXPECT_NE(run.err.find(c.shown), std::string::npos) << c.command << ": " << run.err;
  }
}

TEST(ToolErrors, OffAHypervisorHostARefusalSaysHowToRunIt) {
  ToolRun off = RunLine(OnHost("plain-linux", HYXINFO_PATH " version"));
  EXPECT_EQ(off.exitCode, 1);
  EXPECT_NE(off.err.find("HYX_CHECKSUM_MISMATCH"), std::string::npos) << off.err;
  EXPECT_NE(off.err.find("not a hypervisor host"), std::string::npos) << off.err;
  EXPECT_NE(off.err.find("hyxsim -- hyxinfo"), std::string::npos) << off.err;
  // On the host, a refusal is only what it is.
  ToolRun on = RunLine(OnHost("hypervisor", HYXINFO_PATH " storage pci vmhba9"));
  EXPECT_EQ(on.exitCode, 1);
  EXPECT_EQ(on.err.find("not a hypervisor host"), std::string::npos) << on.err;
}

TEST(ToolErrors, UsageErrorsSayWhatWasWrong) {
  const std::string huge(120 * 1024, 'x');
  struct Case {
    std::string command, said;
  };
  const Case cases[] = {
      {HYXINFO_PATH " acpi TOOLONG", "hyxinfo: acpi: SIG is four characters, such as APIC: TOOLONG\n"},
      {HYXINFO_PATH " acpi APIC -1", "hyxinfo: acpi: INSTANCE is a number from 0: -1\n"},
      {HYXINFO_PATH " notify --severity bad --component c --kb k text",
       "hyxinfo: notify: --severity is info, warning, error or a number: bad\n"},
      {HYXINFO_PATH " uefi set X abc -", "hyxinfo: uefi: ATTRS is a number from 0 to 0xffffffff: abc\n"},
      {HYXINFO_PATH " version extra", "hyxinfo: version: not expected: extra\n"},
      {HYXINFO_PATH " uefi get", "hyxinfo: uefi: missing the variable's NAME\n"},
      {HYXINFO_PATH " storage adapters", "hyxhsi storage adapters"},
      {HYXINFO_PATH " --frob", "hyxinfo: unknown option --frob\n"},
      {HYXINFO_PATH, "hyxinfo: no command given\n"},
      {HYXHSI_PATH " storage", "hyxhsi: storage: which list: adapters, devices or paths\n"},
      {HYXHSI_PATH " get world/info abc", "hyxhsi: get: abc: not an integer instance value\n"},
      {HYXSNAP_PATH " --block-size 0",
       "hyxsnap: --block-size is a number of bytes from 16 to 2147483647: 0\n"},
      {HYXSNAP_PATH " --frob", "hyxsnap: unknown option --frob\n"},
      {HYXSNAP_PATH " -o", "hyxsnap: -o needs a FILE\n"},
      {HYXINFO_PATH " --completion", "hyxinfo: --completion needs a shell: bash\n"},
      {HYXHSI_PATH " --completion", "hyxhsi: --completion needs a shell: bash\n"},
      {HYXSNAP_PATH " --completion", "hyxsnap: --completion needs a shell: bash\n"},
      {HYXINFO_PATH " --completion zsh", "no completion for zsh; there is one for bash\n"},
      // A long argument is named, not echoed whole.
      {HYXINFO_PATH " status " + huge,
       "not a status code or name: " + huge.substr(0, 64) + "... (122880 bytes)\n"},
      {HYXINFO_PATH " " + huge, "hyxinfo: no command " + huge.substr(0, 64) + "... (122880 bytes)\n"},
      {HYXSNAP_PATH " --block-size " + huge, huge.substr(0, 64) + "... (122880 bytes)\n"},
  };
  for (const Case &c : cases) {
    std::string shown = c.command.substr(0, 120);
    ToolRun run = RunLine(c.command);
    EXPECT_EQ(run.exitCode, 2) << shown << ": " << run.err.substr(0, 400);
    EXPECT_EQ(run.out, "") << shown;
    EXPECT_NE(run.err.find(c.said), std::string::npos) << shown << ": " << run.err.substr(0, 400);
    EXPECT_LT(run.err.size(), 8192u) << shown;
  }
}

TEST(ToolErrors, EveryToolTellsItsVersion) {
  for (const std::string &tool : {std::string("hyxinfo"), std::string("hyxhsi"), std::string("hyxsnap")}) {
    std::string path = tool == "hyxinfo" ? HYXINFO_PATH : tool == "hyxhsi" ? HYXHSI_PATH : HYXSNAP_PATH;
    ToolRun run = RunLine(path + " --version");
    EXPECT_EQ(run.exitCode, 0) << tool << ": " << run.err;
    EXPECT_EQ(run.out, tool + " " + HYX_PROJECT_VERSION + "\n");
  }
}

// A snapshot of one subtree has no answer for the others: the user hears
// which question was not recorded, not the cache's internal warnings.  The
// file is named relative to the working directory, so that the message
// names it whole wherever the tree lies (a long argument is shortened).
TEST(ToolErrors, ASnapshotWithoutTheNodeSaysItWasNotRecorded) {
  const std::string file = "pnics.snapshot";
  const std::string inWorkDir = std::string("cd ") + WORK_DIR + " && ";
  ToolRun recorded =
      RunLine(inWorkDir + OnHost("hypervisor", std::string(HYXSNAP_PATH) + " -o " + file + " net/pNics"));
  ASSERT_EQ(recorded.exitCode, 0) << recorded.err;
  ToolRun run = RunLine(inWorkDir + HYXINFO_PATH + " --snapshot " + file + " version");
  EXPECT_EQ(run.exitCode, 1) << run.err;
  EXPECT_NE(run.err.find("hyxinfo: version: not recorded in the snapshot " + file + " (HYX_READ_ERROR ("),
            std::string::npos)
      << run.err;
  EXPECT_EQ(run.err.find("HsiCache"), std::string::npos) << run.err;
  EXPECT_EQ(run.err.find("corrupted"), std::string::npos) << run.err;
  // What was recorded still answers.
  EXPECT_EQ(RunLine(inWorkDir + HYXHSI_PATH + " --snapshot " + file + " ls net/pNics").exitCode, 0);
  unlink((std::string(WORK_DIR) + "/" + file).c_str());
}

TEST(ToolErrors, ThrottlesSayTheirWindowIsPerProcess) {
  for (const char *command : {"trap throttle", "event throttle"}) {
    ToolRun text = RunLine(OnHost("hypervisor", std::string(HYXINFO_PATH) + " " + command));
    EXPECT_EQ(text.exitCode, 0) << command << ": " << text.err;
    EXPECT_NE(text.out.find("each process has its own window"), std::string::npos) << text.out;
    ToolRun json = RunLine(OnHost("hypervisor", std::string(HYXINFO_PATH) + " --json " + command));
    EXPECT_EQ(nlohmann::json::parse(json.out, nullptr, false)["scope"], "process") << json.out;
  }
}

// hyxinfo takes everything from the shipped library and defines nothing
// of it; hyxhsi and hyxsnap carry the internal archive and load no
// libhyxuser.so.  Two copies in one process would mean two load-time
// checks, and the program's copies of the exports winning over the
// library's.
TEST(ToolLinks, OneCopyOfTheLibraryPerToolProcess) {
  ToolRun exported = RunLine(std::string("nm -D --defined-only ") + HYXINFO_PATH);
  ASSERT_EQ(exported.exitCode, 0) << exported.err;
  for (const char *own : {"Hyxuser", "Hsi", "hsiLoadStatus"})
    EXPECT_EQ(exported.out.find(own), std::string::npos) << own << " in\n" << exported.out;
  EXPECT_NE(RunLine(std::string("readelf -d ") + HYXINFO_PATH).out.find("[libhyxuser.so]"),
            std::string::npos);
  for (const char *tool : {HYXHSI_PATH, HYXSNAP_PATH}) {
    ToolRun dynamic = RunLine(std::string("readelf -d ") + tool);
    ASSERT_EQ(dynamic.exitCode, 0) << dynamic.err;
    EXPECT_EQ(dynamic.out.find("libhyxuser"), std::string::npos) << tool;
  }
}

}  // namespace
