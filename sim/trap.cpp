// How the simulated kernel gets the calls: a seccomp filter turns the
// Hyxkernel's call numbers, uname and the host's device-control requests into
// SIGSYS, and the handler answers them by rewriting the result registers.
#include <linux/audit.h>
#include <linux/filter.h>
#include <linux/seccomp.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/syscall.h>
#include <sys/utsname.h>
#include <ucontext.h>
#include <unistd.h>

#include <cerrno>
#include <cstddef>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "kernel.h"
#include "kit.h"
#include "models.h"
#include "profile.h"
#include "trace.h"

namespace hyxsim {
namespace {

#define ARG_LO(i) (offsetof(struct seccomp_data, args) + (i) * sizeof(uint64_t))
#define ARG_HI(i) (ARG_LO(i) + sizeof(uint32_t))

// The machine's registers, as the gate uses them: where the call's number
// and arguments arrive and where its status and error go back.  A Hyxkernel
// call reports its error in the second result register; anything else
// leaves that register as the caller had it, as Linux does.
#if defined(__x86_64__)
constexpr uint32_t kAuditArch = AUDIT_ARCH_X86_64;
using Register = greg_t;
Register *Registers(ucontext_t *uc) { return uc->uc_mcontext.gregs; }
constexpr int kArgRegs[6] = {REG_RDI, REG_RSI, REG_RDX, REG_R10, REG_R8, REG_R9};
constexpr int kStatusReg = REG_RAX, kErrorReg = REG_RDX;
#elif defined(__aarch64__)
constexpr uint32_t kAuditArch = AUDIT_ARCH_AARCH64;
using Register = unsigned long long;
Register *Registers(ucontext_t *uc) { return uc->uc_mcontext.regs; }
constexpr int kArgRegs[6] = {KERNEL_GATE_AARCH64_ARG0, KERNEL_GATE_AARCH64_ARG1, KERNEL_GATE_AARCH64_ARG2,
                             KERNEL_GATE_AARCH64_ARG3, KERNEL_GATE_AARCH64_ARG4, KERNEL_GATE_AARCH64_ARG5};
constexpr int kStatusReg = KERNEL_GATE_AARCH64_STATUS, kErrorReg = KERNEL_GATE_AARCH64_ERROR;
#else
#error "the simulated kernel knows aarch64 and x86_64"
#endif

// Trap kernel calls, uname, and ioctl with one of the registered device-control
// requests.  The simulator's own uname and ioctl calls carry its tag in the
// high half of their second argument, which the kernel ignores, and pass.
bool InstallFilter() {
  uint32_t requests[16];
  size_t n = DeviceRequests(requests, sizeof requests / sizeof requests[0]);
  struct sock_filter program[40] = {
      BPF_STMT(BPF_LD | BPF_W | BPF_ABS, offsetof(struct seccomp_data, arch)),
      BPF_JUMP(BPF_JMP | BPF_JEQ | BPF_K, kAuditArch, 1, 0),
      BPF_STMT(BPF_RET | BPF_K, SECCOMP_RET_ALLOW),
      BPF_STMT(BPF_LD | BPF_W | BPF_ABS, offsetof(struct seccomp_data, nr)),
      BPF_JUMP(BPF_JMP | BPF_JGE | BPF_K, KERNEL_CALL_FIRST, 0, 1),
      BPF_STMT(BPF_RET | BPF_K, SECCOMP_RET_TRAP),
      BPF_JUMP(BPF_JMP | BPF_JEQ | BPF_K, __NR_uname, 2, 0),
      BPF_JUMP(BPF_JMP | BPF_JEQ | BPF_K, __NR_ioctl, 1, 0),
      BPF_STMT(BPF_RET | BPF_K, SECCOMP_RET_ALLOW),
      BPF_STMT(BPF_LD | BPF_W | BPF_ABS, ARG_HI(1)),
      BPF_JUMP(BPF_JMP | BPF_JEQ | BPF_K, static_cast<uint32_t>(kOwnCallTag >> 32), 0, 1),
      BPF_STMT(BPF_RET | BPF_K, SECCOMP_RET_ALLOW),
      BPF_STMT(BPF_LD | BPF_W | BPF_ABS, offsetof(struct seccomp_data, nr)),
      // uname traps: skip the request checks and the allow below.
      BPF_JUMP(BPF_JMP | BPF_JEQ | BPF_K, __NR_uname, static_cast<uint8_t>(n + 2), 0),
      BPF_STMT(BPF_LD | BPF_W | BPF_ABS, ARG_LO(1)),
  };
  size_t at = 15;
  for (size_t i = 0; i < n; ++i)
    program[at++] = BPF_JUMP(BPF_JMP | BPF_JEQ | BPF_K, requests[i], static_cast<uint8_t>(n - i), 0);
  program[at++] = BPF_STMT(BPF_RET | BPF_K, SECCOMP_RET_ALLOW);
  program[at++] = BPF_STMT(BPF_RET | BPF_K, SECCOMP_RET_TRAP);
  struct sock_fprog fprog = {static_cast<unsigned short>(at), program};
  // Root may install a filter without no_new_privs, which would otherwise
  // stop set-user-ID helpers (PAM's among them) from working.
  if (RawSyscall(__NR_seccomp, SECCOMP_SET_MODE_FILTER, 0, reinterpret_cast<long>(&fprog)) == 0) return true;
  if (prctl(PR_SET_NO_NEW_PRIVS, 1, 0, 0, 0) != 0) return false;
  return RawSyscall(__NR_seccomp, SECCOMP_SET_MODE_FILTER, 0, reinterpret_cast<long>(&fprog)) == 0;
}

thread_local uint64_t trappedSignalMask = 0;

void OnSigsys(int, siginfo_t *info, void *context) {
  auto *uc = static_cast<ucontext_t *>(context);
  memcpy(&trappedSignalMask, &uc->uc_sigmask, sizeof trappedSignalMask);
  Register *regs = Registers(uc);
  int savedErrno = errno;
  Call call{};
  call.number = static_cast<uint64_t>(info->si_syscall);
  for (int i = 0; i < 6; ++i) call.args[i] = static_cast<uint64_t>(regs[kArgRegs[i]]);
  bool kernelCall = call.number >= KERNEL_CALL_FIRST && CurrentProfile().hyxkernel;
  call.error = kernelCall ? 0 : static_cast<uint64_t>(regs[kErrorReg]);
  // Off, the trace costs this one branch.
  if (__builtin_expect(traceOn, false))
    TraceAndDispatch(call, kernelCall);
  else
    Dispatch(call);
  regs[kStatusReg] = static_cast<Register>(call.status);
  regs[kErrorReg] = static_cast<Register>(call.error);
  errno = savedErrno;
}

const char *FindEnv(char **envp, const char *name) {
  size_t length = strlen(name);
  for (; envp && *envp; ++envp)
    if (strncmp(*envp, name, length) == 0 && (*envp)[length] == '=') return *envp + length + 1;
  return nullptr;
}

// Runs before every other initialiser of the process, libc's included, so
// the environment is only reachable through envp.  A filter inherited from
// the parent may already trap uname: the handler goes in first, and the
// simulator's own uname carries its tag.
__attribute__((constructor)) void StartSimulatedKernel(int, char **, char **envp) {
  struct sigaction action {};
  action.sa_sigaction = OnSigsys;
  action.sa_flags = SA_SIGINFO;
  sigemptyset(&action.sa_mask);
  struct utsname realNames {};
  if (sigaction(SIGSYS, &action, nullptr) != 0 ||
      RawSyscall(__NR_uname, reinterpret_cast<long>(&realNames), static_cast<long>(kOwnCallTag)) != 0) {
    fprintf(stderr, "hyxsim: cannot start the simulated kernel: %s\n", strerror(errno));
    _exit(kRefusedStatus);
  }
  LoadProfile(FindEnv(envp, "HYXSIM_PROFILE"), realNames, FindEnv(envp, "HYXSIM_SNAPSHOT"),
              {FindEnv(envp, "HYXSIM_PROFILE_NAME"), FindEnv(envp, "HYXSIM_SNAPSHOT_NAME")});
  RegisterModels();
  LoadSections();
  StartTrace(envp);
  if (!InstallFilter()) {
    fprintf(stderr, "hyxsim: cannot install the simulated kernel: %s\n", strerror(errno));
    _exit(kRefusedStatus);
  }
}

}  // namespace

uint64_t TrappedSignalMask() { return trappedSignalMask; }

}  // namespace hyxsim
