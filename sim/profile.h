// The host profile: what the simulated host is and holds.
#pragma once

#include <sys/utsname.h>

#include <cstdint>
#include <nlohmann/json.hpp>
#include <string>

#include "hyxsim/hyxsim.h"
#include "hyxsysinfo/kernelCall.h"

namespace hyxsim {

struct Profile {
  std::string path;       // "" for the built-in host
  std::string name;       // how messages name the profile: hyxsim gives the file its caller named
  bool hyxkernel = true;  // kernel calls answered by the Hyxkernel model
  bool mockup = false;    // the sandbox places the mock-up marker
  uint32_t syscallApiChecksum = SYSCALL_API_CHECKSUM;
  bool acceptsHsiSignature = true;
  bool hsiRenumbered = false;               // the kernel numbers its nodes its own way
  uint64_t uptimeMicroseconds = 825785982;  // the host's uptime when the simulator loads
  std::string build = "Hyxkernel build 24585383";
  std::string snapshot;      // HYXSIM_SNAPSHOT: the system-information tree is served from this file
  std::string snapshotName;  // how messages name the snapshot
  struct utsname names {};   // what uname reports
  nlohmann::json document = nlohmann::json::object();  // the merged file, for the sections models load
};

// What a profile or snapshot the simulator refuses ends the process with.
inline constexpr int kRefusedStatus = HYXSIM_REFUSED_STATUS;

// How a process names the files it runs on in messages.  hyxsim passes the
// names its caller gave (HYXSIM_PROFILE_NAME, HYXSIM_SNAPSHOT_NAME) for the
// copies it places in the sandbox; otherwise the files are named by path.
struct ProfileNames {
  const char *profile = nullptr;
  const char *snapshot = nullptr;
};

// Loads the profile at `path`, or the built-in host when path is null or
// empty; `realNames` is the machine's own uname, which the profile's "kernel"
// section overrides.  A profile that cannot be read, or whose "kernel"
// section is wrong, ends the process with kRefusedStatus, naming the field.
// `snapshot` (null or empty: none) names a system-information snapshot the
// host serves in place of the profile's values; it is read with the models.
void LoadProfile(const char *path, const struct utsname &realNames, const char *snapshot,
                 const ProfileNames &names = {});

const Profile &CurrentProfile();

// Reads a profile file and its "kernel" section; on error returns false and
// says why in `error`.
bool ReadProfile(const std::string &path, const struct utsname &realNames, Profile &profile,
                 std::string &error);

}  // namespace hyxsim
