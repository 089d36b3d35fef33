#include "diskDevices.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <vector>

namespace hyxsim {
namespace {

constexpr char kPrivatePattern[] = "hyxsim-devices.XXXXXX";
// The directory inside the private one that is bound: the private one
// stays closed to the machine's other users, this one is open as the
// sandbox's own device tree is.
constexpr char kBound[] = "devices";
constexpr char kProbe[] = ".hyxsim-direct-probe";

// The private directory once made: its parent, open since before the
// host's root went out of reach, and its name there.
int parentFd = -1;
std::string privateName;

std::string Why(const std::string &what) { return what + ": " + strerror(errno); }

// Opens directory `name` in `dir`, not through a symbolic link.
int OpenDir(int dir, const std::string &name) {
  return openat(dir, name.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
}

// The names in directory `fd`, read before any is removed: a directory
// read while it shrinks may skip entries.
std::vector<std::string> Names(int fd) {
  std::vector<std::string> names;
  int copy = dup(fd);  // closedir closes the fd it reads
  DIR *dir = copy >= 0 ? fdopendir(copy) : nullptr;
  if (dir == nullptr) {
    if (copy >= 0) close(copy);
    return names;
  }
  while (struct dirent *entry = readdir(dir))
    if (strcmp(entry->d_name, ".") != 0 && strcmp(entry->d_name, "..") != 0) names.push_back(entry->d_name);
  closedir(dir);
  return names;
}

// Removes `name` in directory `dir` with everything it holds.  A symbolic
// link is removed, never followed: a program in the sandbox may have
// pointed one anywhere.
void RemoveEntry(int dir, const std::string &name) {
  // Linux refuses to unlink a directory with EISDIR; only then descend.
  if (unlinkat(dir, name.c_str(), 0) == 0 || errno != EISDIR) return;
  int fd = OpenDir(dir, name);
  if (fd < 0) return;
  for (const std::string &inner : Names(fd)) RemoveEntry(fd, inner);
  close(fd);
  unlinkat(dir, name.c_str(), AT_REMOVEDIR);
}

// Makes the bound directory in the private one and checks that it takes
// direct I/O.  Returns "" or what went wrong.
std::string MakeBound(const std::string &parent) {
  int priv = OpenDir(parentFd, privateName);
  if (priv < 0) return Why(parent + "/" + privateName);
  int bound = mkdirat(priv, kBound, 0755) == 0 ? OpenDir(priv, kBound) : -1;
  close(priv);
  if (bound < 0) return Why(parent + "/" + privateName + "/" + kBound);
  bool takes = false;
  std::string error;
  bool probed = TakesDirectIo(bound, takes, error);
  close(bound);
  if (!probed) return parent + ": " + error;
  if (!takes)
    return parent +
           " cannot take direct reads (O_DIRECT), which the HXFS device images need: point TMPDIR at a "
           "directory on a disk";
  return "";
}

}  // namespace

bool TakesDirectIo(int dir, bool &takes, std::string &error) {
  int fd = openat(dir, kProbe, O_WRONLY | O_CREAT | O_EXCL | O_DIRECT | O_CLOEXEC, 0600);
  int saved = errno;
  // A refused open has made the file already: it goes in both cases.
  unlinkat(dir, kProbe, 0);
  if (fd >= 0) close(fd);
  takes = fd >= 0;
  if (fd >= 0 || saved == EINVAL) return true;
  errno = saved;
  error = Why("probe direct I/O");
  return false;
}

std::string MakeDiskDevices(const std::string &parent, const std::string &reach, const char *target) {
  parentFd = open(reach.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (parentFd < 0) return Why(parent + " (for the HXFS device images)");
  std::string path = reach + "/" + kPrivatePattern;
  if (mkdtemp(&path[0]) == nullptr) return Why("make a private directory in " + parent);
  privateName = path.substr(path.rfind('/') + 1);
  std::string error = MakeBound(parent);
  if (!error.empty()) return error;
  std::string bound = path + "/" + kBound;
  if (mount(bound.c_str(), target, nullptr, MS_BIND, nullptr) != 0) return Why(std::string("bind ") + target);
  return "";
}

bool DiskDevicesMade() { return parentFd >= 0 && !privateName.empty(); }

void RemoveDiskDevices(const char *target) {
  if (parentFd < 0) return;
  // Detached, with whatever a program mounted below it; EINVAL when the
  // bind was never made.
  umount2(target, MNT_DETACH);
  if (!privateName.empty()) RemoveEntry(parentFd, privateName);
  close(parentFd);
  parentFd = -1;
  privateName.clear();
}

}  // namespace hyxsim
