// Process creation: the fork-exec call and the spawn call.
// Both make real children.  The child is cloned sharing the caller's memory
// and suspends the caller until it has exec'd or failed (as posix_spawn
// does), so its set-up code may only make raw system calls.
#include <dlfcn.h>
#include <elf.h>
#include <fcntl.h>
#include <sched.h>
#include <signal.h>
#include <sys/mman.h>
#include <sys/resource.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>

#include "../kit.h"
#include "../models.h"
#include "../profile.h"
#include "../trace.h"

namespace hyxsim {
namespace {

constexpr size_t kChildStackSize = 256 * 1024;
constexpr char kGroupArgPrefix[] = "++group=";
constexpr char kMemSuffix[] = ",mem=";
constexpr uint32_t kSpawnNewProcessGroup = 0x1;  // spawn flag: the child leads a new group
constexpr uint64_t kSigsysBit = uint64_t{1} << (SIGSYS - 1);

// ---- resource groups the kernel placed children in -------------------------

struct GroupRecord {
  pid_t pid;
  uint64_t memMB;
  char group[256];
};
constexpr size_t kGroupRecords = 64;
GroupRecord groupRecords[kGroupRecords];
size_t groupRecordsWritten = 0;
std::atomic_flag groupRecordsLock = ATOMIC_FLAG_INIT;

struct RecordsLock {
  RecordsLock() {
    while (groupRecordsLock.test_and_set(std::memory_order_acquire)) {
    }
  }
  ~RecordsLock() { groupRecordsLock.clear(std::memory_order_release); }
};

void RecordGroup(pid_t pid, const char *group, size_t length, uint64_t memMB) {
  RecordsLock lock;
  GroupRecord &record = groupRecords[groupRecordsWritten++ % kGroupRecords];
  record.pid = pid;
  record.memMB = memMB;
  if (length >= sizeof record.group) length = sizeof record.group - 1;
  memcpy(record.group, group, length);
  record.group[length] = '\0';
}

// "G" or "G,mem=N" (the last ",mem=" followed by digits only).
void RecordGroupArgument(pid_t pid, const char *text) {
  size_t length = strlen(text);
  uint64_t memMB = 0;
  for (const char *at = strstr(text, kMemSuffix); at != nullptr; at = strstr(at + 1, kMemSuffix)) {
    const char *digits = at + sizeof kMemSuffix - 1;
    if (*digits == '\0' || strspn(digits, "0123456789") != strlen(digits)) continue;
    length = static_cast<size_t>(at - text);
    memMB = strtoull(digits, nullptr, 10);
  }
  RecordGroup(pid, text, length, memMB);
}

// ---- what the child is given ---------------------------------------------

// Where this simulator was loaded from: every child must preload it too, or
// its first trapped call would find no handler and end it.
const char *SimLibraryPath() {
  Dl_info info{};
  if (dladdr(reinterpret_cast<void *>(&SimLibraryPath), &info) == 0 || info.dli_fname == nullptr)
    return nullptr;
  return info.dli_fname;
}

// One mapping per call holds the child's stack and everything built for
// the child: the handler allocates nothing from the heap.
class Arena {
 public:
  explicit Arena(size_t size) : size_((size + 4095) & ~size_t{4095}) {
    void *base = mmap(nullptr, size_, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS | MAP_STACK, -1, 0);
    base_ = base == MAP_FAILED ? nullptr : static_cast<char *>(base);
    used_ = kChildStackSize;  // the stack is the bottom of the mapping
  }
  ~Arena() {
    if (base_) munmap(base_, size_);
  }
  Arena(const Arena &) = delete;
  Arena &operator=(const Arena &) = delete;

  bool ok() const { return base_ != nullptr; }
  char *stackTop() const { return base_ + kChildStackSize; }

  template <typename T>
  T *Take(size_t count) {
    used_ = (used_ + alignof(T) - 1) & ~(alignof(T) - 1);
    T *at = reinterpret_cast<T *>(base_ + used_);
    used_ += count * sizeof(T);
    return used_ <= size_ ? at : nullptr;
  }

  char *Concat(const char *a, const char *b, const char *c = "", const char *d = "") {
    size_t la = strlen(a), lb = strlen(b), lc = strlen(c), ld = strlen(d);
    char *text = Take<char>(la + lb + lc + ld + 1);
    if (text == nullptr) return nullptr;
    memcpy(text, a, la);
    memcpy(text + la, b, lb);
    memcpy(text + la + lb, c, lc);
    memcpy(text + la + lb + lc, d, ld + 1);
    return text;
  }

  // Room for the child's stack plus `extra` bytes of vectors and strings.
  static size_t SizeFor(size_t extra) { return kChildStackSize + extra + 1024; }

 private:
  size_t size_;
  char *base_ = nullptr;
  size_t used_ = 0;
};

size_t VectorLength(char *const *vector) {
  size_t count = 0;
  while (vector != nullptr && vector[count] != nullptr) ++count;
  return count;
}

// What the child's environment needs beyond the caller's entries.
size_t EnvironmentExtra(char *const *envp) {
  const char *ours = getenv("LD_PRELOAD");
  const char *simPath = SimLibraryPath();
  size_t extra = (VectorLength(envp) + 4) * sizeof(char *) + CurrentProfile().path.size() +
                 CurrentProfile().snapshot.size() + 96;
  for (const char *const *setting = TraceEnvironment(); *setting != nullptr; ++setting)
    extra += sizeof(char *) + strlen(*setting) + 1;
  extra += (ours ? strlen(ours) : 0) + (simPath ? strlen(simPath) : 0);
  for (size_t i = 0; envp != nullptr && envp[i] != nullptr; ++i)
    if (strncmp(envp[i], "LD_PRELOAD=", 11) == 0) extra += strlen(envp[i]);
  return extra;
}

// Whether envp sets the variable `entry` ("NAME=value") sets.
bool HasVariable(char *const *envp, size_t count, const char *entry) {
  size_t length = strchr(entry, '=') - entry + 1;
  for (size_t i = 0; i < count; ++i)
    if (strncmp(envp[i], entry, length) == 0) return true;
  return false;
}

// An environment the simulator survives in: the caller's entries, with the
// simulator added to LD_PRELOAD and the host profile and snapshot named,
// when missing, and the trace settings the caller's process runs with.
char **ChildEnvironment(Arena &arena, char *const *envp) {
  const char *simPath = SimLibraryPath();
  size_t count = VectorLength(envp);
  size_t settings = 0;
  for (const char *const *setting = TraceEnvironment(); *setting != nullptr; ++setting) ++settings;
  char **entries = arena.Take<char *>(count + 4 + settings);
  if (entries == nullptr) return nullptr;
  const char *oldPreload = nullptr;
  bool hasProfile = false, hasSnapshot = false;
  size_t n = 0;
  for (size_t i = 0; i < count; ++i) {
    if (strncmp(envp[i], "LD_PRELOAD=", 11) == 0) {
      oldPreload = envp[i] + 11;
      continue;
    }
    hasProfile |= strncmp(envp[i], "HYXSIM_PROFILE=", 15) == 0;
    hasSnapshot |= strncmp(envp[i], "HYXSIM_SNAPSHOT=", 16) == 0;
    entries[n++] = envp[i];
  }
  if (simPath != nullptr && (oldPreload == nullptr || strstr(oldPreload, simPath) == nullptr)) {
    // Our own preload list keeps a sanitizer runtime ahead of the simulator.
    const char *ours = getenv("LD_PRELOAD");
    const char *needed = ours != nullptr && strstr(ours, simPath) != nullptr ? ours : simPath;
    char *preload = oldPreload && *oldPreload ? arena.Concat("LD_PRELOAD=", needed, ":", oldPreload)
                                              : arena.Concat("LD_PRELOAD=", needed);
    if (preload == nullptr) return nullptr;
    entries[n++] = preload;
  } else if (oldPreload != nullptr) {
    entries[n++] = const_cast<char *>(oldPreload - 11);
  }
  if (!hasProfile && !CurrentProfile().path.empty()) {
    char *profile = arena.Concat("HYXSIM_PROFILE=", CurrentProfile().path.c_str());
    if (profile == nullptr) return nullptr;
    entries[n++] = profile;
  }
  if (!hasSnapshot && !CurrentProfile().snapshot.empty()) {
    char *snapshot = arena.Concat("HYXSIM_SNAPSHOT=", CurrentProfile().snapshot.c_str());
    if (snapshot == nullptr) return nullptr;
    entries[n++] = snapshot;
  }
  for (const char *const *setting = TraceEnvironment(); *setting != nullptr; ++setting)
    if (!HasVariable(envp, count, *setting)) entries[n++] = const_cast<char *>(*setting);
  entries[n] = nullptr;
  return entries;
}

// The kernel runs native executables only; anything else (a "#!" script
// among them) is refused, and the caller decides what to do with it.
// Returns 0, or the errno that refuses the program.
// The machine the simulated host runs programs of: its own.
#if defined(__x86_64__)
constexpr uint16_t kNativeMachine = EM_X86_64;
#elif defined(__aarch64__)
constexpr uint16_t kNativeMachine = EM_AARCH64;
#endif

int CheckProgram(const char *path) {
  int fd = open(path, O_RDONLY | O_CLOEXEC);
  if (fd < 0) return errno == EACCES ? 0 : errno;  // exec has the last word on permissions
  unsigned char header[EI_NIDENT + 4];
  ssize_t got = read(fd, header, sizeof header);
  close(fd);
  if (got < 0) return 0;  // a directory, say: exec says why
  uint16_t machine = 0;
  if (got == static_cast<ssize_t>(sizeof header)) memcpy(&machine, header + EI_NIDENT + 2, sizeof machine);
  bool native = got == static_cast<ssize_t>(sizeof header) && memcmp(header, ELFMAG, SELFMAG) == 0 &&
                header[EI_CLASS] == ELFCLASS64 && machine == kNativeMachine;
  return native ? 0 : ENOEXEC;
}

// ---- the child -------------------------------------------------------------

// Everything the child needs, prepared by the caller's side.  The child
// writes only `error`.
struct ChildPlan {
  const char *path;
  char *const *argv;
  char *const *envp;
  // fork-exec: the descriptor map; nothing else is inherited.
  bool useMap;
  const int32_t *fdMap;
  uint32_t fdCount;
  int *tempFds;
  long maxFd;
  // spawn: inherited descriptors, then the file actions.
  const HyxuserSpawnFileActions *actions;
  bool newGroup;
  int32_t pgid;
  int32_t dirFd;
  uint32_t uid;
  uint32_t gid;
  uint64_t sigDefault;
  uint64_t mask;
  int error;
};

struct KernelSigaction {
  void (*handler)(int);
  unsigned long flags;
  void (*restorer)();
  uint64_t mask;
};

// No sanitizer may touch the child: it runs on its own stack in the
// caller's memory, with the caller suspended.
#define CHILD_CODE __attribute__((no_sanitize("address", "thread", "undefined"), always_inline)) inline

CHILD_CODE long Sys(long number, long a0 = 0, long a1 = 0, long a2 = 0, long a3 = 0) {
#if defined(__x86_64__)
  long result;
  register long r10 asm("r10") = a3;
  asm volatile("syscall"
               : "=a"(result)
               : "a"(number), "D"(a0), "S"(a1), "d"(a2), "r"(r10)
               : "rcx", "r11", "memory");
  return result;
#elif defined(__aarch64__)
  register long x8 asm("x8") = number;
  register long x0 asm("x0") = a0;
  register long x1 asm("x1") = a1;
  register long x2 asm("x2") = a2;
  register long x3 asm("x3") = a3;
  asm volatile("svc 0" : "+r"(x0) : "r"(x8), "r"(x1), "r"(x2), "r"(x3) : "memory");
  return x0;
#endif
}

// Handlers live in the caller's memory: none may run in the child.  Signals
// the caller ignores stay ignored unless the default set names them.
CHILD_CODE void ResetSignals(uint64_t sigDefault) {
  for (int sig = 1; sig <= 64; ++sig) {
    if (sig == SIGKILL || sig == SIGSTOP) continue;
    KernelSigaction old{}, dfl{};
    if (Sys(__NR_rt_sigaction, sig, 0, reinterpret_cast<long>(&old), 8) != 0) continue;
    bool toDefault = old.handler == SIG_IGN ? (sigDefault >> (sig - 1)) & 1 : old.handler != SIG_DFL;
    if (toDefault) Sys(__NR_rt_sigaction, sig, reinterpret_cast<long>(&dfl), 0, 8);
  }
}

// Entry i of the map becomes descriptor i; every other descriptor closes.
CHILD_CODE long ApplyMap(ChildPlan *plan) {
  for (uint32_t i = 0; i < plan->fdCount; ++i) {
    plan->tempFds[i] = -1;
    if (plan->fdMap[i] < 0) continue;
    long fd = Sys(__NR_fcntl, plan->fdMap[i], F_DUPFD_CLOEXEC, plan->fdCount);
    if (fd < 0) return fd;
    plan->tempFds[i] = static_cast<int>(fd);
  }
  for (uint32_t i = 0; i < plan->fdCount; ++i) {
    long r = plan->tempFds[i] >= 0 ? Sys(__NR_dup3, plan->tempFds[i], i, 0) : Sys(__NR_close, i);
    if (r < 0 && plan->tempFds[i] >= 0) return r;
  }
  if (Sys(__NR_close_range, plan->fdCount, ~0u, 0) != 0)
    for (long fd = plan->fdCount; fd < plan->maxFd; ++fd) Sys(__NR_close, fd);
  return 0;
}

CHILD_CODE long ApplyFileActions(const HyxuserSpawnFileActions *actions) {
  if (actions == nullptr) return 0;
  for (uint32_t i = 0; i < actions->count; ++i) {
    const HyxuserSpawnFileAction &action = actions->entries[i];
    if (action.kind == SPAWN_FILE_ACTION_OPEN) {
      long fd =
          Sys(__NR_openat, AT_FDCWD, reinterpret_cast<long>(action.arg.path), action.openFlags, action.mode);
      if (fd < 0) return fd;
      if (fd != action.fd) {
        long r = Sys(__NR_dup3, fd, action.fd, 0);
        Sys(__NR_close, fd);
        if (r < 0) return r;
      }
    } else if (action.kind == SPAWN_FILE_ACTION_DUP2) {
      long r;
      if (action.arg.sourceFd == action.fd) {
        r = Sys(__NR_fcntl, action.fd, F_GETFD);
        if (r >= 0) r = Sys(__NR_fcntl, action.fd, F_SETFD, r & ~FD_CLOEXEC);
      } else {
        r = Sys(__NR_dup3, action.arg.sourceFd, action.fd, 0);
      }
      if (r < 0) return r;
    }
  }
  return 0;
}

CHILD_CODE long SetUp(ChildPlan *plan) {
  long r = 0;
  ResetSignals(plan->sigDefault);
  if (plan->newGroup)
    r = Sys(__NR_setpgid, 0, 0);
  else if (plan->pgid > 0)
    r = Sys(__NR_setpgid, 0, plan->pgid);
  if (r < 0) return r;
  if (plan->gid != 0xFFFFFFFF) {
    Sys(__NR_setgroups, 1, reinterpret_cast<long>(&plan->gid));  // only root may; others keep theirs
    if ((r = Sys(__NR_setgid, plan->gid)) < 0) return r;
  }
  if (plan->uid != 0xFFFFFFFF && (r = Sys(__NR_setuid, plan->uid)) < 0) return r;
  if (plan->dirFd != -1 && (r = Sys(__NR_fchdir, plan->dirFd)) < 0) return r;
  if ((r = plan->useMap ? ApplyMap(plan) : ApplyFileActions(plan->actions)) < 0) return r;
  return Sys(__NR_rt_sigprocmask, SIG_SETMASK, reinterpret_cast<long>(&plan->mask), 0, 8);
}

__attribute__((no_sanitize("address", "thread", "undefined"))) int ChildMain(void *arg) {
  auto *plan = static_cast<ChildPlan *>(arg);
  long r = SetUp(plan);
  if (r >= 0)
    r = Sys(__NR_execve, reinterpret_cast<long>(plan->path), reinterpret_cast<long>(plan->argv),
            reinterpret_cast<long>(plan->envp));
  plan->error = static_cast<int>(-r);
  for (;;) Sys(__NR_exit, 127);
}

// Starts the child on the arena's stack; returns its pid, or -1 with
// plan.error set.  A child that failed before exec has already been reaped.
pid_t StartChild(ChildPlan &plan, Arena &arena) {
  // No handler of ours may run in the child before it has reset them.
  uint64_t all = ~uint64_t{0}, old = 0;
  RawSyscall(__NR_rt_sigprocmask, SIG_SETMASK, reinterpret_cast<long>(&all), reinterpret_cast<long>(&old), 8);
  plan.error = 0;
  pid_t pid = clone(ChildMain, arena.stackTop(), CLONE_VM | CLONE_VFORK | SIGCHLD, &plan);
  int cloneErrno = errno;
  RawSyscall(__NR_rt_sigprocmask, SIG_SETMASK, reinterpret_cast<long>(&old), 0, 8);
  if (pid < 0) {
    plan.error = cloneErrno;
    return -1;
  }
  if (plan.error != 0) {
    while (waitpid(pid, nullptr, 0) < 0 && errno == EINTR) {
    }
    return -1;
  }
  return pid;
}

// The child must never have SIGSYS blocked, or its first trapped call would
// end it.
uint64_t CallersMask() { return TrappedSignalMask() & ~kSigsysBit; }

long MaxDescriptor() {
  struct rlimit limit {};
  if (getrlimit(RLIMIT_NOFILE, &limit) != 0 || limit.rlim_cur == RLIM_INFINITY) return 65536;
  return static_cast<long>(limit.rlim_cur);
}

// ---- the calls ---------------------------------------------------------------

// KERNEL_CALL_FORK_EXEC: (path, argv, envp, pass-through value, descriptor map, parameters).
void ForkExec(Call &call) {
  const auto *path = reinterpret_cast<const char *>(call.args[0]);
  auto *argv = reinterpret_cast<char *const *>(call.args[1]);
  auto *envp = reinterpret_cast<char *const *>(call.args[2]);
  const auto *fdMap = reinterpret_cast<const int32_t *>(call.args[4]);
  const auto *paramsAddress = reinterpret_cast<const unsigned char *>(call.args[5]);
  if (path == nullptr || argv == nullptr || paramsAddress == nullptr)
    return Answer(call, HYX_INVALID_ADDRESS, EFAULT);
  const auto params = ReadBlock<ForkExecParams>(call.args[5]);
  auto *pidOut = reinterpret_cast<pid_t *>(static_cast<uintptr_t>(params.pidAddress));
  if (pidOut == nullptr || (fdMap == nullptr && params.fdCount != 0))
    return Answer(call, HYX_INVALID_ADDRESS, EFAULT);
  if (argv[0] == nullptr || params.fdCount > FORK_EXEC_MAX_DESCRIPTORS)
    return Answer(call, HYX_BAD_PARAM, EINVAL);
  for (uint32_t i = 0; i < params.fdCount; ++i)
    if (fdMap[i] >= 0 && fcntl(fdMap[i], F_GETFD) < 0) return AnswerErrno(call, EBADF);
  if (int err = CheckProgram(path)) return AnswerErrno(call, err);

  // A leading group argument is the kernel's, not the program's.
  size_t argc = VectorLength(argv);
  const char *group = argc > 1 && strncmp(argv[1], kGroupArgPrefix, sizeof kGroupArgPrefix - 1) == 0
                          ? argv[1] + sizeof kGroupArgPrefix - 1
                          : nullptr;
  Arena arena(
      Arena::SizeFor((argc + 1) * sizeof(char *) + params.fdCount * sizeof(int) + EnvironmentExtra(envp)));
  char **childArgv = arena.ok() ? arena.Take<char *>(argc + 1) : nullptr;
  int *tempFds = arena.ok() ? arena.Take<int>(params.fdCount) : nullptr;
  char **childEnvp = arena.ok() ? ChildEnvironment(arena, envp) : nullptr;
  if (childArgv == nullptr || tempFds == nullptr || childEnvp == nullptr) return AnswerErrno(call, ENOMEM);
  size_t n = 0;
  for (size_t i = 0; i < argc; ++i)
    if (i != 1 || group == nullptr) childArgv[n++] = argv[i];
  childArgv[n] = nullptr;

  ChildPlan plan{};
  plan.path = path;
  plan.argv = childArgv;
  plan.envp = childEnvp;
  plan.useMap = true;
  plan.fdMap = fdMap;
  plan.fdCount = params.fdCount;
  plan.tempFds = tempFds;
  plan.maxFd = MaxDescriptor();
  plan.dirFd = -1;
  plan.uid = plan.gid = 0xFFFFFFFF;
  plan.mask = CallersMask();
  pid_t pid = StartChild(plan, arena);
  if (pid < 0) return AnswerErrno(call, plan.error);
  if (group != nullptr) RecordGroupArgument(pid, group);
  *pidOut = pid;
  Answer(call, HYX_OK, 0);
}

// KERNEL_CALL_SPAWN: (path, argv, envp, file actions or null, attributes or null, pid
// output or null).
void Spawn(Call &call) {
  const auto *path = reinterpret_cast<const char *>(call.args[0]);
  auto *argv = reinterpret_cast<char *const *>(call.args[1]);
  auto *envp = reinterpret_cast<char *const *>(call.args[2]);
  const auto *actions = reinterpret_cast<const HyxuserSpawnFileActions *>(call.args[3]);
  const auto *attr = reinterpret_cast<const HyxuserSpawnAttr *>(call.args[4]);
  auto *pidOut = reinterpret_cast<pid_t *>(call.args[5]);
  if (path == nullptr || argv == nullptr) return Answer(call, HYX_INVALID_ADDRESS, EFAULT);
  if (argv[0] == nullptr || (attr != nullptr && attr->pgid < 0) ||
      (actions != nullptr && (actions->count > actions->capacity || actions->entries == nullptr)))
    return Answer(call, HYX_BAD_PARAM, EINVAL);
  if (int err = CheckProgram(path)) return AnswerErrno(call, err);
  Arena arena(Arena::SizeFor(EnvironmentExtra(envp)));
  char **childEnvp = arena.ok() ? ChildEnvironment(arena, envp) : nullptr;
  if (childEnvp == nullptr) return AnswerErrno(call, ENOMEM);

  ChildPlan plan{};
  plan.path = path;
  plan.argv = argv;
  plan.envp = childEnvp;
  plan.actions = actions;
  plan.dirFd = -1;
  plan.uid = plan.gid = 0xFFFFFFFF;
  plan.mask = CallersMask();
  if (attr != nullptr) {
    plan.newGroup = attr->flags & kSpawnNewProcessGroup;
    plan.pgid = attr->pgid;
    plan.dirFd = attr->workingDirFd;
    plan.uid = attr->uid;
    plan.gid = attr->gid;
    plan.sigDefault = attr->sigDefault;
    plan.mask = attr->sigMask & ~kSigsysBit;
  }
  pid_t pid = StartChild(plan, arena);
  if (pid < 0) return AnswerErrno(call, plan.error);
  if (attr != nullptr && (attr->flags & HYXUSER_SPAWN_SETRP) && attr->resourceGroup != nullptr)
    RecordGroup(pid, attr->resourceGroup, strlen(attr->resourceGroup),
                (attr->flags & HYXUSER_SPAWN_SETMEMMB) ? attr->memMB : 0);
  if (pidOut != nullptr) *pidOut = pid;
  Answer(call, HYX_OK, 0);
}

}  // namespace

void RegisterProcessModels() {
  if (!CurrentProfile().hyxkernel) return;
  RegisterModel(KERNEL_CALL_FORK_EXEC, ForkExec);
  RegisterModel(KERNEL_CALL_SPAWN, Spawn);
}

}  // namespace hyxsim

extern "C" int HyxSim_ChildGroup(int32_t pid, char *group, size_t size, uint64_t *memMB) {
  hyxsim::RecordsLock lock;
  size_t stored = hyxsim::groupRecordsWritten < hyxsim::kGroupRecords ? hyxsim::groupRecordsWritten
                                                                      : hyxsim::kGroupRecords;
  for (size_t back = 1; back <= stored; ++back) {
    const hyxsim::GroupRecord &record =
        hyxsim::groupRecords[(hyxsim::groupRecordsWritten - back) % hyxsim::kGroupRecords];
    if (record.pid != pid) continue;
    if (group != nullptr && size > 0) {
      size_t length = strnlen(record.group, size - 1);
      memcpy(group, record.group, length);
      group[length] = '\0';
    }
    if (memMB != nullptr) *memMB = record.memMB;
    return 1;
  }
  return 0;
}
