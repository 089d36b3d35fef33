// Where hyxsim finds what it runs with: the simulator, the host's daemons,
// the example hosts and the tools installed beside it.  Every place is
// relative to hyxsim's own executable, first as an installed tree lays it
// out (PREFIX/bin/hyxsim), then as a build tree does, so an installed prefix
// can be moved and holds no path of the tree it was built in.
#pragma once

#include <string>
#include <vector>

namespace hyxsim {

// The directory hyxsim runs from ("" when /proc cannot tell).
std::string OwnDirectory();

// libhyxsim.so, preloaded into the program.
std::string SimLibraryPath();

// The observation daemon, the SNMP agent and the management daemon.
std::vector<std::string> DaemonPaths();

// The example host profiles (hypervisor.json and those that inherit it).
std::string HostsDirectory();

// The profile a run without --profile gets.
std::string DefaultProfilePath();

}  // namespace hyxsim
