// Children started through the kernel's fork-exec and spawn calls, and the
// system/popen/pclose replacements built on them.
#include "hyxuser/forkExec.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>

#include "common/export.h"
#include "common/guard.h"
#include "common/hostPaths.h"
#include "hyxsysinfo/hostType.h"
#include "hyxsysinfo/kernelCall.h"
#include "hyxuser/directCall.h"
#include "status/status.h"

namespace {

using hostPaths::kShell;
constexpr char kShellCommandOption[] = "-c";
constexpr size_t kScriptHeadSize = 128;   // bytes of a script looked at
constexpr size_t kScriptLineLimit = 127;  // the first line must end within these
constexpr size_t kMaxInterpreterWords = 126;
constexpr size_t kMaxScriptArgs = 127;  // entries of the new vector, before its null
constexpr int32_t kStdMap[3] = {0, 1, 2};

HYX_ReturnStatus CallForkExec(const char *path, char *const argv[], char *const envp[], int32_t passThrough,
                              const int32_t *fdMap, uint32_t fdCount, uint32_t extraA, uint32_t extraB,
                              uint8_t flag, pid_t *pid) {
  ForkExecParams params;
  params.fdCount = fdCount;
  params.extraA = extraA;
  params.extraB = extraB;
  params.flag = flag;
  params.pidAddress = reinterpret_cast<uintptr_t>(pid);
  return Kernel_Call(KERNEL_CALL_FORK_EXEC, path, argv, envp, passThrough, fdMap,
                     static_cast<const void *>(&params));
}

// Reads up to size bytes from the start of fd; -1 on a read error.
ssize_t ReadHead(int fd, char *buffer, size_t size) {
  size_t got = 0;
  while (got < size) {
    ssize_t n = read(fd, buffer + got, size - got);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) return -1;
    if (n == 0) break;
    got += static_cast<size_t>(n);
  }
  return static_cast<ssize_t>(got);
}

// The shell's argument vector: {sh, [group,] -c, command, null}.
void ShellArgs(const char *group, const char *command, const char *(&argv)[5]) {
  size_t n = 0;
  argv[n++] = kShell;
  if (group[0] != '\0') argv[n++] = group;
  argv[n++] = kShellCommandOption;
  argv[n++] = command;
  argv[n] = nullptr;
}

HYX_ReturnStatus StartShell(const char *group, const char *command, const int32_t (&fdMap)[3], pid_t *pid) {
  const char *argv[5];
  ShellArgs(group, command, argv);
  return ForkExec_Current(kShell, const_cast<char *const *>(argv), nullptr, -1, fdMap, 3, FORK_EXEC_NO_EXTRA,
                          FORK_EXEC_NO_EXTRA, 0, pid);
}

HYX_ReturnStatus WaitChild(pid_t pid, int *waitStatus) {
  while (waitpid(pid, waitStatus, 0) < 0)
    if (errno != EINTR) return StatusFromErrno(errno);
  return HYX_OK;
}

}  // namespace

void GroupArg_Build(const HyxuserSpawnAttr *attr, char (&buffer)[GROUP_ARG_SIZE]) {
  buffer[0] = '\0';
  // A group flagged but never set is taken as no group rather than printed.
  if (attr == nullptr || (attr->flags & HYXUSER_SPAWN_SETRP) == 0 || attr->resourceGroup == nullptr) return;
  if (attr->flags & HYXUSER_SPAWN_SETMEMMB)
    snprintf(buffer, sizeof buffer, "++group=%s,mem=%lu", attr->resourceGroup,
             static_cast<unsigned long>(attr->memMB));
  else
    snprintf(buffer, sizeof buffer, "++group=%s", attr->resourceGroup);
}

HYX_ReturnStatus ScriptInterp_Retry(const char *path, char *const argv[], char *const envp[],
                                    int32_t passThrough, const int32_t *fdMap, uint32_t fdCount,
                                    uint32_t extraA, uint32_t extraB, uint8_t flag, pid_t *pid) {
  char line[kScriptHeadSize];
  ssize_t got;
  {
    guard::Fd fd(open(path, O_RDONLY | O_CLOEXEC));
    if (!fd.valid()) return HYX_NOT_FOUND;
    got = ReadHead(fd.get(), line, sizeof line);
  }
  if (got < 2 || line[0] != '#' || line[1] != '!') return HYX_NOT_EXEC;
  size_t searched = static_cast<size_t>(got) < kScriptLineLimit ? static_cast<size_t>(got) : kScriptLineLimit;
  auto *end = static_cast<char *>(memchr(line, '\n', searched));
  if (end == nullptr) return HYX_NAME_TOO_LONG;
  *end = '\0';

  // Only spaces separate the interpreter's words; tabs belong to them.
  char *args[kMaxScriptArgs + 1];
  size_t n = 0;
  for (char *p = line + 2; n < kMaxInterpreterWords;) {
    while (*p == ' ') ++p;
    if (*p == '\0') break;
    args[n++] = p;
    while (*p != ' ' && *p != '\0') ++p;
    if (*p == '\0') break;
    *p++ = '\0';
  }
  args[n++] = const_cast<char *>(path);
  for (size_t old = 1; argv[0] != nullptr && argv[old] != nullptr; ++old) {
    if (n >= kMaxScriptArgs) return HYX_TOO_MANY_ELEMENTS;
    args[n++] = argv[old];
  }
  args[n] = nullptr;
  return CallForkExec(args[0], args, envp, passThrough, fdMap, fdCount, extraA, extraB, flag, pid);
}

// Two entries of one name: programs built before the two extra values
// existed keep binding to the older one.
HYX_EXPORT HYX_ReturnStatus ForkExec_Current(const char *path, char *const argv[], char *const envp[],
                                             int32_t passThrough, const int32_t *fdMap, uint32_t fdCount,
                                             uint32_t extraA, uint32_t extraB, uint8_t flag, pid_t *pid) {
  if (envp == nullptr) envp = environ;
  HYX_ReturnStatus status;
  if (!IsHyxkernelHost()) {
    status = HYX_NOT_IMPLEMENTED;
  } else if (path == nullptr || argv == nullptr || pid == nullptr || (fdMap == nullptr && fdCount != 0)) {
    status = HYX_BAD_PARAM;
  } else {
    status = CallForkExec(path, argv, envp, passThrough, fdMap, fdCount, extraA, extraB, flag, pid);
    if (status == HYX_NOT_EXEC)
      status = ScriptInterp_Retry(path, argv, envp, passThrough, fdMap, fdCount, extraA, extraB, flag, pid);
  }
  if (status == HYX_OK) return status;
  errno = Status_ToErrno(status);
  return status;
}
HYX_SYMVER(ForkExec_Current, "HyxuserCompat_ForkExec@@NORVEX_HYXUSERCOMPAT_0.2");

HYX_EXPORT HYX_ReturnStatus ForkExec_Original(const char *path, char *const argv[], char *const envp[],
                                              int32_t passThrough, const int32_t *fdMap, uint32_t fdCount,
                                              uint8_t flag, pid_t *pid) {
  return ForkExec_Current(path, argv, envp, passThrough, fdMap, fdCount, FORK_EXEC_NO_EXTRA,
                          FORK_EXEC_NO_EXTRA, flag, pid);
}
HYX_SYMVER(ForkExec_Original, "HyxuserCompat_ForkExec@NORVEX_HYXUSERCOMPAT_0.0");

HYX_EXPORT HYX_ReturnStatus HyxuserCompat_System_SpawnAttrs(const HyxuserSpawnAttr *attr, const char *command,
                                                            int *waitStatus) {
  if (waitStatus == nullptr) return HYX_BAD_PARAM;
  char group[GROUP_ARG_SIZE];
  GroupArg_Build(attr, group);
  if (command == nullptr) {
    *waitStatus = 1;
    return HYX_OK;
  }

  // Whatever has been changed is put back on every way out: SIGINT's
  // action, then SIGQUIT's, then the mask; a failure's errno survives it.
  struct sigaction oldInt, oldQuit;
  sigset_t oldMask;
  bool intChanged = false, quitChanged = false, maskChanged = false;
  guard::ScopeExit restore([&] {
    guard::ErrnoKeeper keepErrno;
    if (intChanged) sigaction(SIGINT, &oldInt, nullptr);
    if (quitChanged) sigaction(SIGQUIT, &oldQuit, nullptr);
    if (maskChanged) sigprocmask(SIG_SETMASK, &oldMask, nullptr);
  });

  struct sigaction ignore {};
  ignore.sa_handler = SIG_IGN;
  sigemptyset(&ignore.sa_mask);
  if (sigaction(SIGINT, &ignore, &oldInt) != 0) return StatusFromErrno(errno);
  intChanged = true;
  if (sigaction(SIGQUIT, &ignore, &oldQuit) != 0) return StatusFromErrno(errno);
  quitChanged = true;
  sigset_t childSignal;
  sigemptyset(&childSignal);
  sigaddset(&childSignal, SIGCHLD);
  if (sigprocmask(SIG_BLOCK, &childSignal, &oldMask) != 0) return StatusFromErrno(errno);
  maskChanged = true;

  pid_t pid = -1;
  HYX_ReturnStatus status = StartShell(group, command, kStdMap, &pid);
  if (status == HYX_OK) status = WaitChild(pid, waitStatus);
  return status;
}

HYX_EXPORT HYX_ReturnStatus HyxuserCompat_System(const char *command, int *waitStatus) {
  return HyxuserCompat_System_SpawnAttrs(nullptr, command, waitStatus);
}

HYX_EXPORT HYX_ReturnStatus HyxuserCompat_POpen_SpawnAttrs(const HyxuserSpawnAttr *attr, const char *command,
                                                           const char *mode, HyxuserPOpenHandle *handle) {
  if (command == nullptr || mode == nullptr || handle == nullptr) return HYX_BAD_PARAM;
  char group[GROUP_ARG_SIZE];
  GroupArg_Build(attr, group);
  if ((mode[0] != 'r' && mode[0] != 'w') || mode[1] != '\0') return HYX_BAD_PARAM;
  bool reading = mode[0] == 'r';

  // Both ends are close-on-exec: the child gets its end through the map.
  // Both are closed on failure; on success only the caller's end survives.
  int ends[2];
  if (pipe2(ends, O_CLOEXEC) != 0) return StatusFromErrno(errno);
  guard::Fd readEnd(ends[0]), writeEnd(ends[1]);
  int32_t fdMap[3] = {kStdMap[0], kStdMap[1], kStdMap[2]};
  if (reading)
    fdMap[1] = writeEnd.get();
  else
    fdMap[0] = readEnd.get();

  pid_t pid = -1;
  HYX_ReturnStatus status = StartShell(group, command, fdMap, &pid);
  if (status != HYX_OK) return status;
  handle->pid = pid;
  handle->fd = reading ? readEnd.release() : writeEnd.release();
  return HYX_OK;
}

HYX_EXPORT HYX_ReturnStatus HyxuserCompat_POpen(const char *command, const char *mode,
                                                HyxuserPOpenHandle *handle) {
  return HyxuserCompat_POpen_SpawnAttrs(nullptr, command, mode, handle);
}

HYX_EXPORT HYX_ReturnStatus HyxuserCompat_PClose(const HyxuserPOpenHandle *handle, int *waitStatus) {
  if (handle == nullptr) return HYX_BAD_PARAM;
  if (close(handle->fd) != 0) return StatusFromErrno(errno);
  return WaitChild(handle->pid, waitStatus);
}

HYX_EXPORT HYX_ReturnStatus HyxuserCompat_Spawn(const char *path, char *const argv[], char *const envp[],
                                                const HyxuserSpawnFileActions *actions,
                                                const HyxuserSpawnAttr *attr, pid_t *pid) {
  return Kernel_DirectCall(KERNEL_CALL_SPAWN, path, argv, envp, actions, attr, pid);
}
