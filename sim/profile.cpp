#include "profile.h"

#include <fcntl.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace hyxsim {
namespace {

// Built on first use and never destroyed: calls may still be trapped while
// the process runs its exit handlers.
Profile &Current() {
  static Profile *profile = new Profile;
  return *profile;
}

// Numbers in profiles may be written as JSON numbers or as strings such as
// "0xb535cbbb".
uint64_t Number(const nlohmann::json &value) {
  if (value.is_string()) return strtoull(value.get<std::string>().c_str(), nullptr, 0);
  return value.get<uint64_t>();
}

void SetName(char *field, const nlohmann::json &section, const char *key) {
  if (!section.contains(key)) return;
  std::string text = section[key].get<std::string>();
  snprintf(field, sizeof(utsname::sysname), "%s", text.c_str());
}

bool ReadFile(const std::string &path, std::string &text) {
  int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return false;
  char buffer[8192];
  ssize_t n;
  while ((n = read(fd, buffer, sizeof buffer)) > 0) text.append(buffer, static_cast<size_t>(n));
  close(fd);
  return n == 0;
}

}  // namespace

bool ReadProfile(const std::string &path, const struct utsname &realNames, Profile &profile, std::string &error) {
  std::string text;
  if (!ReadFile(path, text)) {
    error = "cannot read " + path + ": " + strerror(errno);
    return false;
  }
  nlohmann::json document = nlohmann::json::parse(text, nullptr, false, true);
  if (document.is_discarded() || !document.is_object()) {
    error = path + " is not a JSON object";
    return false;
  }
  profile = Profile{};
  profile.path = path;
  profile.names = realNames;
  const nlohmann::json kernel = document.value("kernel", nlohmann::json::object());
  profile.hyxkernel = kernel.value("type", std::string("hyxkernel")) == "hyxkernel";
  if (profile.hyxkernel) snprintf(profile.names.sysname, sizeof profile.names.sysname, "Hyxkernel");
  SetName(profile.names.sysname, kernel, "sysname");
  SetName(profile.names.release, kernel, "release");
  SetName(profile.names.version, kernel, "version");
  SetName(profile.names.nodename, kernel, "nodename");
  if (kernel.contains("syscallApiChecksum")) profile.syscallApiChecksum = static_cast<uint32_t>(Number(kernel["syscallApiChecksum"]));
  profile.mockup = document.value("mockup", false);
  profile.document = std::move(document);
  return true;
}

void LoadProfile(const char *path, const struct utsname &realNames) {
  Profile &current = Current();
  if (path == nullptr || *path == '\0') {
    current = Profile{};
    current.names = realNames;
    snprintf(current.names.sysname, sizeof current.names.sysname, "Hyxkernel");
    return;
  }
  std::string error;
  if (!ReadProfile(path, realNames, current, error)) {
    fprintf(stderr, "hyxsim: %s\n", error.c_str());
    _exit(127);
  }
}

const Profile &CurrentProfile() { return Current(); }

}  // namespace hyxsim
