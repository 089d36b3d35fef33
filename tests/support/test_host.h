// Which host profile a suite runs on: hyx_add_sim_suite sets
// HYX_TEST_PROFILE to the profile's name (examples/hosts/<name>.json).
#pragma once

#include <cstdlib>
#include <string>

// The profile's name, or "" outside the simulated host.
inline std::string TestProfile() {
  const char *name = getenv("HYX_TEST_PROFILE");
  return name != nullptr ? name : "";
}

inline bool OnProfile(const char *name) { return TestProfile() == name; }

// The profiles whose kernel is the Hyxkernel and speaks the library's
// interface, with or without node translation.
inline bool OnHyxkernel() { return OnProfile("hypervisor") || OnProfile("renumbered"); }
