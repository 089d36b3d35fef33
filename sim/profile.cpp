#include "profile.h"

#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "profileDocument.h"
#include "profileValues.h"

namespace hyxsim {
namespace {

// Built on first use and never destroyed: calls may still be trapped while
// the process runs its exit handlers.
Profile &Current() {
  static Profile *profile = new Profile;
  return *profile;
}

void SetName(char *field, ProfileObject &kernel, const char *key) {
  if (!kernel.Has(key)) return;
  std::string text = kernel.Text(key, "");
  if (text.size() >= sizeof(utsname::sysname))
    kernel.Fail(key, "longer than " + std::to_string(sizeof(utsname::sysname) - 1) + " characters");
  snprintf(field, sizeof(utsname::sysname), "%s", text.c_str());
}

// The "kernel" section (absent: a Hyxkernel with every default), and the
// fields the loader itself reads.
bool ReadKernel(Profile &profile, std::string &error) {
  const nlohmann::json &document = profile.document;
  auto section = document.find("kernel");
  ProfileObject kernel(section == document.end() ? nullptr : &*section, "kernel");
  profile.hyxkernel = kernel.Choice("type", {"hyxkernel", "linux"}, "hyxkernel") == "hyxkernel";
  if (profile.hyxkernel) snprintf(profile.names.sysname, sizeof profile.names.sysname, "Hyxkernel");
  SetName(profile.names.sysname, kernel, "sysname");
  SetName(profile.names.release, kernel, "release");
  SetName(profile.names.version, kernel, "version");
  SetName(profile.names.nodename, kernel, "nodename");
  profile.syscallApiChecksum =
      static_cast<uint32_t>(kernel.Number("syscallApiChecksum", SYSCALL_API_CHECKSUM, UINT32_MAX));
  profile.acceptsHsiSignature = kernel.Flag("acceptsHsiSignature", true);
  profile.build = kernel.Text("build", profile.build);
  profile.hsiRenumbered =
      kernel.Choice("hsiNumbering", {"interface", "renumbered"}, "interface") == "renumbered";
  profile.uptimeMicroseconds = kernel.Number("uptimeMicroseconds", profile.uptimeMicroseconds);
  if (!kernel.Done()) {
    error = kernel.Fault();
    return false;
  }
  ProfileObject top(&document, "profile");
  top.Text("description", "");
  profile.mockup = top.Flag("mockup", false);
  if (!top.ok()) {
    error = top.Fault().substr(strlen("profile."));
    return false;
  }
  return true;
}

}  // namespace

bool ReadProfile(const std::string &path, const struct utsname &realNames, Profile &profile,
                 std::string &error) {
  profile = Profile{};
  profile.path = path;
  profile.names = realNames;
  if (!ReadProfileDocument(path, profile.document, error)) return false;
  if (!ReadKernel(profile, error)) {
    error = path + ": " + error;
    return false;
  }
  return true;
}

void LoadProfile(const char *path, const struct utsname &realNames, const char *snapshot,
                 const ProfileNames &names) {
  Profile &current = Current();
  if (path == nullptr || *path == '\0') {
    // The built-in host: a Hyxkernel with the defaults of every section.
    current = Profile{};
    current.names = realNames;
    std::string error;
    ReadKernel(current, error);
  } else {
    std::string error;
    std::string name = names.profile && *names.profile ? names.profile : path;
    if (!ReadProfile(path, realNames, current, error)) {
      // Messages start with the file's path; the caller knows it by name.
      if (error.compare(0, strlen(path), path) == 0) error = name + error.substr(strlen(path));
      fprintf(stderr, "hyxsim: %s\n", error.c_str());
      _exit(kRefusedStatus);
    }
    current.name = name;
  }
  if (snapshot != nullptr) {
    current.snapshot = snapshot;
    current.snapshotName = names.snapshot && *names.snapshot ? names.snapshot : snapshot;
  }
}

const Profile &CurrentProfile() { return Current(); }

}  // namespace hyxsim
