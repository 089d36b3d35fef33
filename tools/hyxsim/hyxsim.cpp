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
#include <fstream>
#include <nlohmann/json.hpp>
#include <sstream>

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

}  // namespace

int main(int argc, char **argv) {
  SandboxSpec sandbox;
  std::string profile = HYXSIM_DEFAULT_PROFILE;
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

  std::ifstream in(profile);
  std::stringstream text;
  text << in.rdbuf();
  sandbox.profileText = text.str();
  nlohmann::json document = nlohmann::json::parse(sandbox.profileText, nullptr, false, true);
  if (!in || document.is_discarded() || !document.is_object()) {
    fprintf(stderr, "hyxsim: %s is not a readable JSON host profile\n", profile.c_str());
    return 2;
  }
  sandbox.mockup = document.value("mockup", false);

  const char *library = getenv("HYXSIM_LIBRARY");
  sandbox.simLibrary = Absolute(library && *library ? library : HYXSIM_LIBRARY_PATH);
  sandbox.readOnly.push_back(Directory(sandbox.simLibrary));
  if (strchr(sandbox.command[0].c_str(), '/')) sandbox.readOnly.push_back(Directory(Absolute(sandbox.command[0])));
  if (daemons) {
    for (const char *daemon : {HYXSIM_HOBD_PATH, HYXSIM_SNMP_AGENT_PATH}) {
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
