// The process's open descriptors, by name under /proc/self/fd (the
// listing's own directory left out), for checks that a call keeps none.
#pragma once

#include <dirent.h>

#include <cstdlib>
#include <set>
#include <string>

inline std::set<std::string> OpenDescriptors() {
  std::set<std::string> open;
  DIR *dir = opendir("/proc/self/fd");
  while (struct dirent *entry = readdir(dir))
    if (entry->d_name[0] != '.' && atoi(entry->d_name) != dirfd(dir)) open.insert(entry->d_name);
  closedir(dir);
  return open;
}
