// Fork-exec, system, popen and spawn through the shipped library, with real
// children made by the simulated kernel.  Every test also checks that the
// process ends it with the descriptors it began with.
#include <dlfcn.h>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <sstream>
#include <string>
#include <vector>

#include "hyxsim/hyxsim.h"
#include "hyxsysinfo/kernelCall.h"
#include "hyxsysinfo/kernelWire.h"
#include "hyxuser/hyxuser.h"
#include "status_matchers.h"
#include "test_host.h"

namespace {

constexpr uint64_t kForkExecCall = KERNEL_CALL_FORK_EXEC;
constexpr uint64_t kSpawnCall = KERNEL_CALL_SPAWN;
constexpr uint32_t kNoExtra = 0xFFFFFFFF;

size_t OpenDescriptors() {
  size_t count = 0;
  for (auto &entry : std::filesystem::directory_iterator("/proc/self/fd"))
    count += entry.path().empty() ? 0 : 1;
  return count;
}

std::string ReadAll(int fd) {
  std::string text;
  char buffer[4096];
  ssize_t n;
  while ((n = read(fd, buffer, sizeof buffer)) > 0) text.append(buffer, static_cast<size_t>(n));
  return text;
}

std::string ReadFile(const std::string &path) {
  std::ifstream in(path);
  std::stringstream text;
  text << in.rdbuf();
  return text.str();
}

void WriteFile(const std::string &path, const std::string &text, mode_t mode = 0755) {
  int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, mode);
  ASSERT_GE(fd, 0) << path;
  ASSERT_EQ(write(fd, text.data(), text.size()), static_cast<ssize_t>(text.size()));
  close(fd);
}

struct TempDir {
  TempDir() {
    char pattern[] = "/tmp/spawnXXXXXX";
    path = mkdtemp(pattern);
    chmod(path.c_str(), 0777);  // children may run as another user
  }
  ~TempDir() { std::filesystem::remove_all(path); }
  std::string operator/(const std::string &name) const { return path + "/" + name; }
  std::string path;
};

struct Pipe {
  Pipe() { EXPECT_EQ(pipe2(ends, O_CLOEXEC), 0); }
  ~Pipe() {
    CloseRead();
    CloseWrite();
  }
  void CloseRead() {
    if (ends[0] >= 0) close(ends[0]);
    ends[0] = -1;
  }
  void CloseWrite() {
    if (ends[1] >= 0) close(ends[1]);
    ends[1] = -1;
  }
  int ends[2] = {-1, -1};
};

int WaitFor(pid_t pid) {
  int status = -1;
  EXPECT_EQ(waitpid(pid, &status, 0), pid);
  return status;
}

// ---- watching the fork-exec call ---------------------------------------------

// Kept in fixed storage: the watcher runs inside the simulator's signal
// handler, where nothing may be allocated.
struct SeenCall {
  char path[256];
  char argv[8][256];
  size_t argc;
  uint64_t envp;
  uint64_t passThrough;
  uint64_t fdMap;
  ForkExecParams params;
  bool sigintIgnored, sigquitIgnored, sigchldBlocked;
  uint32_t status;
  pid_t pid;

  std::vector<std::string> Argv() const { return std::vector<std::string>(argv, argv + argc); }
};
SeenCall seenCalls[4];
std::atomic<size_t> seenCount{0};

void Copy(char (&to)[256], const char *from) { snprintf(to, sizeof to, "%s", from ? from : ""); }

// Notes what the kernel was given and the caller's signal state, then lets
// the kernel model run the call.
void Watch(HyxSimCall *call, void *) {
  size_t index = seenCount.load();
  if (index >= std::size(seenCalls)) return HyxSim_RunModel(call);
  SeenCall &seen = seenCalls[index];
  memset(&seen, 0, sizeof seen);
  Copy(seen.path, reinterpret_cast<const char *>(call->args[0]));
  if (auto *argv = reinterpret_cast<char *const *>(call->args[1]))
    for (; argv[seen.argc] != nullptr && seen.argc < std::size(seen.argv); ++seen.argc)
      Copy(seen.argv[seen.argc], argv[seen.argc]);
  seen.envp = call->args[2];
  seen.passThrough = call->args[3];
  seen.fdMap = call->args[4];
  if (call->args[5]) memcpy(&seen.params, reinterpret_cast<const void *>(call->args[5]), sizeof seen.params);
  struct sigaction action;
  sigaction(SIGINT, nullptr, &action);
  seen.sigintIgnored = action.sa_handler == SIG_IGN;
  sigaction(SIGQUIT, nullptr, &action);
  seen.sigquitIgnored = action.sa_handler == SIG_IGN;
  sigset_t mask;
  sigprocmask(SIG_BLOCK, nullptr, &mask);
  seen.sigchldBlocked = sigismember(&mask, SIGCHLD);
  HyxSim_RunModel(call);
  seen.status = static_cast<uint32_t>(call->status);
  seen.pid =
      seen.status == HYX_OK ? *reinterpret_cast<pid_t *>(static_cast<uintptr_t>(seen.params.pidAddress)) : -1;
  seenCount.store(index + 1);
}

class Spawning : public testing::Test {
 protected:
  void SetUp() override {
    descriptors_ = OpenDescriptors();
    seenCount = 0;
    HyxSim_ResetCounts();
  }
  void TearDown() override {
    if (IsSkipped()) return;
    HyxSim_ClearHandlers();
    EXPECT_EQ(OpenDescriptors(), descriptors_) << "a descriptor was left open";
  }
  static void WatchForkExec() { HyxSim_SetHandler(kForkExecCall, Watch, nullptr); }

 private:
  size_t descriptors_ = 0;
};

class OnTheHyxkernel : public Spawning {
 protected:
  void SetUp() override {
    if (!OnHyxkernel()) GTEST_SKIP() << "needs the Hyxkernel";
    Spawning::SetUp();
  }
};

class OffTheHyxkernel : public Spawning {
 protected:
  void SetUp() override {
    if (OnHyxkernel()) GTEST_SKIP() << "for hosts without the Hyxkernel";
    Spawning::SetUp();
  }
};

using ForkExecOriginal = HYX_ReturnStatus (*)(const char *, char *const[], char *const[], int32_t,
                                              const int32_t *, uint32_t, uint8_t, pid_t *);

ForkExecOriginal OriginalForkExec() {
  return reinterpret_cast<ForkExecOriginal>(
      dlvsym(RTLD_DEFAULT, "HyxuserCompat_ForkExec", "NORVEX_HYXUSERCOMPAT_0.0"));
}

// The signal settings System changes, as the kernel reports them.
struct SignalSettings {
  struct sigaction interrupt, quit;
  sigset_t mask;

  static SignalSettings Now() {
    SignalSettings now;
    memset(&now, 0, sizeof now);
    sigaction(SIGINT, nullptr, &now.interrupt);
    sigaction(SIGQUIT, nullptr, &now.quit);
    sigprocmask(SIG_BLOCK, nullptr, &now.mask);
    return now;
  }
  bool operator==(const SignalSettings &other) const {
    return Same(interrupt, other.interrupt) && Same(quit, other.quit) && Same(mask, other.mask);
  }
  // The kernel keeps signals 1 to 64 only.
  static bool Same(const sigset_t &a, const sigset_t &b) { return memcmp(&a, &b, sizeof(uint64_t)) == 0; }
  static bool Same(const struct sigaction &a, const struct sigaction &b) {
    return a.sa_handler == b.sa_handler && a.sa_flags == b.sa_flags && Same(a.sa_mask, b.sa_mask);
  }
};

void OnSignal(int) {}

// Non-default settings of the three, so that a restore is visible; undone
// when the test ends.
struct CallerSignals {
  CallerSignals() {
    saved = SignalSettings::Now();
    struct sigaction custom {};
    custom.sa_handler = OnSignal;
    custom.sa_flags = SA_RESTART;
    sigemptyset(&custom.sa_mask);
    sigaddset(&custom.sa_mask, SIGTERM);
    sigaction(SIGINT, &custom, nullptr);
    struct sigaction dfl {};
    dfl.sa_handler = SIG_DFL;
    sigaction(SIGQUIT, &dfl, nullptr);
    sigset_t usr1;
    sigemptyset(&usr1);
    sigaddset(&usr1, SIGUSR1);
    sigprocmask(SIG_BLOCK, &usr1, nullptr);
    set = SignalSettings::Now();
  }
  ~CallerSignals() {
    sigaction(SIGINT, &saved.interrupt, nullptr);
    sigaction(SIGQUIT, &saved.quit, nullptr);
    sigprocmask(SIG_SETMASK, &saved.mask, nullptr);
  }
  SignalSettings saved, set;
};

// ---- System --------------------------------------------------------------------

TEST_F(OnTheHyxkernel, SystemRunsTheCommandAndGivesTheWaitStatusAsWaitpidDoes) {
  TempDir dir;
  const std::string file = dir / "file";
  struct {
    std::string command;
    bool (*check)(int);
  } cases[] = {
      {"echo hello > " + file, [](int s) { return WIFEXITED(s) && WEXITSTATUS(s) == 0; }},
      {"exit 3", [](int s) { return WIFEXITED(s) && WEXITSTATUS(s) == 3; }},
      {"kill -TERM $$", [](int s) { return WIFSIGNALED(s) && WTERMSIG(s) == SIGTERM; }},
  };
  for (auto &c : cases) {
    int status = -1;
    EXPECT_THAT(HyxuserCompat_System(c.command.c_str(), &status), IsOk()) << c.command;
    EXPECT_TRUE(c.check(status)) << c.command << ": " << status;
    EXPECT_EQ(status, system(c.command.c_str())) << c.command << ": libc's system says otherwise";
  }
  EXPECT_EQ(ReadFile(file), "hello\n");
}

TEST_F(OnTheHyxkernel, SystemWithoutACommandStartsNothing) {
  int status = -1;
  EXPECT_THAT(HyxuserCompat_System(nullptr, &status), IsOk());
  EXPECT_EQ(status, 1);
  EXPECT_THAT(HyxuserCompat_System("true", nullptr), IsStatus(HYX_BAD_PARAM));
  EXPECT_EQ(HyxSim_CallCount(kForkExecCall), 0u);
}

TEST_F(OnTheHyxkernel, SystemIgnoresInterruptsWhileTheChildRunsAndRestoresEverything) {
  CallerSignals caller;
  WatchForkExec();
  int status = -1;
  EXPECT_THAT(HyxuserCompat_System("true", &status), IsOk());
  ASSERT_EQ(seenCount.load(), 1u);
  EXPECT_TRUE(seenCalls[0].sigintIgnored);
  EXPECT_TRUE(seenCalls[0].sigquitIgnored);
  EXPECT_TRUE(seenCalls[0].sigchldBlocked);
  EXPECT_TRUE(SignalSettings::Now() == caller.set);

  // A refused call restores them too, and errno is the status's own.
  HyxSim_ScriptAnswer(kForkExecCall, HYX_NO_MEMORY, -5, nullptr, 0, 0);
  errno = 0;
  EXPECT_THAT(HyxuserCompat_System("true", &status), IsStatus(HYX_NO_MEMORY));
  EXPECT_EQ(errno, 12);
  EXPECT_TRUE(SignalSettings::Now() == caller.set);
}

// ---- the shell's argument vector and its resource group ----------------------

struct VectorCase {
  const char *what;
  uint32_t flags;  // ~0u: no attribute record at all
  const char *group;
  uint64_t memMB;
  std::string groupArg;  // "" = none expected
  std::string recordedGroup;
  uint64_t recordedMem;
};

TEST_F(OnTheHyxkernel, TheShellGetsTheGroupArgumentFirstAndTheKernelRecordsTheGroup) {
  const std::string longGroup(300, 'g');
  const VectorCase cases[] = {
      {"no record", ~0u, nullptr, 0, "", "", 0},
      {"group without its flag", 0, "pool/a", 0, "", "", 0},
      {"group", HYXUSER_SPAWN_SETRP, "pool/a", 0, "++group=pool/a", "pool/a", 0},
      {"group and memory", HYXUSER_SPAWN_SETRP | HYXUSER_SPAWN_SETMEMMB, "pool/a", 512,
       "++group=pool/a,mem=512", "pool/a", 512},
      {"memory without the group flag", HYXUSER_SPAWN_SETMEMMB, "pool/a", 512, "", "", 0},
      {"group flag without a group", HYXUSER_SPAWN_SETRP, nullptr, 0, "", "", 0},
      {"a 300-character group", HYXUSER_SPAWN_SETRP, longGroup.c_str(), 0,
       ("++group=" + longGroup).substr(0, 199), longGroup.substr(0, 191), 0},
  };
  for (const VectorCase &c : cases) {
    for (bool usePOpen : {false, true}) {
      SCOPED_TRACE(std::string(c.what) + (usePOpen ? " (popen)" : " (system)"));
      HyxuserSpawnAttr *attr = nullptr;
      if (c.flags != ~0u) {
        ASSERT_THAT(HyxuserCompat_SpawnAttrInit(&attr), IsOk());
        HyxuserCompat_SpawnAttrSetFlags(attr, c.flags);
        HyxuserCompat_SpawnAttrSetMemMB(attr, c.memMB);
        if (c.group) HyxuserCompat_SpawnAttrSetRP(attr, c.group);
      }
      seenCount = 0;
      WatchForkExec();
      int status = -1;
      if (usePOpen) {
        HyxuserPOpenHandle handle;
        ASSERT_THAT(HyxuserCompat_POpen_SpawnAttrs(attr, "exit 0", "r", &handle), IsOk());
        EXPECT_THAT(HyxuserCompat_PClose(&handle, &status), IsOk());
      } else {
        EXPECT_THAT(HyxuserCompat_System_SpawnAttrs(attr, "exit 0", &status), IsOk());
      }
      HyxuserCompat_SpawnAttrDestroy(attr);
      EXPECT_EQ(status, 0) << "the shell saw the group argument";
      ASSERT_EQ(seenCount.load(), 1u);
      const SeenCall &seen = seenCalls[0];
      std::vector<std::string> expected = {"/bin/sh", "-c", "exit 0"};
      if (!c.groupArg.empty()) expected.insert(expected.begin() + 1, c.groupArg);
      EXPECT_STREQ(seen.path, "/bin/sh");
      EXPECT_EQ(seen.Argv(), expected);
      EXPECT_EQ(seen.envp, reinterpret_cast<uint64_t>(environ));
      EXPECT_EQ(seen.passThrough, ~uint64_t{0});
      EXPECT_EQ(seen.params.fdCount, 3u);
      EXPECT_EQ(seen.params.extraA, kNoExtra);
      EXPECT_EQ(seen.params.extraB, kNoExtra);
      EXPECT_EQ(seen.params.flag, 0);
      char group[256] = "";
      uint64_t mem = 99;
      EXPECT_EQ(HyxSim_ChildGroup(seen.pid, group, sizeof group, &mem), c.recordedGroup.empty() ? 0 : 1);
      if (!c.recordedGroup.empty()) {
        EXPECT_EQ(group, c.recordedGroup);
        EXPECT_EQ(mem, c.recordedMem);
      }
    }
  }
}

// ---- POpen and PClose --------------------------------------------------------

TEST_F(OnTheHyxkernel, POpenReadsTheChildsOutputAndFeedsItsInput) {
  HyxuserPOpenHandle handle;
  ASSERT_THAT(HyxuserCompat_POpen("echo hello", "r", &handle), IsOk());
  EXPECT_EQ(fcntl(handle.fd, F_GETFD) & FD_CLOEXEC, FD_CLOEXEC);
  EXPECT_EQ(ReadAll(handle.fd), "hello\n");
  int status = -1;
  EXPECT_THAT(HyxuserCompat_PClose(&handle, &status), IsOk());
  EXPECT_EQ(status, 0);

  TempDir dir;
  const std::string file = dir / "fed";
  ASSERT_THAT(HyxuserCompat_POpen(("cat > " + file).c_str(), "w", &handle), IsOk());
  EXPECT_EQ(fcntl(handle.fd, F_GETFD) & FD_CLOEXEC, FD_CLOEXEC);
  EXPECT_EQ(write(handle.fd, "fed\n", 4), 4);
  EXPECT_THAT(HyxuserCompat_PClose(&handle, &status), IsOk());
  EXPECT_EQ(status, 0);
  EXPECT_EQ(ReadFile(file), "fed\n");

  ASSERT_THAT(HyxuserCompat_POpen("exit 5", "r", &handle), IsOk());
  EXPECT_THAT(HyxuserCompat_PClose(&handle, &status), IsOk());
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 5) << status;
}

TEST_F(OnTheHyxkernel, POpenRefusesAnyOtherModeBeforeMakingAPipe) {
  HyxuserPOpenHandle handle = {-7, -7};
  for (const char *mode : {"rw", "", "x", "R", "r+", "w ", "wr"}) {
    EXPECT_THAT(HyxuserCompat_POpen("true", mode, &handle), IsStatus(HYX_BAD_PARAM)) << '"' << mode << '"';
  }
  EXPECT_THAT(HyxuserCompat_POpen("true", nullptr, &handle), IsStatus(HYX_BAD_PARAM));
  EXPECT_THAT(HyxuserCompat_POpen(nullptr, "r", &handle), IsStatus(HYX_BAD_PARAM));
  EXPECT_THAT(HyxuserCompat_POpen("true", "r", nullptr), IsStatus(HYX_BAD_PARAM));
  EXPECT_EQ(handle.pid, -7);
  EXPECT_EQ(handle.fd, -7);
  EXPECT_EQ(HyxSim_CallCount(kForkExecCall), 0u);
}

TEST_F(OnTheHyxkernel, AFailedPOpenClosesBothEndsAndLeavesTheHandle) {
  HyxSim_ScriptAnswer(kForkExecCall, HYX_NO_RESOURCES, 0, nullptr, 0, 0);
  HyxuserPOpenHandle handle = {-7, -7};
  errno = 0;
  EXPECT_THAT(HyxuserCompat_POpen("true", "w", &handle), IsStatus(HYX_NO_RESOURCES));
  EXPECT_EQ(errno, 12);
  EXPECT_EQ(handle.pid, -7);
  EXPECT_EQ(handle.fd, -7);
}

TEST_F(OnTheHyxkernel, PCloseOnAClosedDescriptorSaysSoAndDoesNotWait) {
  HyxuserPOpenHandle handle;
  ASSERT_THAT(HyxuserCompat_POpen("exit 4", "r", &handle), IsOk());
  close(handle.fd);
  int status = -1;
  EXPECT_THAT(HyxuserCompat_PClose(&handle, &status), IsStatus(HYX_ERRNO_STATUS_BASE + EBADF));
  EXPECT_EQ(status, -1);
  status = WaitFor(handle.pid);  // still ours to wait for
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 4);
  EXPECT_THAT(HyxuserCompat_PClose(nullptr, &status), IsStatus(HYX_BAD_PARAM));
}

// ---- ForkExec ------------------------------------------------------------------

TEST_F(OnTheHyxkernel, TheDescriptorMapIsAllTheChildGets) {
  Pipe in, out;
  int stray = open("/dev/null", O_RDONLY);  // inheritable, yet not in the map
  ASSERT_GE(stray, 0);
  const int32_t map[] = {in.ends[0], out.ends[1], -1};
  char *const argv[] = {const_cast<char *>("cat"), nullptr};
  pid_t pid = -1;
  ASSERT_THAT(HyxuserCompat_ForkExec("/bin/cat", argv, nullptr, -1, map, 3, kNoExtra, kNoExtra, 0, &pid),
              IsOk());
  close(stray);
  in.CloseRead();
  out.CloseWrite();
  // Once cat echoes, it has finished starting and holds only what it was given.
  ASSERT_EQ(write(in.ends[1], "ping\n", 5), 5);
  char echo[5];
  ASSERT_EQ(read(out.ends[0], echo, sizeof echo), 5);
  std::vector<std::string> fds;
  for (auto &entry : std::filesystem::directory_iterator("/proc/" + std::to_string(pid) + "/fd"))
    fds.push_back(entry.path().filename());
  std::sort(fds.begin(), fds.end());
  EXPECT_EQ(fds, (std::vector<std::string>{"0", "1"}));
  in.CloseWrite();
  EXPECT_EQ(ReadAll(out.ends[0]), "");
  EXPECT_EQ(WaitFor(pid), 0);
}

TEST_F(OnTheHyxkernel, TheChildGetsItsArgumentsAndEnvironment) {
  setenv("SPAWN_TEST_MARK", "inherited", 1);
  char *const greeting[] = {const_cast<char *>("GREETING=hi"), nullptr};
  struct {
    char *const *envp;
    std::string output;
  } cases[] = {
      {nullptr, "inherited|\n"},  // null: the caller's own environment
      {greeting, "|hi\n"},
  };
  for (auto &c : cases) {
    Pipe out;
    const int32_t map[] = {-1, out.ends[1], 2};
    char *const argv[] = {const_cast<char *>("sh"), const_cast<char *>("-c"),
                          const_cast<char *>("echo \"$SPAWN_TEST_MARK|$GREETING\""), nullptr};
    pid_t pid = -1;
    ASSERT_THAT(HyxuserCompat_ForkExec("/bin/sh", argv, c.envp, -1, map, 3, kNoExtra, kNoExtra, 0, &pid),
                IsOk());
    out.CloseWrite();
    EXPECT_EQ(ReadAll(out.ends[0]), c.output);
    EXPECT_GT(pid, 0);
    EXPECT_EQ(WaitFor(pid), 0);
  }
  unsetenv("SPAWN_TEST_MARK");
}

TEST_F(OnTheHyxkernel, BothEntriesFillTheParameterBlock) {
  WatchForkExec();
  const int32_t map[] = {0, 1, 2};
  char *const argv[] = {const_cast<char *>("true"), nullptr};
  pid_t pid = -1;
  ASSERT_THAT(HyxuserCompat_ForkExec("/bin/true", argv, nullptr, -5, map, 3, 7, 9, 1, &pid), IsOk());
  EXPECT_EQ(WaitFor(pid), 0);
  ForkExecOriginal original = OriginalForkExec();
  ASSERT_NE(original, nullptr) << dlerror();
  ASSERT_NE(reinterpret_cast<void *>(original), reinterpret_cast<void *>(&HyxuserCompat_ForkExec));
  pid_t originalPid = -1;
  ASSERT_THAT(original("/bin/true", argv, nullptr, -1, map, 2, 0, &originalPid), IsOk());
  EXPECT_EQ(WaitFor(originalPid), 0);

  ASSERT_EQ(seenCount.load(), 2u);
  const SeenCall &current = seenCalls[0], &older = seenCalls[1];
  EXPECT_EQ(current.passThrough, static_cast<uint64_t>(int64_t{-5}));  // sign-extended
  EXPECT_EQ(current.params.fdCount, 3u);
  EXPECT_EQ(current.params.extraA, 7u);
  EXPECT_EQ(current.params.extraB, 9u);
  EXPECT_EQ(current.params.flag, 1);
  EXPECT_EQ(current.params.pidAddress, reinterpret_cast<uint64_t>(&pid));
  EXPECT_EQ(current.pid, pid);
  EXPECT_EQ(older.params.fdCount, 2u);
  EXPECT_EQ(older.params.extraA, kNoExtra);
  EXPECT_EQ(older.params.extraB, kNoExtra);
  EXPECT_EQ(older.params.flag, 0);
  EXPECT_EQ(older.params.pidAddress, reinterpret_cast<uint64_t>(&originalPid));
}

TEST_F(OnTheHyxkernel, FailuresCarryTheStatusAndTheStatusTablesErrno) {
  const int32_t map[] = {0, 1, 2};
  char *const argv[] = {const_cast<char *>("x"), nullptr};
  pid_t pid = -1;
  errno = 0;
  EXPECT_THAT(
      HyxuserCompat_ForkExec("/no/such/program", argv, nullptr, -1, map, 3, kNoExtra, kNoExtra, 0, &pid),
      IsStatus(HYX_NOT_FOUND));
  EXPECT_EQ(errno, 2);
  // The kernel's own error value gives way to the table's.
  HyxSim_ScriptAnswer(kForkExecCall, HYX_NO_MEMORY, -5, nullptr, 0, 0);
  EXPECT_THAT(HyxuserCompat_ForkExec("/bin/true", argv, nullptr, -1, map, 3, kNoExtra, kNoExtra, 0, &pid),
              IsStatus(HYX_NO_MEMORY));
  EXPECT_EQ(errno, 12);
  HyxSim_ClearHandlers();
  HyxSim_ResetCounts();
  EXPECT_THAT(HyxuserCompat_ForkExec(nullptr, argv, nullptr, -1, map, 3, kNoExtra, kNoExtra, 0, &pid),
              IsStatus(HYX_BAD_PARAM));
  EXPECT_EQ(errno, 22);
  EXPECT_THAT(HyxuserCompat_ForkExec("/bin/true", argv, nullptr, -1, map, 3, kNoExtra, kNoExtra, 0, nullptr),
              IsStatus(HYX_BAD_PARAM));
  EXPECT_EQ(HyxSim_CallCount(kForkExecCall), 0u);
  EXPECT_EQ(pid, -1);
}

// ---- the "#!" fallback ---------------------------------------------------------

TEST_F(OnTheHyxkernel, AScriptIsStartedThroughItsInterpreterLine) {
  TempDir dir;
  const std::string script = dir / "s";
  WriteFile(script, "#!/bin/sh -x\necho \"arg=$1\"\n");
  WatchForkExec();
  Pipe out;
  const int32_t map[] = {-1, out.ends[1], out.ends[1]};
  char *const argv[] = {const_cast<char *>("s"), const_cast<char *>("a"), nullptr};
  pid_t pid = -1;
  ASSERT_THAT(HyxuserCompat_ForkExec(script.c_str(), argv, nullptr, -1, map, 3, kNoExtra, kNoExtra, 0, &pid),
              IsOk());
  out.CloseWrite();
  EXPECT_EQ(ReadAll(out.ends[0]), "+ echo arg=a\narg=a\n");
  EXPECT_EQ(WaitFor(pid), 0);
  ASSERT_EQ(seenCount.load(), 2u);
  EXPECT_THAT(seenCalls[0].status, IsStatus(HYX_NOT_EXEC));
  EXPECT_STREQ(seenCalls[1].path, "/bin/sh");
  EXPECT_EQ(seenCalls[1].Argv(), (std::vector<std::string>{"/bin/sh", "-x", script, "a"}));
  EXPECT_EQ(seenCalls[1].pid, pid);
}

// The retry is the caller's call with another program and vector: the same
// environment, descriptor map, pass-through value and parameter block.
TEST_F(OnTheHyxkernel, TheScriptRetryPassesEverythingElseUnchanged) {
  TempDir dir;
  const std::string script = dir / "s";
  WriteFile(script, "#!/bin/sh\necho \"mark=$MARK\"\n");
  WatchForkExec();
  Pipe out;
  const int32_t map[] = {-1, out.ends[1]};
  char *const argv[] = {const_cast<char *>("s"), nullptr};
  char *const envp[] = {const_cast<char *>("MARK=retried"), nullptr};
  pid_t pid = -1;
  ASSERT_THAT(HyxuserCompat_ForkExec(script.c_str(), argv, envp, 7, map, 2, 11, 12, 0, &pid), IsOk());
  out.CloseWrite();
  EXPECT_EQ(ReadAll(out.ends[0]), "mark=retried\n");
  EXPECT_EQ(WaitFor(pid), 0);
  ASSERT_EQ(seenCount.load(), 2u);
  const SeenCall &first = seenCalls[0], &retry = seenCalls[1];
  EXPECT_THAT(first.status, IsStatus(HYX_NOT_EXEC));
  EXPECT_EQ(retry.envp, reinterpret_cast<uint64_t>(envp));
  EXPECT_EQ(retry.envp, first.envp);
  EXPECT_EQ(retry.fdMap, reinterpret_cast<uint64_t>(map));
  EXPECT_EQ(retry.passThrough, first.passThrough);
  EXPECT_EQ(retry.passThrough, uint64_t{7});
  EXPECT_EQ(memcmp(&retry.params, &first.params, sizeof retry.params), 0);
  EXPECT_EQ(retry.params.fdCount, 2u);
  EXPECT_EQ(retry.params.extraA, 11u);
  EXPECT_EQ(retry.params.extraB, 12u);
  EXPECT_EQ(retry.params.pidAddress, reinterpret_cast<uint64_t>(&pid));
}

struct ScriptCase {
  const char *what;
  std::string content;
  size_t extraArgs;  // after argv[0]
  HYX_ReturnStatus status;
  int err;
  uint64_t calls;
};

TEST_F(OnTheHyxkernel, TheScriptFallbackHasItsLimits) {
  const std::string sh = "#!/bin/sh";
  const ScriptCase cases[] = {
      {"first line ends at byte 127", sh + std::string(126 - sh.size(), ' ') + "\n", 0, HYX_OK, 0, 2},
      {"first line ends at byte 128", sh + std::string(127 - sh.size(), ' ') + "\n", 0, HYX_NAME_TOO_LONG, 36,
       1},
      {"no newline at all", "#!" + std::string(200, 'a'), 0, HYX_NAME_TOO_LONG, 36, 1},
      {"not a script", "echo hi\n", 0, HYX_NOT_EXEC, 8, 1},
      {"empty file", "", 0, HYX_NOT_EXEC, 8, 1},
      {"one byte", "#", 0, HYX_NOT_EXEC, 8, 1},
      {"bare #! names the script itself, refused again", "#!\n", 0, HYX_NOT_EXEC, 8, 2},
      {"a tab belongs to the word", "#!/bin/sh\t-x\n", 0, HYX_NOT_FOUND, 2, 2},
      {"127 entries fit", sh + "\nexit 0\n", 125, HYX_OK, 0, 2},
      {"128 entries do not", sh + "\nexit 0\n", 126, HYX_TOO_MANY_ELEMENTS, 7, 1},
  };
  TempDir dir;
  const std::string script = dir / "script";
  const int32_t map[] = {0, 1, 2};
  for (const ScriptCase &c : cases) {
    SCOPED_TRACE(c.what);
    WriteFile(script, c.content);
    std::vector<std::string> args(c.extraArgs + 1, "x");
    std::vector<char *> argv;
    for (std::string &arg : args) argv.push_back(arg.data());
    argv.push_back(nullptr);
    HyxSim_ResetCounts();
    pid_t pid = -1;
    errno = 0;
    EXPECT_THAT(
        HyxuserCompat_ForkExec(script.c_str(), argv.data(), nullptr, -1, map, 3, kNoExtra, kNoExtra, 0, &pid),
        IsStatus(c.status));
    EXPECT_EQ(HyxSim_CallCount(kForkExecCall), c.calls);
    if (c.status == HYX_OK)
      EXPECT_EQ(WaitFor(pid), 0);
    else
      EXPECT_EQ(errno, c.err);
  }
}

TEST_F(OnTheHyxkernel, AnUnreadableScriptIsNotFound) {
  // The kernel refuses a program that then cannot be opened.
  HyxSim_ScriptAnswer(kForkExecCall, HYX_NOT_EXEC, -8, nullptr, 0, 0);
  const int32_t map[] = {0, 1, 2};
  char *const argv[] = {const_cast<char *>("gone"), nullptr};
  pid_t pid = -1;
  errno = 0;
  EXPECT_THAT(
      HyxuserCompat_ForkExec("/no/such/script", argv, nullptr, -1, map, 3, kNoExtra, kNoExtra, 0, &pid),
      IsStatus(HYX_NOT_FOUND));
  EXPECT_EQ(errno, 2);
  EXPECT_EQ(HyxSim_CallCount(kForkExecCall), 1u);
}

// ---- Spawn ------------------------------------------------------------------------

uint64_t StatusField(pid_t pid, const std::string &name) {
  std::istringstream lines(ReadFile("/proc/" + std::to_string(pid) + "/status"));
  for (std::string line; std::getline(lines, line);)
    if (line.rfind(name + ":", 0) == 0) return strtoull(line.c_str() + name.size() + 1, nullptr, 16);
  ADD_FAILURE() << "no " << name << " for " << pid;
  return 0;
}

TEST_F(OnTheHyxkernel, SpawnHonoursTheRecordsItIsGiven) {
  TempDir dir;
  Pipe in;
  int dirFd = open(dir.path.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  ASSERT_GE(dirFd, 0);
  HyxuserSpawnFileActions *actions = nullptr;
  ASSERT_THAT(HyxuserCompat_SpawnFileActionsInit(&actions, 4), IsOk());
  ASSERT_THAT(HyxuserCompat_SpawnFileActionsAddDup2(actions, in.ends[0], 0), IsOk());
  ASSERT_THAT(HyxuserCompat_SpawnFileActionsAddOpen(actions, 1, "out", O_WRONLY | O_CREAT | O_TRUNC, 0644),
              IsOk());
  HyxuserSpawnAttr *attr = nullptr;
  ASSERT_THAT(HyxuserCompat_SpawnAttrInit(&attr), IsOk());
  sigset_t set;
  sigemptyset(&set);
  sigaddset(&set, SIGUSR1);
  HyxuserCompat_SpawnAttrSetSigMask(attr, &set);
  sigemptyset(&set);
  sigaddset(&set, SIGUSR2);
  HyxuserCompat_SpawnAttrSetSigDefault(attr, &set);
  HyxuserCompat_SpawnAttrSetFlags(attr,
                                  0x1 | HYXUSER_SPAWN_SETRP | HYXUSER_SPAWN_SETMEMMB);  // 0x1: own group
  HyxuserCompat_SpawnAttrSetRP(attr, "pool/spawn");
  HyxuserCompat_SpawnAttrSetMemMB(attr, 64);
  HyxuserCompat_SpawnAttrSetWorkingDirFd(attr, dirFd);
  HyxuserCompat_SpawnAttrSetUID(attr, 65534);
  HyxuserCompat_SpawnAttrSetGID(attr, 65533);

  // The caller ignores two signals; the default set gives one of them back.
  struct sigaction ignore {
  }, oldHup, oldUsr2;
  ignore.sa_handler = SIG_IGN;
  sigaction(SIGHUP, &ignore, &oldHup);
  sigaction(SIGUSR2, &ignore, &oldUsr2);
  const uint64_t callerIgnores = StatusField(getpid(), "SigIgn");
  char *const argv[] = {const_cast<char *>("cat"), nullptr};
  pid_t pid = -1;
  HYX_ReturnStatus status = HyxuserCompat_Spawn("/bin/cat", argv, environ, actions, attr, &pid);
  sigaction(SIGHUP, &oldHup, nullptr);
  sigaction(SIGUSR2, &oldUsr2, nullptr);
  HyxuserCompat_SpawnAttrDestroy(attr);
  HyxuserCompat_SpawnFileActionsDestroy(actions);
  close(dirFd);
  ASSERT_THAT(status, IsOk());
  in.CloseRead();

  EXPECT_EQ(StatusField(pid, "SigBlk"), uint64_t{1} << (SIGUSR1 - 1));
  EXPECT_EQ(StatusField(pid, "SigIgn"), callerIgnores & ~(uint64_t{1} << (SIGUSR2 - 1)));
  EXPECT_TRUE(callerIgnores & (uint64_t{1} << (SIGHUP - 1)));
  EXPECT_EQ(getpgid(pid), pid);
  EXPECT_EQ(std::filesystem::read_symlink("/proc/" + std::to_string(pid) + "/cwd").string(), dir.path);
  struct stat owner;
  ASSERT_EQ(stat(("/proc/" + std::to_string(pid)).c_str(), &owner), 0);
  EXPECT_EQ(owner.st_uid, 65534u);
  EXPECT_EQ(owner.st_gid, 65533u);
  char group[64] = "";
  uint64_t mem = 0;
  EXPECT_EQ(HyxSim_ChildGroup(pid, group, sizeof group, &mem), 1);
  EXPECT_STREQ(group, "pool/spawn");
  EXPECT_EQ(mem, 64u);

  ASSERT_EQ(write(in.ends[1], "through\n", 8), 8);
  in.CloseWrite();
  EXPECT_EQ(WaitFor(pid), 0);
  EXPECT_EQ(ReadFile(dir / "out"), "through\n");
}

TEST_F(OnTheHyxkernel, SpawnHasNoScriptFallback) {
  TempDir dir;
  WriteFile(dir / "s", "#!/bin/sh\nexit 0\n");
  char *const argv[] = {const_cast<char *>("s"), nullptr};
  pid_t pid = -1;
  struct {
    std::string path;
    HYX_ReturnStatus status;
    int err;
  } cases[] = {{dir / "s", HYX_NOT_EXEC, 8}, {dir / "missing", HYX_NOT_FOUND, 2}};
  for (auto &c : cases) {
    errno = 0;
    EXPECT_THAT(HyxuserCompat_Spawn(c.path.c_str(), argv, environ, nullptr, nullptr, &pid),
                IsStatus(c.status))
        << c.path;
    EXPECT_EQ(errno, c.err);
  }
  EXPECT_EQ(HyxSim_CallCount(kSpawnCall), 2u);
  EXPECT_EQ(HyxSim_CallCount(kForkExecCall), 0u);
  EXPECT_EQ(pid, -1);
  // Without records the child inherits what is inheritable.
  ASSERT_THAT(HyxuserCompat_Spawn("/bin/true", argv, environ, nullptr, nullptr, &pid), IsOk());
  EXPECT_EQ(WaitFor(pid), 0);
}

// ---- hosts without the Hyxkernel ------------------------------------------------

TEST_F(OffTheHyxkernel, EveryPathIsNotImplementedWithErrno38AndLeavesNothingBehind) {
  CallerSignals caller;
  ASSERT_NE(OriginalForkExec(), nullptr);
  HyxuserSpawnAttr *attr = nullptr;
  ASSERT_THAT(HyxuserCompat_SpawnAttrInit(&attr), IsOk());
  HyxuserCompat_SpawnAttrSetFlags(attr, HYXUSER_SPAWN_SETRP);
  HyxuserCompat_SpawnAttrSetRP(attr, "pool/a");
  pid_t pid = -1;
  int status = -1;
  HyxuserPOpenHandle handle = {-7, -7};
  struct {
    const char *what;
    HYX_ReturnStatus (*run)(HyxuserSpawnAttr *, pid_t *, int *, HyxuserPOpenHandle *);
  } paths[] = {
      {"ForkExec",
       [](HyxuserSpawnAttr *, pid_t *p, int *, HyxuserPOpenHandle *) {
         const int32_t m[] = {0, 1, 2};
         char *const v[] = {const_cast<char *>("true"), nullptr};
         return HyxuserCompat_ForkExec("/bin/true", v, nullptr, -1, m, 3, kNoExtra, kNoExtra, 0, p);
       }},
      {"ForkExec, before its argument checks",
       [](HyxuserSpawnAttr *, pid_t *, int *, HyxuserPOpenHandle *) {
         return HyxuserCompat_ForkExec(nullptr, nullptr, nullptr, -1, nullptr, 3, kNoExtra, kNoExtra, 0,
                                       nullptr);
       }},
      {"ForkExec 0.0",
       [](HyxuserSpawnAttr *, pid_t *p, int *, HyxuserPOpenHandle *) {
         const int32_t m[] = {0, 1, 2};
         char *const v[] = {const_cast<char *>("true"), nullptr};
         return OriginalForkExec()("/bin/true", v, nullptr, -1, m, 3, 0, p);
       }},
      {"System", [](HyxuserSpawnAttr *, pid_t *, int *s,
                    HyxuserPOpenHandle *) { return HyxuserCompat_System("true", s); }},
      {"System_SpawnAttrs",
       [](HyxuserSpawnAttr *a, pid_t *, int *s, HyxuserPOpenHandle *) {
         return HyxuserCompat_System_SpawnAttrs(a, "true", s);
       }},
      {"POpen", [](HyxuserSpawnAttr *, pid_t *, int *,
                   HyxuserPOpenHandle *h) { return HyxuserCompat_POpen("true", "r", h); }},
      {"POpen_SpawnAttrs",
       [](HyxuserSpawnAttr *a, pid_t *, int *, HyxuserPOpenHandle *h) {
         return HyxuserCompat_POpen_SpawnAttrs(a, "true", "w", h);
       }},
      {"Spawn",
       [](HyxuserSpawnAttr *a, pid_t *p, int *, HyxuserPOpenHandle *) {
         char *const v[] = {const_cast<char *>("true"), nullptr};
         return HyxuserCompat_Spawn("/bin/true", v, environ, nullptr, a, p);
       }},
  };
  for (auto &path : paths) {
    errno = 0;
    EXPECT_THAT(path.run(attr, &pid, &status, &handle), IsStatus(HYX_NOT_IMPLEMENTED)) << path.what;
    EXPECT_EQ(errno, 38) << path.what;
    EXPECT_TRUE(SignalSettings::Now() == caller.set) << path.what << " left the signal settings changed";
  }
  HyxuserCompat_SpawnAttrDestroy(attr);
  EXPECT_EQ(pid, -1);
  EXPECT_EQ(status, -1);
  EXPECT_EQ(handle.pid, -7);
  EXPECT_EQ(handle.fd, -7);
  EXPECT_EQ(HyxSim_CallCount(kForkExecCall), 0u);
  EXPECT_EQ(HyxSim_CallCount(kSpawnCall), 0u);
}

}  // namespace
