// The host profile: what the simulated host is and holds.
#pragma once

#include <sys/utsname.h>

#include <cstdint>
#include <nlohmann/json.hpp>
#include <string>

#include "hyxsysinfo/kernelCall.h"

namespace hyxsim {

struct Profile {
  std::string path;       // "" for the built-in host
  bool hyxkernel = true;  // kernel calls answered by the Hyxkernel model
  bool mockup = false;    // the sandbox places the mock-up marker
  uint32_t syscallApiChecksum = SYSCALL_API_CHECKSUM;
  bool acceptsHsiSignature = true;
  bool hsiRenumbered = false;               // the kernel numbers its nodes its own way
  uint64_t uptimeMicroseconds = 825785982;  // the host's uptime when the simulator loads
  std::string build = "Hyxkernel build 24585383";
  std::string snapshot;     // HYXSIM_SNAPSHOT: the system-information tree is served from this file
  struct utsname names {};  // what uname reports
  nlohmann::json document = nlohmann::json::object();  // the merged file, for the sections models load
};

// Loads the profile at `path`, or the built-in host when path is null or
// empty; `realNames` is the machine's own uname, which the profile's "kernel"
// section overrides.  A profile that cannot be read, or whose "kernel"
// section is wrong, ends the process with status 127, naming the field.
// `snapshot` (null or empty: none) names a system-information snapshot the
// host serves in place of the profile's values; it is read with the models.
void LoadProfile(const char *path, const struct utsname &realNames, const char *snapshot);

const Profile &CurrentProfile();

// Reads a profile file and its "kernel" section; on error returns false and
// says why in `error`.
bool ReadProfile(const std::string &path, const struct utsname &realNames, Profile &profile,
                 std::string &error);

}  // namespace hyxsim
