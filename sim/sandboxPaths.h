// Paths inside a hyxsim sandbox that the launcher lays out and the
// simulator reads.  Outside a sandbox they do not exist, and the simulator
// never creates them.
#pragma once

namespace hyxsim {

// The merged profile the sandbox's programs run on.
inline constexpr char kSandboxProfile[] = "/run/hyxsim/profile.json";
// The system-information snapshot the host serves (hyxsim --snapshot).
inline constexpr char kSandboxSnapshot[] = "/run/hyxsim/snapshot.hsi";
// State the host keeps across the sandbox's processes (its UEFI variables).
inline constexpr char kSandboxStateDir[] = "/run/hyxsim/state";

}  // namespace hyxsim
