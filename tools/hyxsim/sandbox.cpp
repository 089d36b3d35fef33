#include "sandbox.h"

#include <dirent.h>
#include <fcntl.h>
#include <net/if.h>
#include <poll.h>
#include <sched.h>
#include <signal.h>
#include <sys/ioctl.h>
#include <sys/mount.h>
#include <sys/prctl.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "common/hostPaths.h"
#include "diskDevices.h"
#include "hyxsim/daemons.h"
#include "sandboxPaths.h"

namespace {

constexpr char kOldRoot[] = "/.oldroot";
constexpr const char *kDeviceNodes[] = {"null", "zero", "full", "random", "urandom", "tty"};

// Ends what is left in the sandbox, then removes the device tree from the
// disk when it is there.
void RemoveDeviceTree() {
  // Only the sandbox's first process made the tree, and kill(-1) is safe
  // only from pid 1 of the sandbox's process namespace: from a process of
  // the machine's own namespace it would reach the machine's processes.
  if (!hyxsim::DiskDevicesMade() || getpid() != 1) return;
  // An orphan of the program could still be writing into the tree.
  kill(-1, SIGKILL);
  while (waitpid(-1, nullptr, 0) > 0 || errno == EINTR) {
  }
  hyxsim::RemoveDiskDevices(hostPaths::kHxfsDeviceRoot);
}

// Ends the sandbox's first process, leaving nothing on the disk.
[[noreturn]] void Quit(int code) {
  RemoveDeviceTree();
  _exit(code);
}

// The sandbox cannot be made, for the reason `why`.
[[noreturn]] void Refuse(const std::string &why) {
  fprintf(stderr, "hyxsim: %s\n", why.c_str());
  Quit(126);
}

[[noreturn]] void Fail(const std::string &what) { Refuse(what + ": " + strerror(errno)); }

void Check(int result, const std::string &what) {
  if (result != 0) Fail(what);
}

std::string Old(const std::string &path) { return kOldRoot + path; }

void MakeDirs(const std::string &path, mode_t mode = 0755) {
  size_t at = 0;
  do {
    at = path.find('/', at + 1);
    std::string prefix = path.substr(0, at);
    if (mkdir(prefix.c_str(), mode) != 0 && errno != EEXIST) Fail("mkdir " + prefix);
  } while (at != std::string::npos);
}

void WriteFile(const std::string &path, const std::string &text, mode_t mode = 0644) {
  int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, mode);
  if (fd < 0 || write(fd, text.data(), text.size()) != static_cast<ssize_t>(text.size()))
    Fail("write " + path);
  close(fd);
}

// Binds host path `source` (seen under the old root) at `target`, creating
// the mount point on the sandbox's tmpfs.
void Bind(const std::string &source, const std::string &target, bool readOnly) {
  struct stat st;
  if (stat(Old(source).c_str(), &st) != 0) return;  // nothing to bind
  if (S_ISDIR(st.st_mode)) {
    MakeDirs(target);
  } else {
    MakeDirs(target.substr(0, target.rfind('/')));
    if (access(target.c_str(), F_OK) != 0) WriteFile(target, "");
  }
  Check(mount(Old(source).c_str(), target.c_str(), nullptr, MS_BIND | MS_REC, nullptr), "bind " + source);
  if (readOnly)
    Check(mount(nullptr, target.c_str(), nullptr, MS_BIND | MS_REMOUNT | MS_RDONLY | MS_REC, nullptr),
          "read-only " + target);
}

// A host entry at the same path: symlinks (merged /usr, /etc's own) stay
// symlinks, anything else is bound read-only.
void Mirror(const std::string &path) {
  char link[512];
  ssize_t n = readlink(Old(path).c_str(), link, sizeof link - 1);
  if (n > 0) {
    link[n] = '\0';
    Check(symlink(link, path.c_str()), "symlink " + path);
  } else {
    Bind(path, path, true);
  }
}

// The directory of /etc the host's own configuration lives in ("norvex").
std::string HostEtcDir() {
  std::string dir = hostPaths::kMgmtdConfigDir + strlen("/etc/");
  return dir.substr(0, dir.find('/'));
}

// The account files and PAM services are the sandbox's own (below); the
// host's mgmtd configuration is replaced by the host profile's.
bool MadeBySandbox(const std::string &name) {
  if (name == HostEtcDir()) return true;
  for (const char *own : {"passwd", "group", "shadow", "pam.d"})
    if (name == own) return true;
  return false;
}

// Every entry of the host's /etc, read-only, on a /etc of the sandbox's own,
// so that the host's own configuration can be added beside it.
void MirrorEtc() {
  MakeDirs("/etc");
  DIR *dir = opendir(Old("/etc").c_str());
  if (dir == nullptr) Fail("open /etc");
  while (struct dirent *entry = readdir(dir)) {
    std::string name = entry->d_name;
    if (name == "." || name == ".." || MadeBySandbox(name)) continue;
    Mirror("/etc/" + name);
  }
  closedir(dir);
}

std::string ReadHostFile(const std::string &path) {
  std::string text;
  int fd = open(Old(path).c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return text;
  char chunk[4096];
  ssize_t n;
  while ((n = read(fd, chunk, sizeof chunk)) > 0) text.append(chunk, static_cast<size_t>(n));
  close(fd);
  if (!text.empty() && text.back() != '\n') text += '\n';
  return text;
}

// Test accounts for PAM, all with the password "hyx-secret": one that may
// log in, one whose account expired on day 1, one whose password must be
// changed before anything else (last change on day 0).
constexpr char kSandboxPasswordHash[] =
    "$6$hyxsimsandbox$WvoAWJoE92NKSrbDMJWcgnAhGdfsxaJ6fQ0ys8.b9EtrvRpZwY5khmXbc9Vv4ISckZmBsiWCfOz5CanYXLLvH0";
struct SandboxAccount {
  const char *name;
  int uid;
  const char *shadowTail;  // last change:min:max:warn:inactive:expire:
};
constexpr SandboxAccount kSandboxAccounts[] = {
    {"hyxuser", 4001, "19000:0:99999:7:::"},
    {"hyxexpired", 4002, "19000:0:99999:7::1:"},
    {"hyxchange", 4003, "0:0:99999:7:::"},
};
constexpr int kSandboxGroup = 4000;

// The host's accounts plus the sandbox's, and the host's PAM services (as
// writable copies, so a test can add one) plus "hyxsim": pam_unix alone.
void MakeAccountsAndPam() {
  std::string passwd = ReadHostFile("/etc/passwd"), shadow = ReadHostFile("/etc/shadow");
  std::string group = ReadHostFile("/etc/group") + "hyxusers:x:" + std::to_string(kSandboxGroup) + ":\n";
  for (const SandboxAccount &a : kSandboxAccounts) {
    passwd += std::string(a.name) + ":x:" + std::to_string(a.uid) + ":" + std::to_string(kSandboxGroup) +
              "::/home:/bin/sh\n";
    shadow += std::string(a.name) + ":" + kSandboxPasswordHash + ":" + a.shadowTail + "\n";
  }
  WriteFile("/etc/passwd", passwd);
  WriteFile("/etc/group", group);
  WriteFile("/etc/shadow", shadow, 0600);
  MakeDirs("/etc/pam.d");
  if (DIR *dir = opendir(Old("/etc/pam.d").c_str())) {
    while (struct dirent *entry = readdir(dir)) {
      std::string name = entry->d_name;
      if (name != "." && name != "..") WriteFile("/etc/pam.d/" + name, ReadHostFile("/etc/pam.d/" + name));
    }
    closedir(dir);
  }
  WriteFile("/etc/pam.d/hyxsim",
            "auth     required pam_unix.so\n"
            "account  required pam_unix.so\n"
            "password required pam_unix.so\n"
            "session  required pam_unix.so\n");
}

// The dynamic loader and the libraries the host keeps at fixed paths.
void MakeLib64() {
  MakeDirs("/lib64");
  const char *multiarch =
#if defined(__x86_64__)
      "x86_64-linux-gnu";
#else
      "aarch64-linux-gnu";
#endif
  if (access(Old("/lib64/ld-linux-x86-64.so.2").c_str(), F_OK) == 0)
    Check(symlink("/usr/lib64/ld-linux-x86-64.so.2", "/lib64/ld-linux-x86-64.so.2"), "symlink loader");
  for (const char *path : {hostPaths::kLibXml2, hostPaths::kLibPam}) {
    const char *name = strrchr(path, '/') + 1;
    std::string real = std::string("/usr/lib/") + multiarch + "/" + name;
    Check(symlink(real.c_str(), path), std::string("symlink ") + path);
  }
}

void MakeDev() {
  MakeDirs("/dev");
  Check(mount("tmpfs", "/dev", "tmpfs", MS_NOSUID, "mode=0755"), "mount /dev");
  for (const char *node : kDeviceNodes) Bind(std::string("/dev/") + node, std::string("/dev/") + node, false);
  MakeDirs("/dev/pts");
  Check(mount("devpts", "/dev/pts", "devpts", MS_NOSUID | MS_NOEXEC, "newinstance,ptmxmode=0666,mode=0620"),
        "mount /dev/pts");
  Check(symlink("pts/ptmx", "/dev/ptmx"), "symlink /dev/ptmx");
  MakeDirs("/dev/shm");
  Check(mount("tmpfs", "/dev/shm", "tmpfs", MS_NOSUID | MS_NODEV, "mode=1777"), "mount /dev/shm");
  Check(symlink("/proc/self/fd", "/dev/fd"), "symlink /dev/fd");
  Check(symlink("/proc/self/fd/0", "/dev/stdin"), "symlink /dev/stdin");
  Check(symlink("/proc/self/fd/1", "/dev/stdout"), "symlink /dev/stdout");
  Check(symlink("/proc/self/fd/2", "/dev/stderr"), "symlink /dev/stderr");
  std::string nvd = hostPaths::kNvdManagementDevice;
  MakeDirs(nvd.substr(0, nvd.rfind('/')));
  WriteFile(nvd, "", 0600);
}

// The fixed paths of a Hyxkernel host.
void MakeHostPaths(const SandboxSpec &sandbox) {
  MakeDirs(hostPaths::kMgmtdConfigDir);
  if (sandbox.mockup) WriteFile(hostPaths::kMockupMarker, "mock-up host\n");
  // /var/run is a link to /run, as on the host.
  MakeDirs(std::string("/run") + (hostPaths::kRunDir + strlen("/var/run")));
  MakeDirs("/run/hyxsim");
  WriteFile(hyxsim::kSandboxProfile, sandbox.profileText);
  if (!sandbox.snapshot.empty()) Bind(sandbox.snapshot, hyxsim::kSandboxSnapshot, true);
  MakeDirs(hyxsim::kSandboxStateDir);
  chmod(hyxsim::kSandboxStateDir, 01777);
  MakeDirs(hostPaths::kSnmpSpoolDir);
  MakeDirs("/var/log");
  MakeDirs("/var/tmp");
  chmod("/var/tmp", 01777);
  Check(symlink("/run", "/var/run"), "symlink /var/run");
  for (const char *dir : hostPaths::kHxfsDeviceDirs) MakeDirs(dir);
  // Each volume's directory and its device image, sparse: the descriptor
  // and the heartbeat region are the only bytes written.
  MakeDirs(hostPaths::kHxfsVolumeRoot);
  for (const hyxsim::VolumeSpec &volume : sandbox.volumes) {
    std::string error;
    if (!hyxsim::MakeVolume(volume, error)) Refuse("volume " + volume.name + ": " + error);
  }
  MakeDirs("/tmp");
  chmod("/tmp", 01777);
  MakeDirs("/root", 0700);
  MakeDirs("/home");
}

// Whether one of mounts shows path (at or above it).
bool Shows(const std::vector<SandboxMount> &mounts, const std::string &path) {
  for (const SandboxMount &mount : mounts)
    if (path == mount.path || mount.path == "/" ||
        (path.compare(0, mount.path.size(), mount.path) == 0 && path[mount.path.size()] == '/'))
      return true;
  return false;
}

// The HXFS device tree stays on the sandbox's tmpfs when that takes direct
// I/O, as the library opens devices; else, or when the caller asks for it,
// it goes on the disk.
void PlaceDeviceTree(const SandboxSpec &sandbox) {
  bool takes = false;
  std::string error;
  // The working directory is the sandbox's root, its tmpfs.
  if (!sandbox.devicesOnDisk && !hyxsim::TakesDirectIo(AT_FDCWD, takes, error)) Refuse(error);
  if (takes) return;
  MakeDirs(hostPaths::kHxfsDeviceRoot);
  error = hyxsim::MakeDiskDevices(sandbox.diskParent, Old(sandbox.diskParent), hostPaths::kHxfsDeviceRoot);
  if (!error.empty()) Refuse(error);
}

void BuildTree(const SandboxSpec &sandbox) {
  Bind("/usr", "/usr", true);
  for (const char *name : {"bin", "sbin", "lib", "lib32", "libx32"})
    if (access(Old(std::string("/") + name).c_str(), F_OK) == 0) Mirror(std::string("/") + name);
  MakeLib64();
  MirrorEtc();
  MakeAccountsAndPam();
  MakeDirs("/proc");
  Check(mount("proc", "/proc", "proc", MS_NOSUID | MS_NODEV | MS_NOEXEC, nullptr), "mount /proc");
  Bind("/sys", "/sys", true);
  MakeDev();
  MakeHostPaths(sandbox);
  // The caller's directory, read-only, unless a mount shows it already or
  // it is one of the sandbox's own (its /tmp, its /etc), where the program
  // starts instead.
  std::vector<SandboxMount> mounts = sandbox.mounts;
  const std::string &cwd = sandbox.workingDirectory;
  if (!cwd.empty() && !Shows(mounts, cwd) && access(cwd.c_str(), F_OK) != 0) mounts.push_back({cwd, false});
  // Parents before children, so that nested binds stack the right way.
  std::stable_sort(mounts.begin(), mounts.end(), [](const SandboxMount &a, const SandboxMount &b) {
    return a.path.size() < b.path.size();
  });
  for (const SandboxMount &mount : mounts) Bind(mount.path, mount.path, !mount.writable);
}

void BringUpLoopback() {
  int fd = socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
  if (fd < 0) Fail("socket");
  struct ifreq request {};
  snprintf(request.ifr_name, sizeof request.ifr_name, "lo");
  Check(ioctl(fd, SIOCGIFFLAGS, &request), "read loopback flags");
  request.ifr_flags |= IFF_UP | IFF_RUNNING;
  Check(ioctl(fd, SIOCSIFFLAGS, &request), "bring loopback up");
  close(fd);
}

// The signals a caller ends or interrupts a program with: hyxsim hands each
// on, so that the sandbox ends the way its program does.
constexpr int kForwarded[] = {SIGTERM, SIGINT, SIGHUP, SIGQUIT, SIGUSR1, SIGUSR2};
volatile sig_atomic_t forwardTo = 0;

void Forward(int signal) {
  if (forwardTo > 0) kill(forwardTo, signal);
}

// Blocks the forwarded signals until ForwardTo knows where they go; those
// that arrive meanwhile wait.
void BlockForwarded(sigset_t &old) {
  sigset_t set;
  sigemptyset(&set);
  for (int signal : kForwarded) sigaddset(&set, signal);
  sigprocmask(SIG_BLOCK, &set, &old);
}

void ForwardTo(pid_t pid, const sigset_t &old) {
  forwardTo = pid;
  struct sigaction action {};
  action.sa_handler = Forward;
  action.sa_flags = SA_RESTART;
  sigemptyset(&action.sa_mask);
  for (int signal : kForwarded) sigaction(signal, &action, nullptr);
  sigprocmask(SIG_SETMASK, &old, nullptr);
}

// In a child hyxsim starts: killed when the process that started it ends
// (also when it ended before the request was made).
void DieWithParent(pid_t parent) {
  prctl(PR_SET_PDEATHSIG, SIGKILL);
  if (getppid() != parent) _exit(126);
}

// The same for the sandbox's first process, whose parent lies outside its
// process namespace: that parent holds the other end of `lifeline` open
// while it lives.
void DieWithCaller(int lifeline) {
  prctl(PR_SET_PDEATHSIG, SIGKILL);
  struct pollfd end = {lifeline, POLLIN, 0};
  if (poll(&end, 1, 0) != 0) _exit(126);
  close(lifeline);
}

// Before a child runs a program: the signals as the caller left them.
void RestoreSignals(const sigset_t &old) {
  for (int signal : kForwarded) ::signal(signal, SIG_DFL);
  sigprocmask(SIG_SETMASK, &old, nullptr);
}

// Starts one daemon inside the sandbox and waits until it listens.
pid_t StartDaemon(const std::string &path, const sigset_t &mask) {
  pid_t parent = getpid();
  int ready[2];
  Check(pipe2(ready, O_CLOEXEC), "pipe");
  pid_t pid = fork();
  if (pid < 0) Fail("fork " + path);
  if (pid == 0) {
    DieWithParent(parent);
    RestoreSignals(mask);
    close(ready[0]);
    int fd = fcntl(ready[1], F_DUPFD, 3);  // a copy that survives exec
    std::string fdText = std::to_string(fd);
    execl(path.c_str(), path.c_str(), "--ready-fd", fdText.c_str(), static_cast<char *>(nullptr));
    fprintf(stderr, "hyxsim: cannot run %s: %s\n", path.c_str(), strerror(errno));
    _exit(127);
  }
  close(ready[1]);
  char byte;
  ssize_t n;
  do n = read(ready[0], &byte, 1);
  while (n < 0 && errno == EINTR);
  close(ready[0]);
  if (n != 1) {
    errno = ECHILD;
    Fail("daemon " + path + " did not start");
  }
  return pid;
}

// Asks each daemon to finish what it has received, and waits for it.
void StopDaemons(const std::vector<pid_t> &daemons) {
  for (pid_t pid : daemons) kill(pid, SIGTERM);
  for (pid_t pid : daemons)
    while (waitpid(pid, nullptr, 0) < 0 && errno == EINTR) {
    }
}

[[noreturn]] void Exec(const SandboxSpec &sandbox) {
  // After the caller's own preloads: a sanitizer runtime must stay first.
  const char *preload = getenv("LD_PRELOAD");
  std::string preloads = (preload && *preload ? std::string(preload) + ":" : "") + sandbox.simLibrary;
  setenv("LD_PRELOAD", preloads.c_str(), 1);
  setenv("HYXSIM_PROFILE", hyxsim::kSandboxProfile, 1);
  for (const std::string &entry : sandbox.environment) {
    size_t at = entry.find('=');
    setenv(entry.substr(0, at).c_str(), entry.substr(at + 1).c_str(), 1);
  }
  std::vector<char *> argv;
  for (const std::string &arg : sandbox.command) argv.push_back(const_cast<char *>(arg.c_str()));
  argv.push_back(nullptr);
  execv(sandbox.executable.c_str(), argv.data());
  fprintf(stderr, "hyxsim: cannot run %s: %s\n", sandbox.executable.c_str(), strerror(errno));
  _exit(errno == ENOENT ? 127 : 126);
}

// Copies the daemons' records into the directory the caller named, open
// since before the sandbox was made.
void CopyRecords(int directory) {
  for (const char *path : {HYXSIM_HOBD_RECORDS, HYXSIM_SNMP_AGENT_RECORDS, HYXSIM_MGMTD_RECORDS}) {
    int in = open(path, O_RDONLY | O_CLOEXEC);
    if (in < 0) continue;
    const char *name = strrchr(path, '/') + 1;
    int out = openat(directory, name, O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC | O_NOFOLLOW, 0644);
    if (out < 0) {
      fprintf(stderr, "hyxsim: --records: %s: %s\n", name, strerror(errno));
      close(in);
      continue;
    }
    char chunk[65536];
    ssize_t n;
    while ((n = read(in, chunk, sizeof chunk)) > 0)
      if (write(out, chunk, static_cast<size_t>(n)) != n) {
        fprintf(stderr, "hyxsim: --records: %s: %s\n", name, strerror(errno));
        break;
      }
    close(in);
    close(out);
  }
}

// The sandbox's first process: the init of its own process namespace, so
// that whatever runs in the sandbox ends when this process does.  It hands
// the caller's signals on to the program, stops the daemons once the
// program is done (the program never sees them as its children), and
// reports the program's wait status on `report`: an init cannot end by
// its own signal.
[[noreturn]] void RunChild(const SandboxSpec &sandbox, int lifeline, const sigset_t &mask, int records,
                           int report) {
  // The forwarded signals stay blocked until the program runs: an init
  // without a handler would drop them.
  DieWithCaller(lifeline);
  Check(unshare(CLONE_NEWNS | CLONE_NEWNET), "unshare");
  Check(mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr), "make mounts private");
  // The new root is a tmpfs mounted over /tmp in this namespace only; the
  // host's /tmp stays reachable under the old root while the tree is built.
  Check(mount("hyxsim", "/tmp", "tmpfs", MS_NOSUID | MS_NODEV, "mode=0755"), "mount the root tmpfs");
  Check(mkdir("/tmp/.oldroot", 0700), "mkdir old root");
  Check(static_cast<int>(syscall(SYS_pivot_root, "/tmp", "/tmp/.oldroot")), "pivot_root");
  Check(chdir("/"), "chdir /");
  PlaceDeviceTree(sandbox);
  BuildTree(sandbox);
  Check(umount2(kOldRoot, MNT_DETACH), "detach the host root");
  rmdir(kOldRoot);
  BringUpLoopback();
  if (sandbox.workingDirectory.empty() || chdir(sandbox.workingDirectory.c_str()) != 0)
    Check(chdir("/"), "chdir /");

  std::vector<pid_t> daemons;
  for (const std::string &path : sandbox.daemons) daemons.push_back(StartDaemon(path, mask));
  pid_t self = getpid();
  pid_t program = fork();
  if (program < 0) Fail("fork");
  if (program == 0) {
    DieWithParent(self);
    RestoreSignals(mask);
    Exec(sandbox);
  }
  ForwardTo(program, mask);
  // Orphans of the program come here too; each is collected as it ends.
  int status = 0;
  for (;;) {
    int any;
    pid_t ended = waitpid(-1, &any, 0);
    if (ended == program) {
      status = any;
      break;
    }
    if (ended < 0 && errno != EINTR) Fail("waitpid");
    daemons.erase(std::remove(daemons.begin(), daemons.end(), ended), daemons.end());
  }
  forwardTo = 0;
  StopDaemons(daemons);
  if (records >= 0) CopyRecords(records);
  RemoveDeviceTree();
  if (write(report, &status, sizeof status) != sizeof status) _exit(126);
  _exit(0);
}

}  // namespace

void ExitLike(int status) {
  if (WIFSIGNALED(status)) {
    int signal = WTERMSIG(status);
    struct rlimit noCore = {0, 0};
    setrlimit(RLIMIT_CORE, &noCore);
    ::signal(signal, SIG_DFL);
    sigset_t set;
    sigemptyset(&set);
    sigaddset(&set, signal);
    sigprocmask(SIG_UNBLOCK, &set, nullptr);
    raise(signal);
    _exit(128 + signal);
  }
  _exit(WIFEXITED(status) ? WEXITSTATUS(status) : 1);
}

void AddReadOnly(SandboxSpec &sandbox, const std::string &path) {
  // Compared and bound by its real path: "PREFIX/bin/../libexec" is not
  // below PREFIX/bin.
  char resolved[PATH_MAX];
  std::string real = realpath(path.c_str(), resolved) ? resolved : path;
  if (!Shows(sandbox.mounts, real)) sandbox.mounts.push_back({real, false});
}

int RunInSandbox(const SandboxSpec &sandbox) {
  int records = -1;
  if (!sandbox.recordsDirectory.empty()) {
    records = open(sandbox.recordsDirectory.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (records < 0) {
      fprintf(stderr, "hyxsim: --records %s: %s\n", sandbox.recordsDirectory.c_str(), strerror(errno));
      return -1;
    }
  }
  int report[2], lifeline[2];
  if (pipe2(report, O_CLOEXEC) != 0 || pipe2(lifeline, O_CLOEXEC) != 0 || unshare(CLONE_NEWPID) != 0) {
    perror("hyxsim: sandbox");
    return -1;
  }
  sigset_t old;
  BlockForwarded(old);
  pid_t child = fork();
  if (child < 0) {
    perror("hyxsim: fork");
    return -1;
  }
  if (child == 0) {
    close(report[0]);
    close(lifeline[1]);
    RunChild(sandbox, lifeline[0], old, records, report[1]);
  }
  ForwardTo(child, old);
  close(report[1]);
  close(lifeline[0]);  // the write end stays open while hyxsim lives
  if (records >= 0) close(records);
  int status = 0;
  while (waitpid(child, &status, 0) < 0) {
    if (errno != EINTR) {
      perror("hyxsim: waitpid");
      return -1;
    }
  }
  // The program's own status when the sandbox got to report it; otherwise
  // the sandbox ended first (it could not be made, or it was killed).
  int program;
  if (read(report[0], &program, sizeof program) == sizeof program) status = program;
  close(report[0]);
  return status;
}
