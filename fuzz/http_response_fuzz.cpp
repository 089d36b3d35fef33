// Fuzzer for the management daemon's HTTP response reader: the input is what
// the peer sends on a socket pair before closing it.  The first byte picks
// the cookie buffer's size (0: no cookie asked for).  A response that is
// taken must leave a body of at most 1023 bytes, NUL-terminated, that the
// input holds right behind its first blank line, and a cookie that fits.
#include <sys/socket.h>
#include <unistd.h>

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>

#include "hyxuser/soap.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  if (size < 1 || size > 8192) return 0;
  size_t cookieSize = data[0] % 160;
  std::string peer(reinterpret_cast<const char *>(data + 1), size - 1);
  int fd[2];
  if (socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, fd) != 0) abort();
  int big = 1 << 16;
  setsockopt(fd[1], SOL_SOCKET, SO_SNDBUF, &big, sizeof big);
  if (write(fd[1], peer.data(), peer.size()) != static_cast<ssize_t>(peer.size())) abort();
  shutdown(fd[1], SHUT_WR);
  char cookie[160];
  memset(cookie, 'X', sizeof cookie);
  char body[soap::kResponseBufferSize];
  HYX_ReturnStatus status = soap::Http_ReadResponse(fd[0], cookieSize ? cookie : nullptr, cookieSize, body);
  close(fd[0]);
  close(fd[1]);
  if (status != HYX_OK) return 0;
  size_t blank = peer.find("\r\n\r\n");
  if (blank == std::string::npos || blank + 4 > 1023) abort();
  size_t length = strlen(body);
  if (length > 1023) abort();
  // The body may hold NULs; what is before the first one matches the input.
  if (peer.compare(blank + 4, length, body, length) != 0) abort();
  if (cookieSize != 0) {
    size_t cookieLength = strnlen(cookie, sizeof cookie);
    if (cookieLength >= cookieSize || cookieLength > 127 || cookieLength == 0) abort();
    if (peer.find(std::string("Set-Cookie: ") + std::string(cookie, cookieLength)) == std::string::npos)
      abort();
  }
  return 0;
}
