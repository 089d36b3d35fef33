#include "layout.h"

#include <limits.h>
#include <unistd.h>

namespace hyxsim {
namespace {

// Each place as two paths relative to hyxsim's directory, joined by ':':
// the installed one, then the build tree's.
std::string Find(const char *places) {
  std::string own = OwnDirectory(), all = places, first;
  for (size_t start = 0; start <= all.size();) {
    size_t end = all.find(':', start);
    if (end == std::string::npos) end = all.size();
    std::string path = own + "/" + all.substr(start, end - start);
    if (first.empty()) first = path;
    if (access(path.c_str(), F_OK) == 0) return path;
    start = end + 1;
  }
  // Neither is there: name the installed place in what fails next.
  return first;
}

}  // namespace

std::string OwnDirectory() {
  char self[PATH_MAX];
  ssize_t n = readlink("/proc/self/exe", self, sizeof self - 1);
  if (n <= 0) return "";
  std::string path(self, static_cast<size_t>(n));
  return path.substr(0, path.rfind('/'));
}

std::string SimLibraryPath() { return Find(HYXSIM_LIBRARY_PLACES); }

std::vector<std::string> DaemonPaths() {
  return {Find(HYXSIM_HOBD_PLACES), Find(HYXSIM_SNMP_AGENT_PLACES), Find(HYXSIM_MGMTD_PLACES)};
}

std::string HostsDirectory() { return Find(HYXSIM_HOSTS_PLACES); }

std::string DefaultProfilePath() { return HostsDirectory() + "/hypervisor.json"; }

}  // namespace hyxsim
