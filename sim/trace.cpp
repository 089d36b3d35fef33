#include "trace.h"

#include <fcntl.h>
#include <string.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <sys/uio.h>
#include <sys/utsname.h>
#include <time.h>
#include <unistd.h>

#include <cerrno>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "kit.h"
#include "models/hsiStore.h"
#include "profile.h"
#include "status/statusNames.h"
#include "traceCalls.h"

namespace hyxsim {

bool traceOn = false;

namespace {

// ---- settings ------------------------------------------------------------------

constexpr const char *kSettingNames[] = {"HYXSIM_TRACE", "HYXSIM_TRACE_FORMAT", "HYXSIM_TRACE_CALLS",
                                         "HYXSIM_TRACE_NODES"};
constexpr size_t kSettings = sizeof kSettingNames / sizeof kSettingNames[0];

// The trace descriptor sits high, out of the way of descriptors a program
// counts on getting.
constexpr int kTraceFdFloor = 900;

constexpr size_t kTextCut = 200;      // longest text shown; longer text ends in "..."
constexpr size_t kMaxListShown = 32;  // argument-vector and instance entries shown

struct Settings {
  std::string path;
  bool json = false;
  // --trace-calls: families and call numbers (ioctl requests count as
  // numbers of their own, tagged); none means every call.
  const char *families[kMaxTraceFilters];
  size_t familyCount = 0;
  uint64_t numbers[kMaxTraceFilters];
  size_t numberCount = 0;
  std::string nodePrefix;
  int fd = -1;
  dev_t device = 0;
  ino_t inode = 0;
  std::string environment[kSettings];
  const char *environmentList[kSettings + 1] = {};
};
Settings *settings = nullptr;  // never freed: calls may come during exit

[[noreturn]] void Refuse(const std::string &what) {
  fprintf(stderr, "hyxsim: %s\n", what.c_str());
  _exit(kRefusedStatus);
}

const char *FindEnv(char **envp, const char *name) {
  size_t length = strlen(name);
  for (; envp && *envp; ++envp)
    if (strncmp(*envp, name, length) == 0 && (*envp)[length] == '=') return *envp + length + 1;
  return nullptr;
}

// Keeps the call or family a --trace-calls entry names; what is wrong with
// the entry when it cannot.
const char *TakeCallFilter(Settings &s, const std::string &entry) {
  TraceCallName name = FindTraceCall(entry.c_str());
  if (name.group == nullptr && !name.isNumber) return "is no call or family of calls";
  size_t &count = name.group != nullptr ? s.familyCount : s.numberCount;
  if (count == kMaxTraceFilters) return kTooManyTraceFilters;
  if (name.group != nullptr)
    s.families[count++] = name.group;
  else
    s.numbers[count++] = name.number;
  return nullptr;
}

// Opens the trace file and moves it out of the low descriptors.
bool OpenTrace(Settings &s) {
  int fd = open(s.path.c_str(), O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, 0644);
  if (fd < 0) return false;
  int high = fcntl(fd, F_DUPFD_CLOEXEC, kTraceFdFloor);
  if (high >= 0) {
    close(fd);
    fd = high;
  }
  struct stat st {};
  fstat(fd, &st);
  s.fd = fd;
  s.device = st.st_dev;
  s.inode = st.st_ino;
  return true;
}

// ---- reading the caller's memory without trusting it ----------------------
// A trace must never fault where the model would not: every read goes
// through the kernel, which refuses an unmapped address instead.

size_t Peek(uint64_t address, void *out, size_t size) {
  if (address == 0 || size == 0) return 0;
  struct iovec local = {out, size}, remote = {reinterpret_cast<void *>(address), size};
  long got = RawSyscall(__NR_process_vm_readv, RawSyscall(__NR_getpid), reinterpret_cast<long>(&local), 1,
                        reinterpret_cast<long>(&remote), 1, 0);
  return got > 0 ? static_cast<size_t>(got) : 0;
}

template <typename T>
bool PeekBlock(uint64_t address, T &value) {
  return Peek(address, &value, sizeof value) == sizeof value;
}

// NUL-terminated text at address, at most cut bytes of it: returns false when
// unreadable; cut is set when the text is longer.
bool PeekText(uint64_t address, char *out, size_t cut, size_t &length, bool &more) {
  length = 0;
  more = false;
  if (address == 0) return false;
  while (length <= cut) {
    uint64_t at = address + length;
    size_t chunk = 4096 - (at & 4095);  // a read never crosses into an unmapped page
    if (chunk > cut + 1 - length) chunk = cut + 1 - length;
    size_t got = Peek(at, out + length, chunk);
    if (got == 0) return length > 0;
    for (size_t i = 0; i < got; ++i)
      if (out[length + i] == '\0') {
        length += i;
        return true;
      }
    length += got;
  }
  length = cut;
  more = true;
  return true;
}

// ---- the line --------------------------------------------------------------------
// Built in a buffer on the handler's stack and written with one write(2),
// so lines of several processes and threads never interleave.  Every piece
// is bounded (texts cut, lists capped), so a line always fits.

class Line {
 public:
  explicit Line(bool json) : json_(json) {}

  void Raw(const char *text) { Raw(text, strlen(text)); }
  void Raw(const char *text, size_t length) {
    if (length > sizeof text_ - 1 - used_) length = sizeof text_ - 1 - used_;
    memcpy(text_ + used_, text, length);
    used_ += length;
  }
  __attribute__((format(printf, 2, 3))) void Format(const char *format, ...) {
    va_list args;
    va_start(args, format);
    int n = vsnprintf(text_ + used_, sizeof text_ - used_, format, args);
    va_end(args);
    if (n > 0)
      used_ +=
          static_cast<size_t>(n) < sizeof text_ - used_ ? static_cast<size_t>(n) : sizeof text_ - used_ - 1;
  }

  bool json() const { return json_; }
  size_t Mark() const { return used_; }
  void Rewind(size_t mark) { used_ = mark; }

  // A named value inside an argument or output group; the value follows.
  Line &Key(const char *name) {
    Separate();
    if (json_)
      Format("\"%s\":", name);
    else
      Format("%s=", name);
    return *this;
  }
  // The next value of a list.
  void Item() { Separate(); }

  void Open(char bracket) {
    Raw(&bracket, 1);
    first_[++depth_] = true;
  }
  void Close(char bracket) {
    Raw(&bracket, 1);
    --depth_;
  }

  void Number(uint64_t value) { Format("%llu", static_cast<unsigned long long>(value)); }
  void Signed(int64_t value) { Format("%lld", static_cast<long long>(value)); }
  void Hex(uint64_t value) {
    Format(json_ ? "\"0x%llx\"" : "0x%llx", static_cast<unsigned long long>(value));
  }
  void Null() { Raw(json_ ? "null" : "NULL"); }
  void Name(const char *name) { Format(json_ ? "\"%s\"" : "%s", name); }
  void Text(const char *text, size_t length, bool more) {
    Raw("\"");
    for (size_t i = 0; i < length; ++i) {
      unsigned char c = static_cast<unsigned char>(text[i]);
      if (c == '"' || c == '\\')
        Format("\\%c", c);
      else if (c == '\n')
        Raw("\\n");
      else if (c == '\t')
        Raw("\\t");
      else if (c < 0x20 || c == 0x7f)
        Format(json_ ? "\\u%04x" : "\\x%02x", c);
      else
        Raw(text + i, 1);
    }
    Raw(more ? "...\"" : "\"");
  }
  // Text in the caller's memory; null when the address is null or
  // unreadable.
  void CallerText(uint64_t address, size_t cut = kTextCut) {
    char text[kTextCut + 1];
    size_t length;
    bool more;
    if (cut > kTextCut) cut = kTextCut;
    if (!PeekText(address, text, cut, length, more)) return Null();
    Text(text, length, more);
  }
  // A null-terminated vector of texts (an argument vector).
  void CallerTexts(uint64_t address) {
    if (address == 0) return Null();
    Open('[');
    for (size_t i = 0;; ++i) {
      uint64_t entry = 0;
      if (!PeekBlock(address + i * sizeof entry, entry) || entry == 0) break;
      Item();
      if (i == kMaxListShown) {
        Text("", 0, true);
        break;
      }
      CallerText(entry);
    }
    Close(']');
  }

  void Write(int fd) {
    text_[used_++] = '\n';
    for (size_t done = 0; done < used_;) {
      long n =
          RawSyscall(__NR_write, fd, reinterpret_cast<long>(text_ + done), static_cast<long>(used_ - done));
      if (n == -EINTR) continue;
      if (n <= 0) break;
      done += static_cast<size_t>(n);
    }
  }

 private:
  void Separate() {
    if (!first_[depth_]) Raw(json_ ? "," : ", ");
    first_[depth_] = false;
  }

  bool json_;
  char text_[16384];
  size_t used_ = 0;
  bool first_[8] = {true};
  int depth_ = 0;
};

// ---- names -----------------------------------------------------------------------

void PutStatus(Line &line, uint32_t status) {
  if (int err = Status_CarriedErrno(status)) {
    if (const char *errName = strerrorname_np(err)) {
      char text[64];
      snprintf(text, sizeof text, "HYX_ERRNO_STATUS_BASE+%s", errName);
      return line.Name(text);
    }
  } else if (const StatusNameRow *row = Status_Row(status)) {
    return line.Name(row->name);
  }
  line.Hex(status);
}

void PutErrno(Line &line, int err) {
  if (err == 0) return line.Null();
  if (const char *name = strerrorname_np(err)) return line.Name(name);
  line.Signed(err);
}

const char *HsiKindName(uint32_t kind) {
  switch (kind) {
    case HSI_CALL_GET:
      return "get";
    case HSI_CALL_SET_PARAMS:
      return "set-params";
    case HSI_CALL_SET_BUFFER:
      return "set-buffer";
    case HSI_CALL_GET_SIZED:
      return "get-sized";
    case HSI_CALL_SET_SIZED:
      return "set-sized";
  }
  return nullptr;
}

// The block's kind by name, or its number when the kernel knows no such kind.
void PutKind(Line &line, uint32_t kind) {
  line.Key("kind");
  if (const char *name = HsiKindName(kind)) return line.Name(name);
  line.Number(kind);
}

// ---- what a call is ------------------------------------------------------------

bool IsNodeCall(uint64_t number) {
  return number == KERNEL_CALL_HSI_GET || number == KERNEL_CALL_HSI_GET_SIZE ||
         number == KERNEL_CALL_HSI_SET || number == KERNEL_CALL_HSI_LIST;
}

const char *FamilyOf(const Call &call) {
  if (const char *family = KernelCallFamily(call.number)) return family;
  if (call.number == __NR_uname) return "system";
  if (call.number == __NR_ioctl) return "device";
  return "unknown";
}

// Whether path is the node --trace-nodes names or lies below it.
bool UnderNode(const std::string &path, const std::string &node) {
  if (path.compare(0, node.size(), node) != 0) return false;
  return path.size() == node.size() || node.back() == ':' || path[node.size()] == '/';
}

bool Wanted(const Settings &s, const Call &call, const std::string &nodePath, bool hasPath) {
  if (!s.nodePrefix.empty() && IsNodeCall(call.number) && (!hasPath || !UnderNode(nodePath, s.nodePrefix)))
    return false;
  if (s.familyCount == 0 && s.numberCount == 0) return true;
  const char *family = FamilyOf(call);
  for (size_t i = 0; i < s.familyCount; ++i)
    if (strcmp(s.families[i], family) == 0) return true;
  uint64_t request = kRequestTag | static_cast<uint32_t>(call.args[1]);
  for (size_t i = 0; i < s.numberCount; ++i)
    if (s.numbers[i] == call.number || (call.number == __NR_ioctl && s.numbers[i] == request)) return true;
  return false;
}

// ---- arguments -----------------------------------------------------------------

// The instance values of a parameter list (x3, x4 of the node calls).
void PutInstances(Line &line, uint64_t address, uint64_t size) {
  line.Key("instances");
  HsiParamListRecord record{};
  if (address == 0) {
    line.Open('[');
    return line.Close(']');
  }
  if (size < sizeof record || !PeekBlock(address, record) || record.count > record.capacity)
    return line.Null();
  line.Open('[');
  for (uint32_t i = 0; i < record.count; ++i) {
    line.Item();
    HsiParam slot{};
    if (i == kMaxListShown) {
      line.Text("", 0, true);
      break;
    }
    if (!PeekBlock(address + sizeof record + i * sizeof slot, slot)) {
      line.Null();
      continue;
    }
    if (slot.type == HSI_PARAM_INT) {
      line.Signed(static_cast<int64_t>(slot.value));
    } else if (slot.type == HSI_PARAM_STRING && slot.length > 0) {
      char text[kTextCut];
      size_t want = slot.length - 1 < kTextCut ? slot.length - 1 : kTextCut;
      size_t got = Peek(slot.value + slot.offset, text, want);
      if (got != want)
        line.Null();
      else
        line.Text(text, got, slot.length - 1 > kTextCut);
    } else {
      line.Null();
    }
  }
  line.Close(']');
}

void PutNodeCall(Line &line, const Call &call, const std::string &path, bool hasPath) {
  line.Key("node");
  if (hasPath)
    line.Text(path.data(), path.size(), false);
  else
    line.Null();
  line.Key("nodeId");
  line.Number(static_cast<uint32_t>(call.args[0]));
  line.Key("module");
  line.Signed(static_cast<int32_t>(call.args[1]));
  if (line.json()) {
    line.Key("signature");
    line.Hex(call.args[2]);
  }
  PutInstances(line, call.args[3], call.args[4]);
  if (call.number == KERNEL_CALL_HSI_GET) {
    HsiGetBlock block{};
    if (!PeekBlock(call.args[5], block)) return;
    PutKind(line, block.kind);
    line.Key("length");
    line.Number(block.length);
  } else if (call.number == KERNEL_CALL_HSI_SET) {
    HsiSetBlock block{};
    if (!PeekBlock(call.args[5], block)) return;
    PutKind(line, block.kind);
    line.Key("inputLength");
    line.Number(block.inputLength);
    line.Key("outputLength");
    line.Number(block.outputLength);
  } else if (call.number == KERNEL_CALL_HSI_LIST) {
    HsiListBlock block{};
    HsiParamListRecord record{};
    if (!PeekBlock(call.args[5], block) || !PeekBlock(block.record, record)) return;
    line.Key("capacity");
    line.Number(record.capacity);
    line.Key("size");
    line.Number(block.size);
  }
}

// A program started: its path and argument vector (and, for fork-exec,
// how many descriptors it is handed).
void PutStartArgs(Line &line, const Call &call) {
  line.Key("path").CallerText(call.args[0]);
  line.Key("argv").CallerTexts(call.args[1]);
  ForkExecParams params{};
  if (call.number == KERNEL_CALL_FORK_EXEC && PeekBlock(call.args[5], params))
    line.Key("descriptors").Number(params.fdCount);
}

// The calls on the node and type tables, which name no node by path.
void PutTableArgs(Line &line, const Call &call) {
  switch (call.number) {
    case KERNEL_CALL_HSI_SIGNATURE:
      line.Key("signature").CallerText(call.args[0]);
      line.Key("size").Number(call.args[2]);
      return;
    case KERNEL_CALL_HSI_MODULE_ID:
      line.Key("name").CallerText(call.args[0]);
      return;
    case KERNEL_CALL_HSI_MODULE_NODE_DEF:
      line.Key("nodeId").Number(static_cast<uint32_t>(call.args[0]));
      line.Key("module").Signed(static_cast<int32_t>(call.args[1]));
      return;
  }
  // Module calls: the module, then the type and the index where the call
  // takes them.
  line.Key("module").Signed(static_cast<int32_t>(call.args[0]));
  if (call.number == KERNEL_CALL_HSI_MODULE_NODE_COUNT || call.number == KERNEL_CALL_HSI_MODULE_FIRST_NODE)
    return;
  line.Key("type").Number(static_cast<uint32_t>(call.args[1]));
  if (call.number == KERNEL_CALL_HSI_MODULE_TYPE) return;
  line.Key("index").Number(static_cast<uint32_t>(call.args[2]));
}

void PutAcpiArgs(Line &line, const Call &call) {
  line.Key("signature").CallerText(call.args[0], 4);
  line.Key("instance").Number(static_cast<uint32_t>(call.args[1]));
  if (call.number == KERNEL_CALL_ACPI_TABLE) line.Key("length").Number(static_cast<uint32_t>(call.args[3]));
}

void PutDeviceRequestArgs(Line &line, const Call &call) {
  line.Key("fd").Signed(static_cast<int32_t>(call.args[0]));
  line.Key("request");
  if (const char *name = KernelDeviceRequestName(static_cast<uint32_t>(call.args[1])))
    line.Name(name);
  else
    line.Hex(static_cast<uint32_t>(call.args[1]));
  line.Key("arg").Hex(call.args[2]);
}

// A call the trace does not decode: its six argument registers.
void PutRawArgs(Line &line, const Call &call) {
  line.Key("raw");
  line.Open('[');
  for (uint64_t arg : call.args) {
    line.Item();
    line.Hex(arg);
  }
  line.Close(']');
}

void PutArgs(Line &line, const Call &call, const std::string &path, bool hasPath) {
  switch (call.number) {
    case KERNEL_CALL_SYSCALL_API_CHECKSUM:
    case KERNEL_CALL_SMBIOS_LENGTH:
    case KERNEL_CALL_UPTIME:
    case __NR_uname:
      return;
    case KERNEL_CALL_FORK_EXEC:
    case KERNEL_CALL_SPAWN:
      return PutStartArgs(line, call);
    case KERNEL_CALL_SMBIOS_DATA:
      line.Key("length").Number(static_cast<uint32_t>(call.args[1]));
      return;
    case KERNEL_CALL_HSI_GET:
    case KERNEL_CALL_HSI_GET_SIZE:
    case KERNEL_CALL_HSI_SET:
    case KERNEL_CALL_HSI_LIST:
      return PutNodeCall(line, call, path, hasPath);
    case KERNEL_CALL_HSI_SIGNATURE:
    case KERNEL_CALL_HSI_MODULE_ID:
    case KERNEL_CALL_HSI_MODULE_NODE_COUNT:
    case KERNEL_CALL_HSI_MODULE_FIRST_NODE:
    case KERNEL_CALL_HSI_MODULE_NODE_DEF:
    case KERNEL_CALL_HSI_MODULE_TYPE:
    case KERNEL_CALL_HSI_MODULE_ENUM_VALUE:
    case KERNEL_CALL_HSI_MODULE_FIELD:
      return PutTableArgs(line, call);
    case KERNEL_CALL_ACPI_LENGTH:
    case KERNEL_CALL_ACPI_TABLE:
      return PutAcpiArgs(line, call);
    case __NR_ioctl:
      return PutDeviceRequestArgs(line, call);
    default:
      return PutRawArgs(line, call);
  }
}

// ---- what the call wrote back ------------------------------------------------------

void PutOut(Line &line, const Call &call, bool ok) {
  if (!ok) return;
  auto key = [&](const char *name) -> Line & {
    line.Key(name);
    return line;
  };
  uint32_t u32 = 0;
  int32_t i32 = 0;
  uint64_t u64 = 0;
  switch (call.number) {
    case KERNEL_CALL_SYSCALL_API_CHECKSUM:
      if (PeekBlock(call.args[0], u32)) key("checksum").Hex(u32);
      return;
    case KERNEL_CALL_FORK_EXEC: {
      ForkExecParams params{};
      if (PeekBlock(call.args[5], params) && PeekBlock(params.pidAddress, i32)) key("pid").Signed(i32);
      return;
    }
    case KERNEL_CALL_SPAWN:
      if (PeekBlock(call.args[5], i32)) key("pid").Signed(i32);
      return;
    case KERNEL_CALL_SMBIOS_LENGTH:
      if (PeekBlock(call.args[0], u32)) key("length").Number(u32);
      return;
    case KERNEL_CALL_HSI_GET_SIZE:
      if (PeekBlock(call.args[5], u32)) key("size").Number(u32);
      return;
    case KERNEL_CALL_HSI_LIST: {
      HsiListBlock block{};
      HsiParamListRecord record{};
      if (!PeekBlock(call.args[5], block) || !PeekBlock(block.record, record)) return;
      key("count").Number(record.count);
      key("total").Number(record.totalCount);
      return;
    }
    case KERNEL_CALL_HSI_SIGNATURE:
      key("build").CallerText(call.args[1]);
      return;
    case KERNEL_CALL_HSI_MODULE_ID:
      if (PeekBlock(call.args[1], i32)) key("module").Signed(i32);
      return;
    case KERNEL_CALL_HSI_MODULE_NODE_COUNT:
      if (PeekBlock(call.args[1], u32)) key("count").Number(u32);
      return;
    case KERNEL_CALL_HSI_MODULE_FIRST_NODE:
      if (PeekBlock(call.args[1], u32)) key("nodeId").Number(u32);
      return;
    case KERNEL_CALL_HSI_MODULE_NODE_DEF:
    case KERNEL_CALL_HSI_MODULE_TYPE:
      key("name").CallerText(call.args[3]);
      return;
    case KERNEL_CALL_HSI_MODULE_ENUM_VALUE:
      if (PeekBlock(call.args[3], u64)) key("value").Number(u64);
      key("name").CallerText(call.args[4]);
      return;
    case KERNEL_CALL_HSI_MODULE_FIELD:
      if (PeekBlock(call.args[3], u32)) key("type").Number(u32);
      if (PeekBlock(call.args[4], u32)) key("offset").Number(u32);
      return;
    case KERNEL_CALL_UPTIME:
      if (PeekBlock(call.args[0], u64)) key("microseconds").Number(u64);
      return;
    case KERNEL_CALL_ACPI_LENGTH:
      if (PeekBlock(call.args[2], u32)) key("length").Number(u32);
      return;
    case __NR_uname:
      key("sysname").CallerText(call.args[0] + offsetof(struct utsname, sysname),
                                sizeof(utsname::sysname) - 1);
      return;
    default:
      return;
  }
}

uint64_t MonotonicNs() {
  struct timespec now {};
  RawSyscall(__NR_clock_gettime, CLOCK_MONOTONIC, reinterpret_cast<long>(&now));
  return static_cast<uint64_t>(now.tv_sec) * 1000000000 + static_cast<uint64_t>(now.tv_nsec);
}

// The trace descriptor, reopened when the program closed it or put
// something else in its place: a trace line must never land in a file of
// the program's.
int TraceFd(Settings &s) {
  struct stat st {};
  if (RawSyscall(__NR_fstat, s.fd, reinterpret_cast<long>(&st)) == 0 && st.st_dev == s.device &&
      st.st_ino == s.inode)
    return s.fd;
  return OpenTrace(s) ? s.fd : -1;
}

}  // namespace

void StartTrace(char **envp) {
  const char *path = FindEnv(envp, "HYXSIM_TRACE");
  if (path == nullptr || *path == '\0') return;
  auto *s = new Settings;
  s->path = path;
  for (size_t i = 0, n = 0; i < kSettings; ++i)
    if (const char *value = FindEnv(envp, kSettingNames[i])) {
      s->environment[i] = std::string(kSettingNames[i]) + "=" + value;
      s->environmentList[n++] = s->environment[i].c_str();
    }
  const char *format = FindEnv(envp, "HYXSIM_TRACE_FORMAT");
  if (format != nullptr && *format != '\0') {
    if (strcmp(format, "json") == 0)
      s->json = true;
    else if (strcmp(format, "text") != 0)
      Refuse(std::string("HYXSIM_TRACE_FORMAT: \"") + format + "\" is neither \"text\" nor \"json\"");
  }
  if (const char *calls = FindEnv(envp, "HYXSIM_TRACE_CALLS")) {
    std::string list = calls;
    for (size_t at = 0; at <= list.size();) {
      size_t end = list.find(',', at);
      if (end == std::string::npos) end = list.size();
      std::string entry = list.substr(at, end - at);
      if (const char *fault = entry.empty() ? nullptr : TakeCallFilter(*s, entry))
        Refuse("HYXSIM_TRACE_CALLS: \"" + entry.substr(0, 64) + "\" " + fault);
      at = end + 1;
    }
  }
  if (const char *node = FindEnv(envp, "HYXSIM_TRACE_NODES"); node != nullptr && *node != '\0') {
    // hyxsim refuses a value that names no node before it starts anything;
    // this is for a program the simulator was preloaded into by hand.
    if (!HsiTraceNodePrefix(KernelHsiTables(), node, s->nodePrefix))
      Refuse("HYXSIM_TRACE_NODES: " + HsiUnknownNodeText(std::string(node).substr(0, 64)));
  }
  if (!OpenTrace(*s)) Refuse("HYXSIM_TRACE: cannot open " + s->path + ": " + strerror(errno));
  settings = s;
  traceOn = true;
}

const char *const *TraceEnvironment() {
  static const char *const none[] = {nullptr};
  return settings ? settings->environmentList : none;
}

namespace {

// One name per call in both forms: the kernel's calls without their
// KERNEL_CALL_ prefix; null for a call of no known name.
const char *CallName(const Call &call) {
  const char *name = KernelCallName(call.number);
  if (name != nullptr && strncmp(name, "KERNEL_CALL_", 12) == 0) name += 12;
  if (name == nullptr && call.number == __NR_uname) name = "uname";
  if (name == nullptr && call.number == __NR_ioctl) name = "ioctl";
  return name;
}

// The call as asked: "[pid] NAME(args)", or its JSON fields up to "args".
void PutCall(Line &line, const Call &call, const std::string &path, bool hasPath) {
  pid_t pid = static_cast<pid_t>(RawSyscall(__NR_getpid));
  const char *name = CallName(call);
  if (line.json()) {
    line.Format("{\"pid\":%d,\"call\":", pid);
    if (name)
      line.Name(name);
    else
      line.Null();
    line.Format(",\"number\":%llu,\"family\":\"%s\",\"args\":", static_cast<unsigned long long>(call.number),
                FamilyOf(call));
    line.Open('{');
  } else {
    line.Format("[%d] ", pid);
    if (name)
      line.Raw(name);
    else
      line.Format("call_%llu", static_cast<unsigned long long>(call.number));
    line.Open('(');
  }
  PutArgs(line, call, path, hasPath);
  line.Close(line.json() ? '}' : ')');
}

// A Hyxkernel call's answer: its status and errno.  True for HYX_OK.
bool PutKernelAnswer(Line &line, const Call &call) {
  uint32_t status = static_cast<uint32_t>(call.status);
  int err = -static_cast<int32_t>(static_cast<uint32_t>(call.error));
  if (line.json()) {
    line.Raw(",\"status\":");
    PutStatus(line, status);
    line.Raw(",\"errno\":");
    PutErrno(line, err);
  } else {
    line.Raw(" = ");
    PutStatus(line, status);
    if (err != 0) {
      line.Raw(" ");
      PutErrno(line, err);
    }
  }
  return status == HYX_OK;
}

// A Linux call's answer: its result, or -1 and the errno.  True when it
// succeeded.
bool PutLinuxAnswer(Line &line, const Call &call) {
  int64_t result = static_cast<int64_t>(call.status);
  int err = result < 0 && result > -4096 ? static_cast<int>(-result) : 0;
  if (line.json()) {
    line.Format(",\"result\":%lld,\"errno\":", static_cast<long long>(result));
    PutErrno(line, err);
  } else {
    line.Format(" = %lld", static_cast<long long>(err ? -1 : result));
    if (err != 0) {
      line.Raw(" ");
      PutErrno(line, err);
    }
  }
  return result >= 0;
}

// What the call wrote back (text: " {name=value, ...}" only when it wrote
// something) and the time the model took.
void PutOutAndTime(Line &line, const Call &asked, bool ok, uint64_t took) {
  if (line.json()) {
    line.Raw(",\"out\":");
    line.Open('{');
    PutOut(line, asked, ok);
    line.Close('}');
    line.Format(",\"ns\":%llu}", static_cast<unsigned long long>(took));
    return;
  }
  size_t mark = line.Mark();
  line.Raw(" ");
  line.Open('{');
  size_t empty = line.Mark();
  PutOut(line, asked, ok);
  bool wrote = line.Mark() != empty;
  line.Close('}');
  if (!wrote) line.Rewind(mark);
  line.Format(" <%llu.%06llus>", static_cast<unsigned long long>(took / 1000000000),
              static_cast<unsigned long long>(took % 1000000000 / 1000));
}

}  // namespace

void TraceAndDispatch(Call &call, bool kernelCall) {
  Settings &s = *settings;
  std::string path;
  bool hasPath = IsNodeCall(call.number) &&
                 HsiNodePath(static_cast<int32_t>(call.args[1]), static_cast<uint32_t>(call.args[0]), path);
  if (!Wanted(s, call, path, hasPath)) return Dispatch(call);

  const Call asked = call;
  Line line(s.json);
  PutCall(line, asked, path, hasPath);
  uint64_t start = MonotonicNs();
  Dispatch(call);
  uint64_t took = MonotonicNs() - start;
  bool ok = kernelCall ? PutKernelAnswer(line, call) : PutLinuxAnswer(line, call);
  PutOutAndTime(line, asked, ok, took);
  int fd = TraceFd(s);
  if (fd >= 0) line.Write(fd);
}

}  // namespace hyxsim
