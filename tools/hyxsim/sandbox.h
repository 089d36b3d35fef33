// A private host for one program: its own mount and network namespaces, a
// root on tmpfs laid out like a Hyxkernel host, loopback only.  The HXFS
// device images go on the disk instead where the tmpfs cannot take direct
// I/O (diskDevices.h).
#pragma once

#include <string>
#include <vector>

#include "volumes.h"

// A host path made visible in the sandbox at the same path.
struct SandboxMount {
  std::string path;  // absolute, symbolic links resolved
  bool writable = false;
};

struct SandboxSpec {
  std::string profileText;                  // copied to /run/hyxsim/profile.json
  std::string snapshot;                     // bound read-only at /run/hyxsim/snapshot.hsi
  bool mockup = false;                      // place the mock-up marker
  std::string simLibrary;                   // preloaded into the program
  std::vector<SandboxMount> mounts;         // host paths bound at the same path
  std::string workingDirectory;             // the caller's; read-only unless a mount or the sandbox has it
  std::vector<std::string> daemons;         // started before the command, stopped after it
  std::string recordsDirectory;             // where the daemons' records are copied at the end
  std::vector<hyxsim::VolumeSpec> volumes;  // laid out on the sandbox's tmpfs
  bool devicesOnDisk = false;               // the device tree on the disk even where the tmpfs would do
  std::string diskParent;                   // where the device tree goes on the disk: $TMPDIR or /var/tmp
  std::vector<std::string> environment;     // NAME=VALUE entries the program gets
  std::string executable;                   // the file command[0] names, found on the caller's PATH
  std::vector<std::string> command;
};

// Makes host path visible read-only, unless a mount already shows it.
void AddReadOnly(SandboxSpec &sandbox, const std::string &path);

// Ends this process the way a child with wait status `status` ended.
[[noreturn]] void ExitLike(int status);

// Runs sandbox.command in the sandbox and returns its wait status.  Returns -1
// (with a message on stderr) when the sandbox could not be made.
int RunInSandbox(const SandboxSpec &sandbox);
