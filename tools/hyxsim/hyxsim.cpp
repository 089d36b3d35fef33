// hyxsim: runs a program as if it were on a Hyxkernel host.
//
//   hyxsim [--profile FILE] [--snapshot FILE] [--daemons] [--bind DIR]... [--ro PATH]... [TRACE OPTIONS]
//          -- PROGRAM ARGS
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
// preloaded and the profile's host in it.  With --daemons the host's
// observation daemon, SNMP agent and management daemon run beside it
// (hyxsim/daemons.h says what they record and where).  Its exit status, or the signal
// that ended it, is hyxsim's own.
#include <fcntl.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <nlohmann/json.hpp>

#include "layout.h"
#include "profileDocument.h"
#include "sandbox.h"
#include "sandboxPaths.h"

namespace {

constexpr const char kUsage[] =
    "usage: hyxsim [OPTIONS] -- PROGRAM [ARGS...]\n"
    "       hyxsim --help\n"
    "\n"
    "  --profile FILE         the host profile (default: the example hypervisor host)\n"
    "  --snapshot FILE        answer the system-information calls (gets, lists, the\n"
    "                         signature exchange, module ids and node definitions)\n"
    "                         from this snapshot of a host's tree; sets are refused\n"
    "                         with HYX_HSI_HANDLER_NOT_FOUND, every other call still\n"
    "                         comes from the profile\n"
    "  --daemons              run the observation daemon, SNMP agent and management\n"
    "                         daemon in the sandbox; each records what it receives\n"
    "                         in /run/hyxsim/*.jsonl\n"
    "  --bind DIR             make DIR visible in the sandbox, writable (repeatable)\n"
    "  --ro PATH              make PATH visible in the sandbox, read-only (repeatable)\n"
    "  --trace[=FILE]         every kernel call of the program and its children,\n"
    "                         decoded, on stderr or in FILE\n"
    "  --trace=json, --trace-format=text|json\n"
    "                         the trace as text or as JSON lines\n"
    "  --trace-calls=LIST     only these calls (names or groups, comma-separated)\n"
    "  --trace-nodes=PREFIX   only system-information calls on nodes under PREFIX\n"
    "\n"
    "Exit status: the program's; 127 for a profile or snapshot the simulator refuses\n"
    "(one line names the fault); 2 for bad usage or a file that cannot be read.\n";

int Usage() {
  fputs(kUsage, stderr);
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

// Hands the trace to the simulator in the sandbox: hyxsim holds the
// destination (FILE, or its own stderr) open, and every traced process
// opens it again through /proc, so no path needs to be reachable in the
// sandbox.  Returns false with a message when FILE cannot be made.
bool PassTrace(const TraceRequest &trace, SandboxSpec &sandbox) {
  int fd = trace.file.empty()
               ? fcntl(STDERR_FILENO, F_DUPFD_CLOEXEC, 3)
               : open(trace.file.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_APPEND | O_CLOEXEC, 0644);
  if (fd < 0) {
    fprintf(stderr, "hyxsim: %s: %s\n", trace.file.empty() ? "stderr" : trace.file.c_str(), strerror(errno));
    return false;
  }
  sandbox.environment.push_back("HYXSIM_TRACE=/proc/" + std::to_string(getpid()) + "/fd/" +
                                std::to_string(fd));
  if (!trace.format.empty()) sandbox.environment.push_back("HYXSIM_TRACE_FORMAT=" + trace.format);
  if (!trace.calls.empty()) sandbox.environment.push_back("HYXSIM_TRACE_CALLS=" + trace.calls);
  if (!trace.nodes.empty()) sandbox.environment.push_back("HYXSIM_TRACE_NODES=" + trace.nodes);
  return true;
}

}  // namespace

int main(int argc, char **argv) {
  SandboxSpec sandbox;
  std::string profile = hyxsim::DefaultProfilePath();
  std::string snapshot;
  bool daemons = false;
  TraceRequest trace;
  int i = 1;
  if (argc == 2 && (strcmp(argv[1], "--help") == 0 || strcmp(argv[1], "-h") == 0)) {
    fputs(kUsage, stdout);
    return 0;
  }
  for (; i < argc && strcmp(argv[i], "--") != 0; ++i) {
    std::string option = argv[i];
    if (option == "--daemons") {
      daemons = true;
      continue;
    }
    if (option.rfind("--trace", 0) == 0) {
      if (!TakeTraceOption(option, trace)) return Usage();
      continue;
    }
    if (i + 1 >= argc) return Usage();
    if (option == "--profile")
      profile = argv[++i];
    else if (option == "--snapshot")
      snapshot = argv[++i];
    else if (option == "--bind")
      sandbox.binds.push_back(Absolute(argv[++i]));
    else if (option == "--ro")
      sandbox.readOnly.push_back(Absolute(argv[++i]));
    else
      return Usage();
  }
  if (i + 1 >= argc) return Usage();
  sandbox.command.assign(argv + i + 1, argv + argc);

  // The sandbox gets the profile with what it inherits merged in; the
  // simulated kernel checks its sections when the program starts.
  nlohmann::json document;
  std::string error;
  if (!hyxsim::ReadProfileDocument(profile, document, error)) {
    fprintf(stderr, "hyxsim: %s\n", error.c_str());
    return 2;
  }
  sandbox.profileText = document.dump(2);
  // A faulty section is left for the simulated kernel to name at start.
  auto volumes = document.find("volumes");
  if (volumes != document.end() && !hyxsim::ParseVolumes(&*volumes, sandbox.volumes, error))
    sandbox.volumes.clear();
  // The snapshot is bound read-only into the sandbox, where the simulated
  // kernel checks it when the program starts.
  if (!snapshot.empty()) {
    int fd = open(snapshot.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) {
      fprintf(stderr, "hyxsim: %s: %s\n", snapshot.c_str(), strerror(errno));
      return 2;
    }
    close(fd);
    sandbox.snapshot = Absolute(snapshot);
    sandbox.environment.push_back(std::string("HYXSIM_SNAPSHOT=") + hyxsim::kSandboxSnapshot);
  }
  auto mockup = document.find("mockup");
  sandbox.mockup = mockup != document.end() && mockup->is_boolean() && mockup->get<bool>();

  const char *library = getenv("HYXSIM_LIBRARY");
  sandbox.simLibrary = Absolute(library && *library ? library : hyxsim::SimLibraryPath());
  sandbox.readOnly.push_back(Directory(sandbox.simLibrary));
  // The tools installed beside hyxsim run inside by name, after the
  // caller's own PATH: PREFIX/bin/hyxsim -- hyxinfo uses PREFIX/bin/hyxinfo.
  std::string own = hyxsim::OwnDirectory();
  if (!own.empty()) {
    sandbox.readOnly.push_back(own);
    const char *path = getenv("PATH");
    sandbox.environment.push_back("PATH=" + (path && *path ? std::string(path) + ":" : "") + own);
  }
  if (strchr(sandbox.command[0].c_str(), '/'))
    sandbox.readOnly.push_back(Directory(Absolute(sandbox.command[0])));
  if (daemons) {
    for (const std::string &daemon : hyxsim::DaemonPaths()) {
      sandbox.daemons.push_back(daemon);
      sandbox.readOnly.push_back(Directory(daemon));
    }
  }
  char cwd[PATH_MAX];
  if (getcwd(cwd, sizeof cwd) && strcmp(cwd, "/") != 0) sandbox.binds.push_back(cwd);

  if (trace.on && !PassTrace(trace, sandbox)) return 2;

  int status = RunInSandbox(sandbox);
  if (status < 0) return 126;
  ExitLike(status);
}
