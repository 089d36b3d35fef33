// hyxsim itself: what a program sees inside, what leaks out (nothing), and
// how the program's end comes back.
#include <dirent.h>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <nlohmann/json.hpp>
#include <sstream>
#include <string>
#include <vector>

#include "hyxsim/hyxsim.h"
#include "run_command.h"

namespace {

using Outcome = CommandOutcome;

// Runs `script` with /bin/sh inside a sandbox of `profile`.
Outcome RunInside(const std::string &profile, const std::string &script) {
  std::string command = std::string(HYXSIM_PATH) + " --profile " + HOSTS_DIR + "/" + profile +
                        ".json -- /bin/sh -c '" + script + "' 2>&1";
  return RunCommand(command);
}

bool ExistsOnHost(const std::string &path) {
  struct stat st;
  return lstat(path.c_str(), &st) == 0;
}

// A directory of this machine's own for one test, removed with it.
class HostDir {
 public:
  HostDir() {
    char name[] = "/tmp/hyxsim-test-XXXXXX";
    path_ = mkdtemp(name) ? name : "";
  }
  ~HostDir() { RunCommand("rm -rf " + path_); }
  const std::string &path() const { return path_; }
  std::string Write(const std::string &name, const std::string &text, mode_t mode = 0644) const {
    std::string file = path_ + "/" + name;
    std::ofstream(file) << text;
    chmod(file.c_str(), mode);
    return file;
  }
  std::string Read(const std::string &name) const {
    std::stringstream text;
    text << std::ifstream(path_ + "/" + name).rdbuf();
    return text.str();
  }

 private:
  std::string path_;
};

// hyxsim with `arguments`, run from directory `from`.
Outcome Hyxsim(const std::string &arguments, const std::string &from = ".") {
  return RunCommand("cd " + from + " && " + HYXSIM_PATH + " " + arguments + " 2>&1");
}

int ExitCode(const Outcome &outcome) { return WIFEXITED(outcome.status) ? WEXITSTATUS(outcome.status) : -1; }

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
  const std::string hostPaths[] = {"/etc/norvex",  "/hxfs",       "/dev/char/hyxdriver",
                                   "/run/norvex",  "/run/hyxsim", "/var/spool/snmp/leak",
                                   "/tmp/.oldroot"};
  for (const std::string &path : hostPaths)
    if (ExistsOnHost(path)) GTEST_SKIP() << path << " exists on this machine already";
  Outcome outcome = RunInside("mockup",
                              "touch /etc/norvex/mgmtd/leak /hxfs/devices/disks/leak /run/norvex/leak "
                              "/var/spool/snmp/leak /tmp/leak /dev/char/hyxdriver/leak");
  EXPECT_EQ(outcome.status, 0) << outcome.output;
  for (const std::string &path : hostPaths) EXPECT_FALSE(ExistsOnHost(path)) << path;
}

TEST(Sandbox, ExitStatusAndSignalsPassThrough) {
  Outcome exited = RunInside("hypervisor", "exit 7");
  ASSERT_TRUE(WIFEXITED(exited.status));
  EXPECT_EQ(WEXITSTATUS(exited.status), 7);
  // popen's shell reports a signalled child as 128 + signal.
  Outcome killed = RunInside("hypervisor", "kill -TERM $$");
  EXPECT_EQ(WEXITSTATUS(killed.status), 128 + SIGTERM);
}

TEST(Sandbox, NothingOfTheMachineIsWritableUnlessBound) {
  HostDir dir;
  ASSERT_FALSE(dir.path().empty());
  dir.Write("seen", "visible\n");
  // The program's own directory is the current one here: both read-only.
  std::string program =
      dir.Write("program.sh",
                "#!/bin/sh\n"
                "cat seen\n"
                "touch \"$(dirname \"$0\")/by-program\" 2>/dev/null && echo wrote the program directory\n"
                "touch by-cwd 2>/dev/null && echo wrote the current directory\n"
                "touch /tmp/in-tmp && echo the sandbox tmp\n",
                0755);
  Outcome outcome = Hyxsim("-- " + program, dir.path());
  EXPECT_EQ(outcome.output, "visible\nthe sandbox tmp\n");
  EXPECT_FALSE(ExistsOnHost(dir.path() + "/by-program"));
  EXPECT_FALSE(ExistsOnHost(dir.path() + "/by-cwd"));
  // Run from the machine's /tmp, the program starts in the sandbox's own.
  std::string leak = dir.path() + "-leak";
  outcome = Hyxsim("-- /bin/sh -c 'touch " + leak + " && pwd'", "/tmp");
  EXPECT_EQ(outcome.output, "/tmp\n");
  EXPECT_FALSE(ExistsOnHost(leak));
  unlink(leak.c_str());
  // What --bind names is writable.
  outcome = Hyxsim("--bind " + dir.path() + " -- " + program, dir.path());
  EXPECT_EQ(outcome.output,
            "visible\nwrote the program directory\nwrote the current directory\nthe sandbox tmp\n");
  EXPECT_TRUE(ExistsOnHost(dir.path() + "/by-cwd"));
}

// "uname,uname,...": a --trace-calls list of `count` entries.
std::string ManyCalls(int count) {
  std::string list = "uname";
  for (int i = 1; i < count; ++i) list += ",uname";
  return list;
}

TEST(Sandbox, BadUsageIsRefusedNamingWhatWasWrong) {
  struct Case {
    std::string arguments;
    const char *says;
  } cases[] = {
      {"--bind /nonexistent/dir", "--bind /nonexistent/dir: No such file or directory"},
      {"--ro /nonexistent/file", "--ro /nonexistent/file: No such file or directory"},
      {"--bind relative/dir", "--bind relative/dir: not an absolute path"},
      {"--frob", "unknown option --frob"},
      {"--trace-format=xml", "--trace-format xml: neither text nor json"},
      {"--trace-calls=hsi,bogus", "--trace-calls: bogus is no call or family of calls"},
      {"--trace-calls=" + ManyCalls(33), "--trace-calls: uname goes beyond the 32 families and 32 calls"},
      {"--records /tmp", "--records is for --daemons"},
      {"--profile no-such-host", "no-such-host: No such file or directory"},
  };
  for (const Case &c : cases) {
    Outcome outcome = Hyxsim(c.arguments + " -- /bin/echo the program ran");
    EXPECT_EQ(ExitCode(outcome), 2) << c.arguments << ": " << outcome.output;
    EXPECT_NE(outcome.output.find(c.says), std::string::npos) << c.arguments << ": " << outcome.output;
    EXPECT_EQ(outcome.output.find("the program ran"), std::string::npos) << c.arguments;
  }
  Outcome noDashes = Hyxsim("true");
  EXPECT_EQ(ExitCode(noDashes), 2) << noDashes.output;
  // A program that is nowhere is the shell's "not found", apart from both.
  Outcome missing = Hyxsim("-- no-such-program-anywhere");
  EXPECT_EQ(ExitCode(missing), 127);
  EXPECT_EQ(missing.output, "hyxsim: no-such-program-anywhere: not found\n");
}

TEST(Sandbox, TheProgramIsFoundOnTheCallersPath) {
  HostDir dir;
  mkdir((dir.path() + "/bin").c_str(), 0755);
  dir.Write("bin/hyx-path-probe", "#!/bin/sh\necho found \"$0\" \"$@\"\n", 0755);
  Outcome outcome =
      RunCommand("PATH=" + dir.path() + "/bin:$PATH " + HYXSIM_PATH + " -- hyx-path-probe a 2>&1");
  EXPECT_EQ(ExitCode(outcome), 0) << outcome.output;
  EXPECT_EQ(outcome.output, "found " + dir.path() + "/bin/hyx-path-probe a\n");
}

TEST(Sandbox, ProfilesByNameAndErrorsNamingWhatTheCallerWrote) {
  EXPECT_EQ(ExitCode(Hyxsim("--profile mockup -- test -f /etc/norvex/mgmtd/mockupCalyxHost.txt")), 0);
  HostDir dir;
  dir.Write("bad.json", R"({"kernel": {"type": "bsd"}})");
  Outcome refused = Hyxsim("--profile bad.json -- /bin/echo the program ran", dir.path());
  EXPECT_EQ(ExitCode(refused), HYXSIM_REFUSED_STATUS) << refused.output;
  EXPECT_EQ(refused.output.rfind("hyxsim: bad.json: kernel.type: ", 0), 0u) << refused.output;
  dir.Write("syntax.json", "{\n  \"kernel\": {,\n");
  Outcome syntax = Hyxsim("--profile syntax.json -- true", dir.path());
  EXPECT_EQ(ExitCode(syntax), 2);
  EXPECT_EQ(syntax.output.rfind("hyxsim: syntax.json: line 2, column 14: ", 0), 0u) << syntax.output;
  dir.Write("deep.json", "{\"x\": " + std::string(100000, '[') + std::string(100000, ']') + "}");
  Outcome deep = Hyxsim("--profile deep.json -- true", dir.path());
  EXPECT_EQ(ExitCode(deep), 2);
  EXPECT_EQ(deep.output, "hyxsim: deep.json: objects and lists nested more than 64 deep\n");
  dir.Write("garbage.hsi", "not a snapshot");
  Outcome snapshot = Hyxsim("--snapshot garbage.hsi -- /bin/echo the program ran", dir.path());
  EXPECT_EQ(ExitCode(snapshot), HYXSIM_REFUSED_STATUS) << snapshot.output;
  EXPECT_EQ(snapshot.output.rfind("hyxsim: garbage.hsi: ", 0), 0u) << snapshot.output;
}

TEST(Sandbox, TheDaemonsRecordsAreCopiedOut) {
  HostDir dir;
  // hyxinfo in the build tree finds the library there.
  Outcome outcome = Hyxsim("--daemons --ro " BUILD_DIR " --records " + dir.path() + " -- " + HYXINFO_PATH +
                           " event hyx.Records --severity info key=value");
  ASSERT_EQ(ExitCode(outcome), 0) << outcome.output;
  std::istringstream lines(dir.Read("mgmtd.jsonl"));
  bool found = false;
  for (std::string line; std::getline(lines, line);) {
    nlohmann::json record = nlohmann::json::parse(line);
    if (record.contains("event") && record["event"]["eventTypeId"] == "hyx.Records") {
      found = true;
      EXPECT_EQ(record["event"]["arguments"], nlohmann::json::parse(R"([{"key": "key", "value": "value"}])"));
    }
  }
  EXPECT_TRUE(found) << dir.Read("mgmtd.jsonl");
  EXPECT_TRUE(ExistsOnHost(dir.path() + "/hobd.jsonl"));
  EXPECT_TRUE(ExistsOnHost(dir.path() + "/snmp-agent.jsonl"));
}

// Whether a file made in `dir` can be opened for direct I/O.
bool TakesDirectIo(const std::string &dir) {
  std::string probe = dir + "/direct-probe";
  int fd = open(probe.c_str(), O_WRONLY | O_CREAT | O_DIRECT | O_CLOEXEC, 0600);
  unlink(probe.c_str());
  if (fd >= 0) close(fd);
  return fd >= 0;
}

// The entries of a directory of this machine, "" when it is empty.
std::string Entries(const std::string &dir) { return RunCommand("ls -A " + dir).output; }

// What a program sees of the HXFS device tree, and leaves in it: whether
// the sandbox's tmpfs takes direct I/O, the device tree's file system type
// and where its bind comes from (if it is one), then a volume read through
// the library; then an image made at run time, nested directories and a
// link out of the tree to `outside`.
std::string DeviceTreeScript(const std::string &outside) {
  return std::string("#!/bin/sh\n") +
         "dd if=/dev/zero of=/tmp/probe bs=4096 count=1 oflag=direct 2>/dev/null && echo takes \\\n"
         "  || echo refuses\n"
         "stat -f -c %T /hxfs/devices/disks\n"
         "awk '$5 == \"/hxfs/devices\" {print $4}' /proc/self/mountinfo | grep . || echo unbound\n" +
         HYXINFO_PATH + " hxfs hosts /hxfs/volumes/datastore1\n" +
         "head -c 8192 /dev/zero >/hxfs/devices/genscsi/literal:1 || echo cannot write an image\n"
         "mkdir -p /hxfs/devices/file/a/b && touch /hxfs/devices/file/a/b/c\n"
         "ln -s " +
         outside + " /hxfs/devices/file/out\n";
}

// The device tree where the sandbox's tmpfs takes direct I/O, and on the
// disk where it does not or where HYXSIM_DEVICES_ON_DISK asks for it: a
// private directory under TMPDIR, removed with everything in it when
// hyxsim ends.  A volume reads the same from either.
TEST(Sandbox, TheDeviceTreeOnTheDiskServesVolumesAndLeavesNothing) {
  HostDir tmp, outside;
  if (!TakesDirectIo(tmp.path())) GTEST_SKIP() << "/tmp of this machine refuses direct I/O";
  outside.Write("kept", "kept\n");
  std::string script = outside.Write("devices.sh", DeviceTreeScript(outside.path()), 0755);
  std::string diskType = RunCommand("stat -f -c %T " + tmp.path()).output;
  std::string tmpName = tmp.path().substr(tmp.path().rfind('/') + 1);
  std::string volumeOnTmpfs;
  for (const char *force : {"", "1"}) {
    Outcome outcome =
        RunCommand(std::string("HYXSIM_DEVICES_ON_DISK=") + force + " TMPDIR=" + tmp.path() + " " +
                   HYXSIM_PATH + " --profile " + HOSTS_DIR + "/hxfs.json --ro " BUILD_DIR " --bind " +
                   outside.path() + " -- " + script + " 2>&1");
    ASSERT_EQ(ExitCode(outcome), 0) << force << ": " << outcome.output;
    std::istringstream lines(outcome.output);
    std::string tmpfs, type, bound;
    std::getline(lines, tmpfs), std::getline(lines, type), std::getline(lines, bound);
    std::string volume(std::istreambuf_iterator<char>(lines), {});
    if (*force == '\0' && tmpfs == "takes") {
      EXPECT_EQ(type, "tmpfs");
      EXPECT_EQ(bound, "unbound");
      volumeOnTmpfs = volume;
    } else {
      EXPECT_EQ(type + "\n", diskType) << force;
      EXPECT_NE(bound.find(tmpName + "/hyxsim-devices."), std::string::npos) << force << ": " << bound;
    }
    EXPECT_NE(volume.find("652f1a9c-3e7d-4b21-a80c-5e11d24490b7"), std::string::npos)
        << force << ": " << volume;
    if (!volumeOnTmpfs.empty()) {
      EXPECT_EQ(volume, volumeOnTmpfs) << force;
    }
    EXPECT_EQ(Entries(tmp.path()), "") << force;
    EXPECT_EQ(outside.Read("kept"), "kept\n") << force;
  }
}

// A sandbox that cannot be made with its device tree on the disk leaves
// nothing there: a TMPDIR that refuses direct I/O as well (a ramfs here)
// is named with the way out, and a volume that cannot be laid out is named.
TEST(Sandbox, ASandboxThatCannotBeMadeLeavesNoDeviceTree) {
  HostDir tmp, profiles;
  profiles.Write("long.json", R"({"base": ")" + std::string(HOSTS_DIR) +
                                  R"(/hypervisor.json", "volumes": [{"name": "long", "device": ")" +
                                  std::string(300, 'x') + "\"}]}");
  struct Case {
    bool ramfs;
    std::string profile, says;
  } cases[] = {
      {false, profiles.path() + "/long.json",
       "hyxsim: volume long: create /hxfs/devices/disks/" + std::string(300, 'x') + ": File name too long\n"},
      // Last: a ramfs that takes direct I/O skips it.
      {true, HOSTS_DIR "/hxfs.json",
       "hyxsim: " + tmp.path() + " cannot take direct reads (O_DIRECT), which the HXFS device images need: " +
           "point TMPDIR at a directory on a disk\n"},
  };
  for (const Case &c : cases) {
    // In a mount namespace of its own, where the ramfs vanishes with it.
    std::string mount =
        "mount -t ramfs hyxsim-test " + tmp.path() + " || exit 97; " + "dd if=/dev/zero of=" + tmp.path() +
        "/probe bs=4096 count=1 oflag=direct 2>/dev/null && exit 98; rm " + tmp.path() + "/probe; ";
    Outcome outcome = RunCommand(
        "unshare -m sh -c '" + (c.ramfs ? mount : std::string()) +
        "HYXSIM_DEVICES_ON_DISK=1 TMPDIR=" + tmp.path() + " " + HYXSIM_PATH + " --profile " + c.profile +
        " -- /bin/echo the program ran; echo status $?; ls -A " + tmp.path() + "' 2>&1");
    if (ExitCode(outcome) == 97) GTEST_SKIP() << "no ramfs to mount here: " << outcome.output;
    if (ExitCode(outcome) == 98) GTEST_SKIP() << "a ramfs takes direct I/O here";
    EXPECT_EQ(outcome.output, c.says + "status 126\n") << c.profile;
  }
}

// Processes of this machine whose arguments include `token`.
std::vector<pid_t> ProcessesWith(const std::string &token) {
  std::vector<pid_t> found;
  DIR *proc = opendir("/proc");
  while (struct dirent *entry = proc ? readdir(proc) : nullptr) {
    pid_t pid = atoi(entry->d_name);
    if (pid <= 0) continue;
    std::stringstream text;
    text << std::ifstream("/proc/" + std::string(entry->d_name) + "/cmdline").rdbuf();
    std::string arguments = text.str();
    if (arguments.find(std::string(1, '\0') + token + '\0') != std::string::npos) found.push_back(pid);
  }
  if (proc) closedir(proc);
  return found;
}

// Waits (a long while at most) until no process carries token.
bool AllEnd(const std::string &token) {
  for (int i = 0; i < 600 && !ProcessesWith(token).empty(); ++i) usleep(50000);
  return ProcessesWith(token).empty();
}

TEST(Sandbox, EverythingItStartedEndsWithIt) {
#if defined(__SANITIZE_THREAD__)
  // Built with ThreadSanitizer, hyxsim takes the TERM (nothing is left
  // pending) but never hands it on: both hyxsim processes stay in waitpid
  // and the program runs on.  The runtime runs a handler late, at its next
  // intercepted call, and a wait restarted after the signal makes none.
  GTEST_SKIP() << "hyxsim built with ThreadSanitizer does not hand signals on while it waits";
#endif
  // A hyxsim killed by SIGKILL leaves its device tree behind where it has
  // one on the disk: in this test's own directory, removed with it.
  HostDir tmp;
  for (int signal : {SIGTERM, SIGKILL}) {
    // A program with a child of its own, beside the daemons; the token
    // marks the child's command line.
    std::string token = std::to_string(900000 + getpid() % 10000 * 10 + signal % 10);
    int out[2];
    ASSERT_EQ(pipe(out), 0);
    pid_t hyxsim = fork();
    ASSERT_GE(hyxsim, 0);
    if (hyxsim == 0) {
      dup2(out[1], STDOUT_FILENO);
      close(out[0]);
      setenv("TMPDIR", tmp.path().c_str(), 1);
      std::string script = "echo ready; sleep " + token + "; true";
      execl(HYXSIM_PATH, HYXSIM_PATH, "--daemons", "--", "/bin/sh", "-c", script.c_str(),
            static_cast<char *>(nullptr));
      _exit(127);
    }
    close(out[1]);
    char ready[6] = {};
    ASSERT_EQ(read(out[0], ready, sizeof ready), 6);
    close(out[0]);
    while (ProcessesWith(token).empty()) usleep(10000);  // the child is started
    kill(hyxsim, signal);
    int status;
    ASSERT_EQ(waitpid(hyxsim, &status, 0), hyxsim);
    EXPECT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == signal) << status;
    EXPECT_TRUE(AllEnd(token)) << "killed with " << signal;
    for (pid_t left : ProcessesWith(token)) kill(left, SIGKILL);
  }
  // Killed at once, before the sandbox is up: nothing is left running.
  std::string token = std::to_string(800000 + getpid() % 10000 * 10);
  for (int i = 0; i < 5; ++i) {
    pid_t hyxsim = fork();
    ASSERT_GE(hyxsim, 0);
    if (hyxsim == 0) {
      execl(HYXSIM_PATH, HYXSIM_PATH, "--daemons", "--", "/bin/sleep", token.c_str(),
            static_cast<char *>(nullptr));
      _exit(127);
    }
    kill(hyxsim, SIGTERM);
    waitpid(hyxsim, nullptr, 0);
  }
  EXPECT_TRUE(AllEnd(token));
  for (pid_t left : ProcessesWith(token)) kill(left, SIGKILL);
}

}  // namespace
