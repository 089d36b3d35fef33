// A private host for one program: its own mount and network namespaces, a
// root on tmpfs laid out like a Hyxkernel host, loopback only.
#pragma once

#include <string>
#include <vector>

#include "volumes.h"

struct SandboxSpec {
  std::string profileText;                  // copied to /run/hyxsim/profile.json
  std::string snapshot;                     // bound read-only at /run/hyxsim/snapshot.hsi
  bool mockup = false;                      // place the mock-up marker
  std::string simLibrary;                   // preloaded into the program
  std::vector<std::string> binds;           // host directories bound read-write at the same path
  std::vector<std::string> readOnly;        // host paths bound read-only at the same path
  std::vector<std::string> daemons;         // started before the command, stopped after it
  std::vector<hyxsim::VolumeSpec> volumes;  // laid out on the sandbox's tmpfs
  std::vector<std::string> environment;     // NAME=VALUE entries the program gets
  std::vector<std::string> command;
};

// Ends this process the way a child with wait status `status` ended.
[[noreturn]] void ExitLike(int status);

// Runs sandbox.command in the sandbox and returns its wait status.  Returns -1
// (with a message on stderr) when the sandbox could not be made.
int RunInSandbox(const SandboxSpec &sandbox);
