// The host profile: what the simulated host is and holds.
#pragma once

#include <sys/utsname.h>

#include <cstdint>
#include <nlohmann/json.hpp>
#include <string>

namespace hyxsim {

struct Profile {
  std::string path;        // "" for the built-in hypervisor host
  bool hyxkernel = true;   // kernel calls answered by the Hyxkernel model
  bool mockup = false;     // the sandbox places the mock-up marker
  uint32_t syscallApiChecksum = 0xb535cbbb;
  struct utsname names {}; // what uname reports
  nlohmann::json document; // the whole file, for the models that read more of it
};

// Loads the profile at `path` (null or empty: the built-in hypervisor host);
// `realNames` is the machine's own uname, which the profile's "kernel"
// section overrides.  A profile that cannot be read ends the process.
void LoadProfile(const char *path, const struct utsname &realNames);

const Profile &CurrentProfile();

// Reads a profile file; on error returns false and says why in `error`.
bool ReadProfile(const std::string &path, const struct utsname &realNames, Profile &profile, std::string &error);

}  // namespace hyxsim
