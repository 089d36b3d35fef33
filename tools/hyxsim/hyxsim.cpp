// hyxsim: runs a program as if it were on a Hyxkernel host.
//
//   hyxsim [--profile FILE|NAME] [--snapshot FILE] [--daemons [--records DIR]] [--bind PATH]...
//          [--ro PATH]... [TRACE OPTIONS] -- PROGRAM ARGS
//
// --snapshot FILE serves the system-information calls from a snapshot of a
// host's tree (lib/hyxsysinfo/hsiCacheFormat.h) instead of the profile's
// values; every other call still answers from the profile.
//
// --trace[=FILE] writes one line per kernel call the program and its
// children make (sim/README.md shows the formats) to FILE or stderr;
// --trace-format=text|json, --trace-calls=LIST and --trace-nodes=PREFIX
// choose the form and the calls.  --trace=json and --trace=text are short
// for --trace --trace-format=...
//
// The program gets a private host (see sandbox.h) with the simulated kernel
// preloaded and the profile's host in it; nothing of this machine is
// writable there but what --bind names (kUsage says what is visible).  With --daemons the host's
// observation daemon, SNMP agent and management daemon run beside it
// (hyxsim/daemons.h says what they record and where).  Its exit status, or the signal
// that ended it, is hyxsim's own.
#include <fcntl.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <nlohmann/json.hpp>

#include "layout.h"
#include "models/hsiPaths.h"
#include "profileDocument.h"
#include "sandbox.h"
#include "sandboxPaths.h"
#include "traceCalls.h"

namespace {

constexpr const char kUsage[] =
    "usage: hyxsim [OPTIONS] -- PROGRAM [ARGS...]\n"
    "       hyxsim --help\n"
    "\n"
    "  --profile FILE|NAME    the host profile: a file, or the name of an example\n"
    "                         host (hxfs, mockup, ...); default: the example\n"
    "                         hypervisor host\n"
    "  --snapshot FILE        answer the system-information calls (gets, lists, the\n"
    "                         signature exchange, module ids and node definitions)\n"
    "                         from this snapshot of a host's tree; sets are refused\n"
    "                         with HYX_HSI_HANDLER_NOT_FOUND, every other call still\n"
    "                         comes from the profile\n"
    "  --daemons              run the observation daemon, SNMP agent and management\n"
    "                         daemon in the sandbox; each records what it receives\n"
    "                         in /run/hyxsim/*.jsonl\n"
    "  --records DIR          with --daemons: copy those records into DIR when the\n"
    "                         program ends\n"
    "  --bind PATH            make PATH (absolute) visible in the sandbox, writable\n"
    "                         (repeatable)\n"
    "  --ro PATH              make PATH (absolute) visible in the sandbox, read-only\n"
    "                         (repeatable)\n"
    "  --trace[=FILE]         every kernel call of the program and its children,\n"
    "                         decoded, on stderr or in FILE\n"
    "  --trace=json, --trace-format=text|json\n"
    "                         the trace as text or as JSON lines\n"
    "  --trace-calls=LIST     only these calls (names or groups, comma-separated)\n"
    "  --trace-nodes=PREFIX   only system-information calls on nodes under PREFIX\n"
    "\n"
    "Inside, nothing of this machine is writable but what --bind names.  Visible\n"
    "read-only: /usr, /bin, /lib, /etc (with the sandbox's own accounts, PAM\n"
    "services and host configuration), /sys, the current directory, PROGRAM's\n"
    "directory, hyxsim's own directory and the simulator's, and what --ro names.\n"
    "The sandbox's own, on a tmpfs that vanishes with it: /tmp, /run, /var, /root,\n"
    "/home, /dev and the host's paths; the HXFS device images go on the disk, under\n"
    "$TMPDIR or /var/tmp, where that tmpfs refuses direct reads (Linux before 6.6),\n"
    "and are removed with the sandbox.  PROGRAM is looked up on the caller's PATH.\n"
    "Signals hyxsim receives go to PROGRAM; when hyxsim is killed, everything it\n"
    "started is killed too.\n"
    "\n"
    "Exit status: the program's; 2 for bad usage or a file that cannot be read;\n"
    "125 for a profile, snapshot or trace setting the simulator refuses (one\n"
    "line names the fault); 126 when the sandbox cannot be made or PROGRAM\n"
    "cannot be run; 127 when PROGRAM is not found.\n";

// Command-line text as messages show it: a long argument is cut.
std::string Shown(const std::string &text) {
  constexpr size_t kLongest = 80;
  return text.size() <= kLongest ? text : text.substr(0, kLongest) + "...";
}

// A usage error: what was wrong, and where to read more.
int UsageError(const std::string &what) {
  fprintf(stderr, "hyxsim: %s\nTry 'hyxsim --help'.\n", what.c_str());
  return 2;
}

std::string Absolute(const std::string &path) {
  char resolved[PATH_MAX];
  return realpath(path.c_str(), resolved) ? resolved : path;
}

std::string Directory(const std::string &path) { return path.substr(0, path.rfind('/')); }

struct TraceRequest {
  bool on = false;
  std::string file, format, calls, nodes;
};

// One --trace option; false for an option of that name it does not know.
bool TakeTraceOption(const std::string &option, TraceRequest &trace) {
  auto value = [&](const char *name, std::string &out) {
    size_t length = strlen(name);
    if (option.compare(0, length, name) != 0) return false;
    out = option.substr(length);
    return true;
  };
  trace.on = true;
  if (option == "--trace") return true;
  if (value("--trace=", trace.file)) {
    if (trace.file == "json" || trace.file == "text")
      trace.format = std::move(trace.file), trace.file.clear();
    return true;
  }
  return value("--trace-format=", trace.format) || value("--trace-calls=", trace.calls) ||
         value("--trace-nodes=", trace.nodes);
}

// --bind and --ro name a path of this machine that exists, written
// absolute: it is bound at its real path, symbolic links resolved.
bool TakeMount(const std::string &option, const std::string &path, bool writable, SandboxSpec &sandbox,
               std::string &error) {
  char resolved[PATH_MAX];
  if (path.empty() || path[0] != '/')
    error = option + " " + Shown(path) + ": not an absolute path";
  else if (realpath(path.c_str(), resolved) == nullptr)
    error = option + " " + Shown(path) + ": " + strerror(errno);
  else
    sandbox.mounts.push_back({resolved, writable});
  return error.empty();
}

// --profile takes a file or, when nothing of that name is here, the name of
// one of the example hosts in `hosts`.
std::string ProfilePath(const std::string &given, const std::string &hosts) {
  if (given.find('/') != std::string::npos || access(given.c_str(), F_OK) == 0) return given;
  for (const char *suffix : {"", ".json"}) {
    std::string host = hosts + "/" + given + suffix;
    if (access(host.c_str(), F_OK) == 0) return host;
  }
  return given;
}

// PROGRAM as the caller's shell would find it: a name without "/" is looked
// up in the directories of `dirs` (a PATH).  Empty when it is not there.
std::string FindProgram(const std::string &name, const std::string &dirs) {
  if (name.find('/') != std::string::npos) return name;
  for (size_t at = 0; at <= dirs.size();) {
    size_t end = dirs.find(':', at);
    if (end == std::string::npos) end = dirs.size();
    std::string dir = end > at ? dirs.substr(at, end - at) : ".";
    std::string candidate = dir + "/" + name;
    struct stat st;
    if (stat(candidate.c_str(), &st) == 0 && S_ISREG(st.st_mode) && access(candidate.c_str(), X_OK) == 0)
      return candidate;
    at = end + 1;
  }
  return "";
}

// Hands the trace to the simulator in the sandbox: hyxsim holds the
// destination (FILE, or its own stderr) open, the sandbox's first process
// (pid 1 there) inherits it, and every traced process opens it again
// through /proc, so no path needs to be reachable in the sandbox.  Returns false with a message when FILE
// cannot be made.
bool PassTrace(const TraceRequest &trace, SandboxSpec &sandbox) {
  int fd = trace.file.empty()
               ? fcntl(STDERR_FILENO, F_DUPFD_CLOEXEC, 3)
               : open(trace.file.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_APPEND | O_CLOEXEC, 0644);
  if (fd < 0) {
    fprintf(stderr, "hyxsim: %s: %s\n", trace.file.empty() ? "stderr" : trace.file.c_str(), strerror(errno));
    return false;
  }
  sandbox.environment.push_back("HYXSIM_TRACE=/proc/1/fd/" + std::to_string(fd));
  if (!trace.format.empty()) sandbox.environment.push_back("HYXSIM_TRACE_FORMAT=" + trace.format);
  if (!trace.calls.empty()) sandbox.environment.push_back("HYXSIM_TRACE_CALLS=" + trace.calls);
  if (!trace.nodes.empty()) sandbox.environment.push_back("HYXSIM_TRACE_NODES=" + trace.nodes);
  return true;
}

// What the command line asks for.
struct Request {
  SandboxSpec sandbox;
  std::string profile = hyxsim::DefaultProfilePath();
  std::string snapshot;
  bool daemons = false;
  TraceRequest trace;
};

// Reads the options up to "--" and PROGRAM after it.  Returns -1 to go on,
// else hyxsim's exit status: 0 after --help, 2 for bad usage.
int ReadOptions(int argc, char **argv, Request &request) {
  if (argc == 2 && (strcmp(argv[1], "--help") == 0 || strcmp(argv[1], "-h") == 0)) {
    fputs(kUsage, stdout);
    return 0;
  }
  SandboxSpec &sandbox = request.sandbox;
  std::string hosts = Directory(request.profile);
  std::string error;
  int i = 1;
  for (; i < argc && strcmp(argv[i], "--") != 0; ++i) {
    std::string option = argv[i];
    if (option == "--daemons") {
      request.daemons = true;
      continue;
    }
    if (option.rfind("--trace", 0) == 0) {
      if (!TakeTraceOption(option, request.trace)) return UsageError("unknown option " + Shown(option));
      continue;
    }
    bool known = option == "--profile" || option == "--snapshot" || option == "--bind" || option == "--ro" ||
                 option == "--records";
    if (!known)
      return UsageError(option.rfind("-", 0) == 0
                            ? "unknown option " + Shown(option)
                            : "PROGRAM follows \"--\": hyxsim [OPTIONS] -- " + Shown(option));
    if (i + 1 >= argc) return UsageError(option + " takes a value");
    std::string value = argv[++i];
    if (option == "--profile")
      request.profile = ProfilePath(value, hosts);
    else if (option == "--snapshot")
      request.snapshot = value;
    else if (option == "--records")
      sandbox.recordsDirectory = value;
    else if (!TakeMount(option, value, option == "--bind", sandbox, error))
      return UsageError(error);
  }
  if (i + 1 >= argc) return UsageError("no PROGRAM: hyxsim [OPTIONS] -- PROGRAM [ARGS...]");
  sandbox.command.assign(argv + i + 1, argv + argc);
  return -1;
}

// The option values read alone make sense of: the trace settings, checked
// as the simulator checks them, and --records only beside --daemons.
// Returns -1 when they are sound, else 2 after the usage error.
int CheckOptions(const Request &request) {
  const TraceRequest &trace = request.trace;
  if (!trace.format.empty() && trace.format != "text" && trace.format != "json")
    return UsageError("--trace-format " + Shown(trace.format) + ": neither text nor json");
  size_t families = 0, calls = 0;
  for (size_t at = 0; at <= trace.calls.size();) {
    size_t end = std::min(trace.calls.find(',', at), trace.calls.size());
    std::string entry = trace.calls.substr(at, end - at);
    hyxsim::TraceCallName name = hyxsim::FindTraceCall(entry.c_str());
    if (!entry.empty() && name.group == nullptr && !name.isNumber)
      return UsageError("--trace-calls: " + Shown(entry) + " is no call or family of calls");
    size_t &count = name.group != nullptr ? families : calls;
    if (!entry.empty() && ++count > hyxsim::kMaxTraceFilters)
      return UsageError("--trace-calls: " + Shown(entry) + " " + hyxsim::kTooManyTraceFilters);
    at = end + 1;
  }
  // The same reading of a node path as the simulator's; both numberings of
  // the kernel's tree name the same nodes.
  std::string nodePrefix;
  if (!trace.nodes.empty() && !hyxsim::HsiTraceNodePrefix(hyxsim::OwnHsiTables(), trace.nodes, nodePrefix))
    return UsageError("--trace-nodes: " + hyxsim::HsiUnknownNodeText(Shown(trace.nodes)));
  if (!request.sandbox.recordsDirectory.empty() && !request.daemons)
    return UsageError("--records is for --daemons");
  return -1;
}

// The sandbox gets the profile with what it inherits merged in; the
// simulated kernel checks its sections when the program starts, and names
// the file the way the caller did.  False after saying why the file cannot
// be read.
bool TakeProfile(const std::string &profile, SandboxSpec &sandbox) {
  nlohmann::json document;
  std::string error;
  if (!hyxsim::ReadProfileDocument(profile, document, error)) {
    fprintf(stderr, "hyxsim: %s\n", error.c_str());
    return false;
  }
  sandbox.profileText = document.dump(2);
  sandbox.environment.push_back("HYXSIM_PROFILE_NAME=" + profile);
  // A faulty section is left for the simulated kernel to name at start.
  auto volumes = document.find("volumes");
  if (volumes != document.end() && !hyxsim::ParseVolumes(&*volumes, sandbox.volumes, error))
    sandbox.volumes.clear();
  auto mockup = document.find("mockup");
  sandbox.mockup = mockup != document.end() && mockup->is_boolean() && mockup->get<bool>();
  return true;
}

// The snapshot is bound read-only into the sandbox, where the simulated
// kernel checks it when the program starts.  False after saying why it
// cannot be opened.
bool TakeSnapshot(const std::string &snapshot, SandboxSpec &sandbox) {
  if (snapshot.empty()) return true;
  int fd = open(snapshot.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) {
    fprintf(stderr, "hyxsim: %s: %s\n", snapshot.c_str(), strerror(errno));
    return false;
  }
  close(fd);
  sandbox.snapshot = Absolute(snapshot);
  sandbox.environment.push_back(std::string("HYXSIM_SNAPSHOT=") + hyxsim::kSandboxSnapshot);
  sandbox.environment.push_back("HYXSIM_SNAPSHOT_NAME=" + snapshot);
  return true;
}

// What the program needs to run is visible read-only: the simulator, the
// program itself, hyxsim's own directory (the tools installed beside it)
// and the daemons.  False after saying that PROGRAM is not found.
bool TakePrograms(bool daemons, SandboxSpec &sandbox) {
  const char *library = getenv("HYXSIM_LIBRARY");
  sandbox.simLibrary = Absolute(library && *library ? library : hyxsim::SimLibraryPath());
  AddReadOnly(sandbox, Directory(sandbox.simLibrary));
  // The tools installed beside hyxsim run inside by name, after the
  // caller's own PATH: PREFIX/bin/hyxsim -- hyxinfo uses PREFIX/bin/hyxinfo.
  std::string own = hyxsim::OwnDirectory();
  const char *callerPath = getenv("PATH");
  std::string path = callerPath && *callerPath ? callerPath : "/usr/local/bin:/usr/bin:/bin";
  if (!own.empty()) {
    AddReadOnly(sandbox, own);
    path += ":" + own;
    sandbox.environment.push_back("PATH=" + path);
  }
  std::string program = FindProgram(sandbox.command[0], path);
  if (program.empty()) {
    fprintf(stderr, "hyxsim: %s: not found\n", Shown(sandbox.command[0]).c_str());
    return false;
  }
  sandbox.executable = Absolute(program);
  AddReadOnly(sandbox, Directory(sandbox.executable));
  if (daemons) {
    for (const std::string &daemon : hyxsim::DaemonPaths()) {
      sandbox.daemons.push_back(daemon);
      AddReadOnly(sandbox, Directory(daemon));
    }
  }
  char cwd[PATH_MAX];
  if (getcwd(cwd, sizeof cwd)) sandbox.workingDirectory = cwd;
  return true;
}

// Where the HXFS device images go when the sandbox's tmpfs cannot take
// direct I/O, or when HYXSIM_DEVICES_ON_DISK asks for the disk anyway (to
// check that path on a kernel that does not need it): a private directory
// under $TMPDIR, else /var/tmp.
void TakeDevicePlace(SandboxSpec &sandbox) {
  const char *force = getenv("HYXSIM_DEVICES_ON_DISK");
  sandbox.devicesOnDisk = force && *force && strcmp(force, "0") != 0;
  const char *tmpdir = getenv("TMPDIR");
  sandbox.diskParent = Absolute(tmpdir && *tmpdir ? tmpdir : "/var/tmp");
}

}  // namespace

int main(int argc, char **argv) {
  Request request;
  if (int status = ReadOptions(argc, argv, request); status >= 0) return status;
  if (int status = CheckOptions(request); status >= 0) return status;
  if (!TakeProfile(request.profile, request.sandbox) || !TakeSnapshot(request.snapshot, request.sandbox))
    return 2;
  if (!TakePrograms(request.daemons, request.sandbox)) return 127;
  if (request.trace.on && !PassTrace(request.trace, request.sandbox)) return 2;
  TakeDevicePlace(request.sandbox);
  int status = RunInSandbox(request.sandbox);
  if (status < 0) return 126;
  ExitLike(status);
}
