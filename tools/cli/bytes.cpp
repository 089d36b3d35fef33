#include "bytes.h"

#include <fcntl.h>
#include <unistd.h>

#include <cctype>
#include <cerrno>
#include <cstring>

namespace cli {

void HexDump(FILE *out, const uint8_t *bytes, size_t length) {
  for (size_t line = 0; line < length; line += 16) {
    fprintf(out, "%08zx ", line);
    for (size_t i = line; i < line + 16; i++) {
      if (i < length)
        fprintf(out, " %02x", bytes[i]);
      else
        fputs("   ", out);
    }
    fputs("  |", out);
    for (size_t i = line; i < line + 16 && i < length; i++) fputc(isprint(bytes[i]) ? bytes[i] : '.', out);
    fputs("|\n", out);
  }
}

std::string HexText(const uint8_t *bytes, size_t length) {
  static const char kDigits[] = "0123456789abcdef";
  std::string text;
  text.reserve(length * 2);
  for (size_t i = 0; i < length; i++) {
    text += kDigits[bytes[i] >> 4];
    text += kDigits[bytes[i] & 15];
  }
  return text;
}

bool ReadWholeFile(const char *path, std::vector<uint8_t> &bytes) {
  bool standardInput = strcmp(path, "-") == 0;
  int fd = standardInput ? STDIN_FILENO : open(path, O_RDONLY | O_CLOEXEC);
  if (fd < 0) {
    fprintf(stderr, "hyxinfo: %s: %s\n", path, strerror(errno));
    return false;
  }
  uint8_t buffer[65536];
  ssize_t n;
  while ((n = read(fd, buffer, sizeof buffer)) > 0) bytes.insert(bytes.end(), buffer, buffer + n);
  int err = errno;
  if (!standardInput) close(fd);
  if (n < 0) {
    fprintf(stderr, "hyxinfo: %s: %s\n", path, strerror(err));
    return false;
  }
  return true;
}

bool WriteWholeFile(const char *path, const uint8_t *bytes, size_t length) {
  bool standardOutput = strcmp(path, "-") == 0;
  int fd = standardOutput ? STDOUT_FILENO : open(path, O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
  if (fd < 0) {
    fprintf(stderr, "hyxinfo: %s: %s\n", path, strerror(errno));
    return false;
  }
  if (standardOutput) fflush(stdout);
  size_t done = 0;
  while (done < length) {
    ssize_t n = write(fd, bytes + done, length - done);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) break;
    done += static_cast<size_t>(n);
  }
  int err = errno;
  bool ok = done == length;
  if (!standardOutput && close(fd) != 0 && ok) {
    ok = false;
    err = errno;
  }
  if (!ok) fprintf(stderr, "hyxinfo: %s: %s\n", path, strerror(err));
  return ok;
}

}  // namespace cli
