// UEFI variables outlive the process that writes them.  Inside a hyxsim
// sandbox every process of the sandbox sees one store of variables, kept in
// the sandbox's state directory; outside one, each process has its own.
#pragma once

#include <vector>

#include "hsiStore.h"

namespace hyxsim {

// Held for the length of one call on the variables: locks the sandbox's
// store and brings `entries` up to date from it; the sandbox's first call
// seeds the store with the profile's variables.
class UefiShare {
 public:
  explicit UefiShare(std::vector<HsiEntry> &entries);
  ~UefiShare();
  UefiShare(const UefiShare &) = delete;
  UefiShare &operator=(const UefiShare &) = delete;
  // Writes `entries` back for the sandbox's other processes.
  void Save();

 private:
  std::vector<HsiEntry> &entries_;
  int fd_ = -1;
};

}  // namespace hyxsim
