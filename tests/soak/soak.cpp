// The soak: several long-running processes, each with several threads,
// call every family of the shipped library for a given time on a simulated
// host with its daemons, while the daemons are stopped and started again,
// stop reading, close connections mid-stream, the callers are stormed with
// signals, allocations fail, the trap spool turns read-only and the
// system-information snapshot is swapped.  Then the ledger: every
// observation, trap and event carries a sequence token; each one the
// library reported as sent must be in its daemon's record exactly once, and
// each one missing must have been reported as a failure to its caller.
//
//   hyx_soak [--seconds N] [--processes P] [--threads T]   (inside hyxsim --daemons)
//
// One process runs the faults and the ledger; the callers are copies of
// this program (--worker), and the spawned children are copies too
// (--sender: a fresh process, so its throttles are open: one event, one
// trap and one observation each).  Everything is written under /tmp/soak,
// the sandbox's own.
#include <dirent.h>
#include <fcntl.h>
#include <poll.h>
#include <pthread.h>
#include <signal.h>
#include <sys/mount.h>
#include <sys/prctl.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cinttypes>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <map>
#include <mutex>
#include <nlohmann/json.hpp>
#include <random>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "alloc_fail.h"
#include "common/hostPaths.h"
#include "daemon_records.h"
#include "descriptors.h"
#include "hyxsim/daemons.h"
#include "hyxuser/hyxuser.h"

namespace {

constexpr char kDir[] = "/tmp/soak";
constexpr char kLedgerDir[] = "/tmp/soak/ledger";
constexpr char kSnapshot[] = "/tmp/soak/host.snapshot";
constexpr char kVolumePath[] = "/hxfs/volumes/datastore1";
constexpr char kTrapOid[] = "1.3.6.1.4.1.1234.1.0.7";
constexpr char kBindingOid[] = "1.3.6.1.2.1.1.5.0";

std::string self;  // this program, for the children

double Now() {
  struct timespec t;
  clock_gettime(CLOCK_MONOTONIC, &t);
  return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_nsec) / 1e9;
}

void Pause(double seconds) {
  struct timespec t = {static_cast<time_t>(seconds),
                       static_cast<long>((seconds - static_cast<time_t>(seconds)) * 1e9)};
  while (nanosleep(&t, &t) != 0 && errno == EINTR) {
  }
}

std::string StatusName(HYX_ReturnStatus status) {
  char text[200], both[256];
  int length = 0;
  HyxuserStatus_CodeToString(status, text, sizeof text, &length);
  snprintf(both, sizeof both, "0x%x (%s)", static_cast<unsigned>(status), text);
  return both;
}

// ---- the ledger a caller keeps --------------------------------------------

// One file per process; one line per message: family, token, status code.
class Ledger {
 public:
  void Open() {
    std::string path = std::string(kLedgerDir) + "/" + std::to_string(getpid());
    fd_ = open(path.c_str(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0644);
  }
  void Add(const char *family, const std::string &token, HYX_ReturnStatus status) {
    char line[256];
    int n = snprintf(line, sizeof line, "%s %s %u\n", family, token.c_str(), static_cast<unsigned>(status));
    if (fd_ >= 0 && write(fd_, line, static_cast<size_t>(n)) != n) perror("ledger");
  }

 private:
  int fd_ = -1;
};
Ledger ledger;

// ---- the calls, one family each ---------------------------------------------

HYX_ReturnStatus Observe(const std::string &token) {
  HyxuserHobContext context;
  memset(&context, 0, sizeof context);
  context.severity = HYXUSER_HOB_WARNING;
  strcpy(context.component, "soak");
  strcpy(context.kb, "KB-soak");
  HYX_ReturnStatus status = HyxuserHob_Notify(&context, "seq=%s;", token.c_str());
  ledger.Add("observation", token, status);
  return status;
}

HYX_ReturnStatus Trap(const std::string &token) {
  std::string value = "seq=" + token + ";";
  HyxuserSnmpVarBind binding = {kBindingOid, HYXUSER_SNMP_OCTET_STRING, value.c_str()};
  HYX_ReturnStatus status = HyxuserSnmp_SendTrap(kTrapOid, &binding, 1);
  ledger.Add("trap", token, status);
  return status;
}

HYX_ReturnStatus Event(const std::string &token) {
  HyxuserLumEventArg args[] = {{"seq", token.c_str()}, {"from", "soak"}};
  HYX_ReturnStatus status = HyxuserLumEvent_Send("hyx.Soak", 1, args, 2);
  ledger.Add("event", token, status);
  return status;
}

bool InfoGets() {
  HyxuserSystemVersion version;
  uint64_t uptime = 0;
  HyxuserPnicInfo nics[16];
  HyxuserTcpipInterface interfaces[16];
  uint32_t count = 0;
  bool ok = HyxuserVersion_GetSystemVersion(&version) == HYX_OK;
  ok = HyxuserUptime_GetUptime(&uptime) == HYX_OK && ok;
  ok = HyxuserNet_GetPnics(nics, 16, &count) == HYX_OK && count > 0 && ok;
  ok = HyxuserTcpip_GetInterfaces(interfaces, 16, &count) == HYX_OK && ok;
  return ok;
}

// A variable of this thread's own: written, read back and compared, and
// every so often removed.
bool Uefi(const std::string &name, uint64_t round) {
  // A snapshot answers reads only: a write is refused, as documented.
  if (getenv("HYXUSER_HSI_SNAPSHOT") != nullptr)
    return HyxuserUefi_SetVariable(name.c_str(), 7, 1, "x") == HYX_NOT_SUPPORTED;
  char data[64];
  int n = snprintf(data, sizeof data, "round %" PRIu64, round);
  if (HyxuserUefi_SetVariable(name.c_str(), 7, static_cast<uint64_t>(n), data) != HYX_OK) return false;
  uint32_t attributes = 0;
  uint64_t length = 0;
  void *read = nullptr;
  if (HyxuserUefi_GetVariable(name.c_str(), &attributes, &length, &read) != HYX_OK) return false;
  bool same = attributes == 7 && length == static_cast<uint64_t>(n) && memcmp(read, data, length) == 0;
  free(read);
  char **names = nullptr;
  uint32_t count = 0;
  if (HyxuserUefi_GetVariableList(&names, &count) != HYX_OK) return false;
  for (uint32_t i = 0; i < count; ++i) free(names[i]);
  free(names);
  if (round % 4 == 3 && HyxuserUefi_RemoveVariable(name.c_str()) != HYX_OK) return false;
  return same;
}

bool Volume() {
  HxfsHostIter *iter = nullptr;
  if (HyxuserHXFS_ActiveHostIterBegin(kVolumePath, &iter) != HYX_OK) return false;
  HxfsHostInfo *info = nullptr;
  int hosts = 0;
  while (HyxuserHXFS_ActiveHostIterNext(iter, &info) == HYX_OK) {
    uint64_t stamp;
    if (HyxuserHXFS_GetHostInfoTimeStamp(info, &stamp) == HYX_OK) ++hosts;
  }
  HyxuserHXFS_ActiveHostIterEnd(&iter);
  return hosts > 0 && iter == nullptr;
}

// The sender's arguments: its token prefix; with "snap" it reads the
// system-information tree from the snapshot.
std::vector<std::string> SenderArgs(const std::string &token, bool snapshot) {
  return {self, "--sender", token, snapshot ? "snap" : "live"};
}

bool WaitChild(pid_t pid) {
  int status = 0;
  while (waitpid(pid, &status, 0) < 0)
    if (errno != EINTR) return false;
  return WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

bool SpawnForkExec(const std::string &token, bool snapshot) {
  std::vector<std::string> args = SenderArgs(token, snapshot);
  std::vector<char *> argv;
  for (std::string &a : args) argv.push_back(a.data());
  argv.push_back(nullptr);
  std::vector<std::string> env;
  for (char **e = environ; *e; ++e)
    if (strncmp(*e, "HYXUSER_HSI_SNAPSHOT=", 21) != 0) env.push_back(*e);
  if (snapshot) env.push_back(std::string("HYXUSER_HSI_SNAPSHOT=") + kSnapshot);
  std::vector<char *> envp;
  for (std::string &e : env) envp.push_back(e.data());
  envp.push_back(nullptr);
  int32_t map[] = {0, 1, 2};
  pid_t pid = -1;
  HYX_ReturnStatus status = HyxuserCompat_ForkExec(self.c_str(), argv.data(), envp.data(), -1, map, 3,
                                                   0xFFFFFFFF, 0xFFFFFFFF, 0, &pid);
  if (status != HYX_OK) return false;
  return WaitChild(pid);
}

std::string Command(const std::string &token, bool snapshot) {
  std::string command = snapshot ? std::string("HYXUSER_HSI_SNAPSHOT=") + kSnapshot + " " : "";
  for (const std::string &a : SenderArgs(token, snapshot)) command += "'" + a + "' ";
  return command;
}

bool SpawnSystem(const std::string &token, bool snapshot) {
  int wait = 0;
  if (HyxuserCompat_System(Command(token, snapshot).c_str(), &wait) != HYX_OK) return false;
  return WIFEXITED(wait) && WEXITSTATUS(wait) == 0;
}

bool SpawnPOpen(const std::string &token, bool snapshot) {
  HyxuserPOpenHandle handle;
  if (HyxuserCompat_POpen((Command(token, snapshot) + "--print").c_str(), "r", &handle) != HYX_OK)
    return false;
  std::string out;
  char chunk[256];
  for (ssize_t n; (n = read(handle.fd, chunk, sizeof chunk)) != 0;) {
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) break;
    out.append(chunk, static_cast<size_t>(n));
  }
  int wait = 0;
  HYX_ReturnStatus closed;
  while ((closed = HyxuserCompat_PClose(&handle, &wait)) != HYX_OK && errno == EINTR) {
  }
  return closed == HYX_OK && WIFEXITED(wait) && WEXITSTATUS(wait) == 0 && out == "sent\n";
}

// ---- a sender: one fresh process ---------------------------------------------

int Sender(const std::string &token, bool snapshot, bool print) {
  ledger.Open();
  Event(token + ".e");
  Trap(token + ".t");
  Observe(token + ".o");
  // A reader of the snapshot must see the tree the snapshot recorded,
  // whichever copy of the file it opened.
  HyxuserPnicInfo nics[16];
  uint32_t count = 0;
  HYX_ReturnStatus status = HyxuserNet_GetPnics(nics, 16, &count);
  if (status != HYX_OK || count == 0) {
    fprintf(stderr, "soak: sender %s (%s): NICs: %s, %u\n", token.c_str(), snapshot ? "snapshot" : "live",
            StatusName(status).c_str(), count);
    return 1;
  }
  if (print) printf("sent\n");
  return 0;
}

// ---- a worker: a long-running caller ------------------------------------------

enum Family { kInfo, kUefi, kObservation, kTrap, kEvent, kForkExec, kSystem, kPOpen, kVolume, kFamilies };
const char *const kFamilyNames[kFamilies] = {"hsi-get-list", "uefi",   "observation", "trap",  "event",
                                             "forkexec",     "system", "popen",       "volume"};
// How long one operation of each family may take: the documented bounds
// (a daemon's connect and each send 5 s, each event request 30 s; the
// spawned sender does an event, a trap and an observation) with a margin;
// kernel calls answer at once.  SOAK_BOUND_SCALE stretches them for slow
// builds (ThreadSanitizer).
const double kBounds[kFamilies] = {10, 10, 20, 20, 75, 150, 150, 150, 10};
double boundScale = 1;

struct Slot {
  std::atomic<double> started{0};
  std::atomic<int> family{-1};
};

struct WorkerState {
  int index = 0;
  int threads = 0;
  double deadline = 0;
  std::vector<Slot> slots;
  std::atomic<uint64_t> ops[kFamilies] = {};
  std::atomic<uint64_t> failures[kFamilies] = {};
  std::atomic<bool> stuck{false};
  std::atomic<uint64_t> allocArmed{0};
  std::atomic<bool> done{false};
};
WorkerState *worker;

void PrintStacks(pid_t pid, const char *why) {
  fprintf(stderr, "soak: process %d: %s; its stacks:\n", pid, why);
  fflush(stderr);
  pid_t child = fork();
  if (child == 0) {
    std::string p = std::to_string(pid);
    int devnull = open("/dev/null", O_RDONLY);
    dup2(devnull, 0);
    dup2(2, 1);
    execlp("gdb", "gdb", "-batch", "-nx", "-p", p.c_str(), "-ex", "thread apply all bt",
           static_cast<char *>(nullptr));
    _exit(127);
  }
  if (child > 0) WaitChild(child);
}

// Fails the run when an operation outlives its bound, with the stacks.
void Watchdog() {
  while (!worker->done) {
    Pause(0.5);
    double now = Now();
    for (int t = 0; t < worker->threads; ++t) {
      Slot &slot = worker->slots[t];
      double started = slot.started;
      int family = slot.family;
      if (family < 0 || started == 0 || now - started <= kBounds[family] * boundScale) continue;
      if (worker->stuck.exchange(true)) continue;
      char why[160];
      snprintf(why, sizeof why, "thread %d: a %s call has run %.1f s (bound %.0f s)", t, kFamilyNames[family],
               now - started, kBounds[family] * boundScale);
      PrintStacks(getpid(), why);
    }
  }
}

// Makes an allocation of the library's fail at a random point now and then.
void AllocationFaults(unsigned seed) {
  std::mt19937 random(seed);
  while (!worker->done) {
    Pause(0.05 + (random() % 400) / 1000.0);
    if (getenv("SOAK_NO_ALLOC_FAULTS")) continue;
    AllocFail_Arm(1 + random() % 40);
    worker->allocArmed++;
  }
  AllocFail_Arm(0);
}

bool RunOne(Family family, const std::string &token, const std::string &uefiName, uint64_t round,
            bool snapshot) {
  switch (family) {
    case kInfo:
      return InfoGets();
    case kUefi:
      return Uefi(uefiName, round);
    case kObservation:
      return Observe(token) == HYX_OK;
    case kTrap:
      return Trap(token) == HYX_OK;
    case kEvent:
      return Event(token) == HYX_OK;
    case kForkExec:
      return SpawnForkExec(token, snapshot);
    case kSystem:
      return SpawnSystem(token, snapshot);
    case kPOpen:
      return SpawnPOpen(token, snapshot);
    case kVolume:
      return Volume();
    default:
      return false;
  }
}

void Caller(int t) {
  std::mt19937 random(static_cast<unsigned>(getpid() * 100 + t));
  // Weights: the kernel calls and observations often, spawns now and then.
  const int weights[kFamilies] = {30, 15, 30, 6, 3, 2, 2, 2, 10};
  int total = 0;
  for (int w : weights) total += w;
  // SOAK_ONLY=FAMILY[,FAMILY] narrows the mix, to find which one misbehaves.
  const char *only = getenv("SOAK_ONLY");
  std::string uefiName = "SoakP" + std::to_string(worker->index) + "T" + std::to_string(t) +
                         "-8be4df61-93ca-11d2-aa0d-00e098032b8c";
  Slot &slot = worker->slots[t];
  for (uint64_t round = 0; Now() < worker->deadline; ++round) {
    int pick = static_cast<int>(random() % total), f = 0;
    while (pick >= weights[f]) pick -= weights[f++];
    if (only != nullptr && !strstr(only, kFamilyNames[f])) continue;
    auto family = static_cast<Family>(f);
    std::string token =
        "w" + std::to_string(worker->index) + "." + std::to_string(t) + "." + std::to_string(round);
    slot.family = f;
    slot.started = Now();
    bool ok = RunOne(family, token, uefiName, round, random() % 3 == 0);
    slot.started = 0;
    worker->ops[f]++;
    if (!ok) worker->failures[f]++;
  }
}

long ResidentKiB() {
  std::ifstream statm("/proc/self/statm");
  long size = 0, resident = 0;
  statm >> size >> resident;
  return resident * (sysconf(_SC_PAGESIZE) / 1024);
}

int Worker(int index, int threads, double seconds) {
  prctl(PR_SET_PTRACER, PR_SET_PTRACER_ANY);  // the watchdog's debugger may attach
  ledger.Open();
  // Interrupted calls are part of the test: no handler restarts them.
  struct sigaction storm {};
  storm.sa_handler = [](int) {};
  sigemptyset(&storm.sa_mask);
  sigaction(SIGALRM, &storm, nullptr);
  static WorkerState state;
  worker = &state;
  state.index = index;
  state.threads = threads;
  state.slots = std::vector<Slot>(static_cast<size_t>(threads));
  // One of each family first, alone: what the library sets up for good
  // (its tables, the event session) is set up before the counts are taken.
  std::string warm = "w" + std::to_string(index) + ".warm";
  for (int f = 0; f < kFamilies; ++f)
    RunOne(static_cast<Family>(f), warm + std::to_string(f),
           "SoakWarm" + std::to_string(index) + "-8be4df61-93ca-11d2-aa0d-00e098032b8c", 3, false);
  std::set<std::string> descriptorsBefore = OpenDescriptors();
  int64_t allocationsBefore = AllocFail_Outstanding();

  state.deadline = Now() + seconds;
  std::thread watchdog(Watchdog);
  std::thread faults(AllocationFaults, static_cast<unsigned>(getpid()));
  std::vector<std::thread> callers;
  for (int t = 0; t < threads; ++t) callers.emplace_back(Caller, t);
  // The resident size once the load is running, then at its end.
  Pause(std::min(seconds / 4, 20.0));
  long residentWarm = ResidentKiB();
  for (std::thread &c : callers) c.join();
  state.done = true;
  faults.join();
  watchdog.join();
  AllocFail_Arm(0);
  long residentEnd = ResidentKiB();
  std::set<std::string> descriptorsAfter = OpenDescriptors();
  int64_t allocationsAfter = AllocFail_Outstanding();

  nlohmann::json result = {{"index", index},
                           {"pid", getpid()},
                           {"seconds", seconds},
                           {"descriptorsBefore", descriptorsBefore.size()},
                           {"descriptorsAfter", descriptorsAfter.size()},
                           {"allocationsBefore", allocationsBefore},
                           {"allocationsAfter", allocationsAfter},
                           {"residentWarmKiB", residentWarm},
                           {"residentEndKiB", residentEnd},
                           {"stuck", state.stuck.load()},
                           {"allocationFaults", state.allocArmed.load()}};
  for (int f = 0; f < kFamilies; ++f) {
    result["ops"][kFamilyNames[f]] = state.ops[f].load();
    result["failed"][kFamilyNames[f]] = state.failures[f].load();
  }
  if (descriptorsBefore != descriptorsAfter) {
    std::string extra;
    for (const std::string &d : descriptorsAfter)
      if (!descriptorsBefore.count(d)) {
        char link[256] = {};
        readlink(("/proc/self/fd/" + d).c_str(), link, sizeof link - 1);
        extra += d + "=" + link + " ";
      }
    result["descriptorsLeft"] = extra;
  }
  std::ofstream(std::string(kDir) + "/worker-" + std::to_string(index) + ".json") << result.dump() << "\n";
  return 0;
}

// ---- the daemons, as the faults see them --------------------------------------

struct Daemon {
  const char *name;  // the program's file name
  std::string path;
  pid_t pid = -1;
  bool mine = false;  // started by the soak (its child), not by hyxsim
  bool graceful;      // stopped with SIGTERM: a killed observation daemon loses what it has not read
};

std::string ReadLink(const std::string &path) {
  char target[4096];
  ssize_t n = readlink(path.c_str(), target, sizeof target - 1);
  return n > 0 ? std::string(target, static_cast<size_t>(n)) : "";
}

void FindDaemon(Daemon &d) {
  DIR *proc = opendir("/proc");
  while (struct dirent *entry = readdir(proc)) {
    if (!isdigit(static_cast<unsigned char>(entry->d_name[0]))) continue;
    std::string exe = ReadLink(std::string("/proc/") + entry->d_name + "/exe");
    size_t slash = exe.rfind('/');
    if (slash != std::string::npos && exe.substr(slash + 1) == d.name) {
      d.path = exe;
      d.pid = atoi(entry->d_name);
    }
  }
  closedir(proc);
}

bool Gone(pid_t pid) {
  std::ifstream stat("/proc/" + std::to_string(pid) + "/stat");
  std::string line;
  if (!std::getline(stat, line)) return true;
  size_t close = line.rfind(')');
  return close == std::string::npos || line.compare(close + 2, 1, "Z") == 0;
}

void Stop(Daemon &d, bool hard) {
  if (d.pid <= 0) return;
  kill(d.pid, hard && !d.graceful ? SIGKILL : SIGTERM);
  if (d.mine) {
    WaitChild(d.pid);
  } else {
    while (!Gone(d.pid)) Pause(0.01);
  }
  d.pid = -1;
}

void Start(Daemon &d) {
  int ready[2];
  if (pipe2(ready, O_CLOEXEC) != 0) return;
  pid_t pid = fork();
  if (pid == 0) {
    prctl(PR_SET_PDEATHSIG, SIGKILL);
    sigset_t none;
    sigemptyset(&none);
    sigprocmask(SIG_SETMASK, &none, nullptr);
    int fd = fcntl(ready[1], F_DUPFD, 3);
    std::string text = std::to_string(fd);
    execl(d.path.c_str(), d.path.c_str(), "--ready-fd", text.c_str(), static_cast<char *>(nullptr));
    _exit(127);
  }
  close(ready[1]);
  char byte;
  ssize_t n;
  do n = read(ready[0], &byte, 1);
  while (n < 0 && errno == EINTR);
  close(ready[0]);
  if (n != 1) fprintf(stderr, "soak: %s did not start again\n", d.name);
  d.pid = pid;
  d.mine = true;
}

// Wakes the SNMP agent as the library does: it takes every finished trap file.
void WakeAgent() {
  int fd = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
  struct sockaddr_un address {};
  address.sun_family = AF_UNIX;
  strcpy(address.sun_path, hostPaths::kSnmpControlSocket);
  if (connect(fd, reinterpret_cast<sockaddr *>(&address), sizeof address) == 0 && write(fd, "N", 1) != 1)
    perror("wake");
  close(fd);
}

void WriteFile(const char *path, const std::string &text) { std::ofstream(path, std::ios::trunc) << text; }

std::string Slurp(const std::string &path) {
  std::ifstream in(path);
  return std::string((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

// ---- the faults ------------------------------------------------------------------

enum Fault {
  kRestartHobd,
  kRestartAgent,
  kRestartMgmtd,
  kHobdStopsReading,
  kHobdClosesMidMessage,
  kMgmtdSilent,
  kMgmtdClosesMidResponse,
  kSignalStorm,
  kSpoolReadOnly,
  kSnapshotSwap,
  kFaults
};
const char *const kFaultNames[kFaults] = {"hobd-restart",
                                          "snmp-agent-restart",
                                          "mgmtd-restart",
                                          "hobd-stops-reading",
                                          "hobd-closes-mid-message",
                                          "mgmtd-silent",
                                          "mgmtd-closes-mid-response",
                                          "signal-storm",
                                          "spool-read-only",
                                          "snapshot-swap"};

struct Supervisor {
  Daemon hobd{"hyxsim-hobd", "", -1, false, true};
  Daemon agent{"hyxsim-snmp-agent", "", -1, false, false};
  Daemon mgmtd{"hyxsim-mgmtd", "", -1, false, false};
  std::vector<pid_t> workers;
  uint64_t injected[kFaults] = {};
  uint64_t signals = 0;
};

void Storm(Supervisor &s, double seconds) {
  double end = Now() + seconds;
  while (Now() < end) {
    for (pid_t w : s.workers) kill(w, SIGALRM);
    s.signals += s.workers.size();
    Pause(0.0005);
  }
}

void Inject(Supervisor &s, Fault fault, std::mt19937 &random) {
  s.injected[fault]++;
  double hold = 1 + (random() % 3000) / 1000.0;
  switch (fault) {
    case kRestartHobd:
      Stop(s.hobd, true);
      Pause(hold / 4);
      Start(s.hobd);
      break;
    case kRestartAgent:
      Stop(s.agent, true);
      Pause(hold / 4);
      Start(s.agent);
      break;
    case kRestartMgmtd:
      Stop(s.mgmtd, true);
      Pause(hold / 4);
      Start(s.mgmtd);
      break;
    case kHobdStopsReading:
      // Longer than a send may wait now and then, so writers give up mid-message.
      kill(s.hobd.pid, SIGUSR1);
      Pause(hold * 2.5);
      kill(s.hobd.pid, SIGUSR1);
      break;
    case kHobdClosesMidMessage:
      // Stopped first, so the writers are in the middle of their messages.
      kill(s.hobd.pid, SIGUSR1);
      Pause(0.3);
      kill(s.hobd.pid, SIGUSR2);
      Pause(0.05);
      kill(s.hobd.pid, SIGUSR1);
      break;
    case kMgmtdSilent:
      WriteFile(HYXSIM_MGMTD_FAULTS, "* silent\n");
      Pause(hold);
      unlink(HYXSIM_MGMTD_FAULTS);
      break;
    case kMgmtdClosesMidResponse:
      WriteFile(HYXSIM_MGMTD_FAULTS, "* close-mid-response\n");
      Pause(hold);
      unlink(HYXSIM_MGMTD_FAULTS);
      break;
    case kSignalStorm:
      Storm(s, hold);
      break;
    case kSpoolReadOnly: {
      // A read-only mount over the spool (root writes through a mode).
      bool mounted =
          mount(hostPaths::kSnmpSpoolDir, hostPaths::kSnmpSpoolDir, nullptr, MS_BIND, nullptr) == 0 &&
          mount(nullptr, hostPaths::kSnmpSpoolDir, nullptr, MS_BIND | MS_REMOUNT | MS_RDONLY, nullptr) == 0;
      if (!mounted) chmod(hostPaths::kSnmpSpoolDir, 0555);
      Pause(hold);
      if (mounted)
        umount2(hostPaths::kSnmpSpoolDir, MNT_DETACH);
      else
        chmod(hostPaths::kSnmpSpoolDir, 0755);
      break;
    }
    case kSnapshotSwap: {
      // The other copy goes in whole under the name; readers that opened
      // the old file keep reading it.
      std::string other = std::string(kSnapshot) + ".other";
      std::string bytes = Slurp(kSnapshot);
      WriteFile(other.c_str(), bytes);
      rename(other.c_str(), kSnapshot);
      break;
    }
    default:
      break;
  }
}

// ---- the ledger, checked -------------------------------------------------------

struct Count {
  uint64_t sent = 0, failed = 0, received = 0, lost = 0, duplicated = 0, failedButDelivered = 0, unknown = 0,
           throttled = 0;
  std::map<unsigned, uint64_t> byStatus;  // the failures, by the status their callers got
};

// Every sequence token in a text: "seq=TOKEN;".
void Tokens(const std::string &text, std::map<std::string, int> &seen) {
  for (size_t at = 0; (at = text.find("seq=", at)) != std::string::npos;) {
    size_t end = text.find(';', at);
    if (end == std::string::npos) break;
    seen[text.substr(at + 4, end - at - 4)]++;
    at = end;
  }
}

bool CheckLedger(std::map<std::string, Count> &counts) {
  std::map<std::string, std::map<std::string, int>> received;
  for (const Json &r : ReadRecords(HYXSIM_HOBD_RECORDS))
    if (r.contains("message")) Tokens(r["message"].get<std::string>(), received["observation"]);
  for (const Json &r : ReadRecords(HYXSIM_SNMP_AGENT_RECORDS))
    if (r.contains("bindings"))
      for (const Json &b : r["bindings"]) Tokens(b["value"].get<std::string>(), received["trap"]);
  for (const Json &r : ReadRecords(HYXSIM_MGMTD_RECORDS))
    if (r.contains("event") && !r.contains("error"))
      for (const Json &a : r["event"]["arguments"])
        if (a["key"] == "seq") received["event"][a["value"].get<std::string>()]++;

  std::map<std::string, std::map<std::string, unsigned>> reported;
  DIR *dir = opendir(kLedgerDir);
  while (struct dirent *entry = readdir(dir)) {
    if (entry->d_name[0] == '.') continue;
    std::ifstream in(std::string(kLedgerDir) + "/" + entry->d_name);
    std::string family, token;
    unsigned status;
    while (in >> family >> token >> status) reported[family][token] = status;
  }
  closedir(dir);
  bool clean = true;
  for (const char *family : {"observation", "trap", "event"}) {
    Count &c = counts[family];
    auto &got = received[family];
    for (auto &[token, status] : reported[family]) {
      int times = got.count(token) ? got[token] : 0;
      c.received += times;
      if (times > 1) {
        c.duplicated++;
        fprintf(stderr, "soak: %s %s recorded %d times\n", family, token.c_str(), times);
      }
      if (status == HYX_OK) {
        c.sent++;
        if (times == 0) {
          c.lost++;
          fprintf(stderr, "soak: %s %s reported sent, never recorded\n", family, token.c_str());
        }
      } else {
        c.failed++;
        c.byStatus[status]++;
        if (status == HYX_LIMIT_EXCEEDED) c.throttled++;
        if (times > 0) c.failedButDelivered++;
      }
    }
    for (auto &[token, times] : got)
      if (!reported[family].count(token)) {
        c.unknown++;
        fprintf(stderr, "soak: %s %s recorded but in no caller's ledger\n", family, token.c_str());
      }
    clean = clean && c.lost == 0 && c.duplicated == 0 && c.unknown == 0;
  }
  return clean;
}

int Run(double seconds, int processes, int threads) {
  mkdir(kDir, 0755);
  mkdir(kLedgerDir, 0755);
  Supervisor s;
  for (Daemon *d : {&s.hobd, &s.agent, &s.mgmtd}) {
    FindDaemon(*d);
    if (d->pid <= 0) {
      fprintf(stderr, "soak: no %s: run under hyxsim --daemons\n", d->name);
      return 2;
    }
  }
  // The snapshot the readers use: the host's whole tree.
  pid_t snap = fork();
  if (snap == 0) {
    execlp("hyxsnap", "hyxsnap", "-o", kSnapshot, static_cast<char *>(nullptr));
    _exit(127);
  }
  if (!WaitChild(snap)) {
    fprintf(stderr, "soak: hyxsnap failed\n");
    return 2;
  }

  double start = Now();
  for (int i = 0; i < processes; ++i) {
    pid_t pid = fork();
    if (pid == 0) {
      std::string index = std::to_string(i), t = std::to_string(threads), secs = std::to_string(seconds);
      // One caller reads the tree from the snapshot for its whole life.
      if (i == 0) setenv("HYXUSER_HSI_SNAPSHOT", kSnapshot, 1);
      execl(self.c_str(), self.c_str(), "--worker", index.c_str(), t.c_str(), secs.c_str(),
            static_cast<char *>(nullptr));
      _exit(127);
    }
    s.workers.push_back(pid);
  }
  std::mt19937 random(static_cast<unsigned>(getpid()));
  // The faults, one at a time, until shortly before the end, so the last
  // calls meet the daemons as they are.
  while (Now() < start + seconds - 2) {
    Pause(0.2 + (random() % 1500) / 1000.0);
    Inject(s, static_cast<Fault>(random() % kFaults), random);
  }
  // Every worker ends; one that outlives every bound is stuck.
  bool stuck = false;
  std::vector<int> statuses;
  for (pid_t w : s.workers) {
    int status = 0;
    for (;;) {
      pid_t ended = waitpid(w, &status, WNOHANG);
      if (ended == w) break;
      if (Now() > start + seconds + 240 * boundScale) {
        PrintStacks(w, "still running long after the end");
        stuck = true;
        kill(w, SIGKILL);
        waitpid(w, &status, 0);
        break;
      }
      Pause(0.1);
    }
    statuses.push_back(status);
  }
  double elapsed = Now() - start;
  // What is still in the spool is taken, then the daemons end and write
  // their last records.
  WakeAgent();
  Pause(0.5);
  for (Daemon *d : {&s.hobd, &s.agent, &s.mgmtd}) Stop(*d, false);

  std::map<std::string, Count> counts;
  bool ledgerClean = CheckLedger(counts);

  // The summary.
  uint64_t ops[kFamilies] = {}, failed[kFamilies] = {}, allocationFaults = 0;
  bool leaks = false, workerFailed = false;
  std::string leakText;
  for (int i = 0; i < processes; ++i) {
    Json r = Json::parse(Slurp(std::string(kDir) + "/worker-" + std::to_string(i) + ".json"), nullptr, false);
    if (r.is_discarded() || !WIFEXITED(statuses[i]) || WEXITSTATUS(statuses[i]) != 0) {
      fprintf(stderr, "soak: worker %d ended with status 0x%x and no result\n", i, statuses[i]);
      workerFailed = true;
      continue;
    }
    for (int f = 0; f < kFamilies; ++f) {
      ops[f] += r["ops"][kFamilyNames[f]].get<uint64_t>();
      failed[f] += r["failed"][kFamilyNames[f]].get<uint64_t>();
    }
    allocationFaults += r["allocationFaults"].get<uint64_t>();
    stuck = stuck || r["stuck"].get<bool>();
    long warm = r["residentWarmKiB"], end = r["residentEndKiB"];
    // Resident size: at most 4 MiB or 10 % above the size after warm-up.
    // Not where AddressSanitizer holds freed memory back in its quarantine
    // (SOAK_NO_RESIDENT_CHECK): the allocation count still speaks there.
    bool grew = getenv("SOAK_NO_RESIDENT_CHECK") == nullptr && end > warm + std::max(4096L, warm / 10);
    // Fewer is no leak: the event session's connection may have gone with its daemon.
    bool fds = r["descriptorsAfter"].get<size_t>() > r["descriptorsBefore"].get<size_t>();
    bool memory = r["allocationsBefore"] != r["allocationsAfter"];
    if (grew || fds || memory) {
      leaks = true;
      leakText += " worker " + std::to_string(i) + ": " + r.dump();
    }
  }
  uint64_t injected = 0;
  printf("soak: %.0f s, %d processes x %d threads\n", elapsed, processes, threads);
  printf("soak: operations per second:");
  for (int f = 0; f < kFamilies; ++f)
    printf(" %s %.1f (%" PRIu64 " failed)", kFamilyNames[f], static_cast<double>(ops[f]) / elapsed,
           failed[f]);
  printf("\nsoak: faults injected:");
  for (int f = 0; f < kFaults; ++f) {
    printf(" %s %" PRIu64, kFaultNames[f], s.injected[f]);
    injected += s.injected[f];
  }
  printf(" allocation-failures-armed %" PRIu64 " signals %" PRIu64 "\n", allocationFaults, s.signals);
  uint64_t lost = 0, duplicated = 0;
  for (const char *family : {"observation", "trap", "event"}) {
    const Count &c = counts[family];
    printf("soak: %s: sent %" PRIu64 " received %" PRIu64 " reported-failed %" PRIu64 " (throttled %" PRIu64
           ", delivered-though-failed %" PRIu64 ") lost %" PRIu64 " duplicated %" PRIu64
           " unaccounted %" PRIu64 "\n",
           family, c.sent, c.received, c.failed, c.throttled, c.failedButDelivered, c.lost, c.duplicated,
           c.unknown);
    printf("soak: %s: reported failed by status:", family);
    for (auto &[status, n] : c.byStatus)
      printf(" %s %" PRIu64, StatusName(static_cast<HYX_ReturnStatus>(status)).c_str(), n);
    printf("\n");
    lost += c.lost;
    duplicated += c.duplicated + c.unknown;
  }
  printf("soak: lost %" PRIu64 ", duplicated %" PRIu64 ", leaks %d, stuck %d\n", lost, duplicated,
         leaks ? 1 : 0, stuck ? 1 : 0);
  if (leaks) fprintf(stderr, "soak: leaks:%s\n", leakText.c_str());
  bool every = true;
  for (int f = 0; f < kFamilies; ++f) every = every && ops[f] > 0;
  if (!every) fprintf(stderr, "soak: a family never ran\n");
  bool ok = ledgerClean && !leaks && !stuck && !workerFailed && every && injected > 0;
  printf("soak: %s\n", ok ? "PASS" : "FAIL");
  return ok ? 0 : 1;
}

}  // namespace

int main(int argc, char **argv) {
  self = ReadLink("/proc/self/exe");
  if (const char *scale = getenv("SOAK_BOUND_SCALE")) boundScale = atof(scale);
  setvbuf(stdout, nullptr, _IOLBF, 0);
  std::vector<std::string> args(argv + 1, argv + argc);
  if (args.size() >= 3 && args[0] == "--sender")
    return Sender(args[1], args[2] == "snap", args.size() > 3 && args[3] == "--print");
  if (args.size() == 4 && args[0] == "--worker")
    return Worker(atoi(args[1].c_str()), atoi(args[2].c_str()), atof(args[3].c_str()));
  double seconds = 20;
  int processes = 3, threads = 4;
  for (size_t i = 0; i + 1 < args.size(); i += 2) {
    if (args[i] == "--seconds") seconds = atof(args[i + 1].c_str());
    if (args[i] == "--processes") processes = atoi(args[i + 1].c_str());
    if (args[i] == "--threads") threads = atoi(args[i + 1].c_str());
  }
  return Run(seconds, processes, threads);
}
