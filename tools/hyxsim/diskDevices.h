// The HXFS device tree on this machine's disk.  The library opens a
// volume's device with O_DIRECT; a tmpfs takes that only from Linux 6.6, so
// on older kernels the sandbox keeps its device images in a private
// directory on the disk instead of on its tmpfs root, and removes it when
// the sandbox ends.
#pragma once

#include <string>

namespace hyxsim {

// Whether a file made in directory `dir` can be opened for direct I/O; the
// probe file is removed either way.  False with `error` when the probe
// itself could not be made.
bool TakesDirectIo(int dir, bool &takes, std::string &error);

// Makes a private directory "hyxsim-devices.XXXXXX" under `parent` (as the
// caller names it; reached now at `reach`) and binds its subdirectory at
// `target`, which exists.  The parent stays open, so that the directory can
// be removed once the parent's path is out of reach.  Returns "" or what
// went wrong; what was made by then is removed by RemoveDiskDevices.
std::string MakeDiskDevices(const std::string &parent, const std::string &reach, const char *target);

// Whether MakeDiskDevices made a directory that is still there.
bool DiskDevicesMade();

// Unmounts `target` and removes the private directory with everything in
// it.  Nothing when none was made.
void RemoveDiskDevices(const char *target);

}  // namespace hyxsim
