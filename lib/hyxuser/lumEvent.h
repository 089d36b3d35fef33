// Event posting to the management daemon: the session kept with the daemon
// and the event request.  Internal parts, reached by tests.
#pragma once

#include <cstdint>

#include "hyxuser/hyxuser.h"

namespace lumEvent {

// Receive and send timeout of the session socket: a daemon that stops
// answering fails the post after this long instead of holding the event
// mutex for good.
inline constexpr int kSessionTimeoutSeconds = 30;

// Reads a password file: a regular file of 1 to 63 bytes, read whole.  A
// FIFO, device or directory is refused without being read.  Returns the
// length, or 0 on any failure.
size_t LumSession_ReadPassword(const char *path, char *password, size_t size);

}  // namespace lumEvent
