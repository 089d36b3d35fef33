// hyxsim: runs a program as if it were on a Hyxkernel host.
//
//   hyxsim [--profile FILE] [--bind DIR]... [--ro PATH]... -- PROGRAM ARGS
//
// The program gets a private host (see sandbox.h) with the simulated kernel
// preloaded and the profile's host in it.  Its exit status, or the signal
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
  fputs("usage: hyxsim [--profile FILE] [--bind DIR]... [--ro PATH]... -- PROGRAM [ARGS...]\n", stderr);
  return 2;
}

std::string Absolute(const std::string &path) {
  char resolved[PATH_MAX];
  return realpath(path.c_str(), resolved) ? resolved : path;
}

std::string Directory(const std::string &path) { return path.substr(0, path.rfind('/')); }

// Ends this process the way the program ended.
[[noreturn]] void PassThrough(int status) {
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
    exit(128 + signal);
  }
  exit(WIFEXITED(status) ? WEXITSTATUS(status) : 1);
}

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
  int i = 1;
  for (; i < argc && strcmp(argv[i], "--") != 0; ++i) {
    std::string option = argv[i];
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
  sandbox.simLibrary =
      Absolute(library && *library ? library : InstalledOr(HYXSIM_INSTALLED_LIBRARY, HYXSIM_LIBRARY_PATH));
  sandbox.readOnly.push_back(Directory(sandbox.simLibrary));
  if (strchr(sandbox.command[0].c_str(), '/')) sandbox.readOnly.push_back(Directory(Absolute(sandbox.command[0])));
  char cwd[PATH_MAX];
  if (getcwd(cwd, sizeof cwd) && strcmp(cwd, "/") != 0) sandbox.binds.push_back(cwd);

  int status = RunInSandbox(sandbox);
  if (status < 0) return 126;
  PassThrough(status);
}
