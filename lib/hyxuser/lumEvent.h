// Event posting to the management daemon: the session kept with the daemon
// and the event request.  Internal parts, reached by tests.
#pragma once

#include <cstdint>

#include "hyxuser/hyxuser.h"

namespace lumEvent {

// Reads a password file: a regular file of 1 to 63 bytes, read whole.  A
// FIFO, device or directory, a symbolic link as the last component and a
// file on one of the kernel's own file systems (proc, sys and the like) are
// refused without being read.  Returns the length, or 0 on any failure.
size_t LumSession_ReadPassword(const char *path, char *password, size_t size);

}  // namespace lumEvent
