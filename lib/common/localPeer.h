// A stream connection to one of the host's local daemons (a socket in the
// file system).  A daemon that has stopped taking connections (its queue
// full) or stopped reading holds its caller for a bounded time only: the
// socket's send timeout bounds both the connect and every send on it.
#pragma once

#include <sys/socket.h>
#include <sys/time.h>
#include <sys/un.h>

#include <cerrno>
#include <cstddef>
#include <cstring>

#include "common/guard.h"

namespace localPeer {

// How long one connect or one send may wait for the daemon.
inline constexpr int kTimeoutSeconds = 5;

// A close-on-exec stream socket whose connect and sends wait at most the
// timeout, or an invalid one with errno set.
inline guard::Fd Socket() {
  guard::Fd fd(socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0));
  struct timeval timeout = {kTimeoutSeconds, 0};
  if (fd.valid() && setsockopt(fd.get(), SOL_SOCKET, SO_SNDTIMEO, &timeout, sizeof timeout) != 0) fd.reset();
  return fd;
}

// Connects `fd` to the daemon's socket at `path`; false with errno set
// (EAGAIN: the daemon did not take the connection in time).
template <size_t N>
bool Connect(int fd, const char (&path)[N]) {
  static_assert(N <= sizeof(sockaddr_un::sun_path), "socket path too long");
  struct sockaddr_un address;
  memset(&address, 0, sizeof address);
  address.sun_family = AF_UNIX;
  memcpy(address.sun_path, path, N);
  // A signal while the daemon's queue is full leaves the socket unconnected:
  // asking again is a new attempt.
  while (connect(fd, reinterpret_cast<struct sockaddr *>(&address), sizeof address) != 0)
    if (errno != EINTR) return false;
  return true;
}

}  // namespace localPeer
