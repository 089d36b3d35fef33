// hyxsim: runs a program as if it were on a Hyxkernel host.
//
//   hyxsim [--profile FILE] [--daemons] [--bind DIR]... [--ro PATH]... -- PROGRAM ARGS
//
// The program gets a private host (see sandbox.h) with the simulated kernel
// preloaded and the profile's host in it.  With --daemons the host's
// observation daemon and SNMP agent run beside it (hyxsim/daemons.h says
// what they record and where).  Its exit status, or the signal
// that ended it, is hyxsim's own.
#include <signal.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <nlohmann/json.hpp>

#include "profileDocument.h"
#include "sandbox.h"

namespace {

int Usage() {
  fputs("usage: hyxsim [--profile FILE] [--daemons] [--bind DIR]... [--ro PATH]... -- PROGRAM [ARGS...]\n", stderr);
  return 2;
}

std::string Absolute(const std::string &path) {
  char resolved[PATH_MAX];
  return realpath(path.c_str(), resolved) ? resolved : path;
}

std::string Directory(const std::string &path) { return path.substr(0, path.rfind('/')); }

// An installed hyxsim finds the simulator and the example hosts beside it
// (PREFIX/bin/hyxsim, PREFIX/<relative>); one in the build tree uses the
// build's own paths.
std::string InstalledOr(const char *relative, const char *buildPath) {
  char self[PATH_MAX];
  ssize_t n = readlink("/proc/self/exe", self, sizeof self - 1);
  if (n > 0) {
    self[n] = '\0';
    std::string installed = Directory(Directory(self)) + "/" + relative;
    if (access(installed.c_str(), F_OK) == 0) return installed;
  }
  return buildPath;
}

}  // namespace

int main(int argc, char **argv) {
  SandboxSpec sandbox;
  std::string profile = InstalledOr(HYXSIM_INSTALLED_PROFILE, HYXSIM_DEFAULT_PROFILE);
  bool daemons = false;
  int i = 1;
  for (; i < argc && strcmp(argv[i], "--") != 0; ++i) {
    std::string option = argv[i];
    if (option == "--daemons") {
      daemons = true;
      continue;
    }
    if (i + 1 >= argc) return Usage();
    if (option == "--profile") profile = argv[++i];
    else if (option == "--bind") sandbox.binds.push_back(Absolute(argv[++i]));
    else if (option == "--ro") sandbox.readOnly.push_back(Absolute(argv[++i]));
    else return Usage();
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
  if (volumes != document.end() && !hyxsim::ParseVolumes(&*volumes, sandbox.volumes, error)) sandbox.volumes.clear();
  auto mockup = document.find("mockup");
  sandbox.mockup = mockup != document.end() && mockup->is_boolean() && mockup->get<bool>();

  const char *library = getenv("HYXSIM_LIBRARY");
  sandbox.simLibrary =
      Absolute(library && *library ? library : InstalledOr(HYXSIM_INSTALLED_LIBRARY, HYXSIM_LIBRARY_PATH));
  sandbox.readOnly.push_back(Directory(sandbox.simLibrary));
  if (strchr(sandbox.command[0].c_str(), '/')) sandbox.readOnly.push_back(Directory(Absolute(sandbox.command[0])));
  if (daemons) {
    for (const std::string &daemon : {InstalledOr(HYXSIM_INSTALLED_HOBD, HYXSIM_HOBD_PATH),
                                      InstalledOr(HYXSIM_INSTALLED_SNMP_AGENT, HYXSIM_SNMP_AGENT_PATH)}) {
      sandbox.daemons.push_back(daemon);
      sandbox.readOnly.push_back(Directory(daemon));
    }
  }
  char cwd[PATH_MAX];
  if (getcwd(cwd, sizeof cwd) && strcmp(cwd, "/") != 0) sandbox.binds.push_back(cwd);

  int status = RunInSandbox(sandbox);
  if (status < 0) return 126;
  ExitLike(status);
}
