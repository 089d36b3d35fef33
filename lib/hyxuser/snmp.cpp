// SNMP traps: written as text files into the SNMP agent's spool directory,
// then the agent is woken through its control socket.  Process-wide, one trap
// per throttle period passes.
#include <fcntl.h>
#include <pthread.h>
#include <stdio.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <time.h>
#include <unistd.h>

#include <cerrno>
#include <cstddef>
#include <cstring>

#include "common/export.h"
#include "common/guard.h"
#include "common/hostPaths.h"
#include "common/localPeer.h"
#include "common/throttle.h"
#include "hyxuser/snmpSpool.h"
#include "string/str.h"

static_assert(sizeof(HyxuserSnmpVarBind) == 24 && offsetof(HyxuserSnmpVarBind, type) == 8 &&
              offsetof(HyxuserSnmpVarBind, value) == 16);

namespace {

constexpr uint32_t kGenericTrap = 6;  // enterprise-specific
constexpr uint64_t kSizeLimit = 1472, kLargeSizeLimit = 65507;
constexpr uint32_t kLargeTrapsFlag = 0x1;

uint32_t configFlags;
// One trap per 10000 ms; the window is guarded by its own lock, taken for
// the test-and-set only.
throttle::Window trapWindow(10000);
pthread_mutex_t throttleLock = PTHREAD_MUTEX_INITIALIZER;

// Buffered writes to the spool file; the first failure sticks.
class SpoolWriter {
 public:
  explicit SpoolWriter(int fd) : fd_(fd) {}
  void Put(const char *text, size_t length) {
    if (used_ + length > sizeof buffer_) Flush();
    if (length > sizeof buffer_) return WriteAll(text, length);
    memcpy(buffer_ + used_, text, length);
    used_ += length;
  }
  void Put(const char *text) { Put(text, strlen(text)); }
  bool Flush() {
    WriteAll(buffer_, used_);
    used_ = 0;
    return ok_;
  }

 private:
  void WriteAll(const char *p, size_t length) {
    while (ok_ && length > 0) {
      ssize_t n = write(fd_, p, length);
      if (n < 0 && errno == EINTR) continue;
      if (n <= 0) {
        ok_ = false;
        return;
      }
      p += n;
      length -= static_cast<size_t>(n);
    }
  }
  int fd_;
  bool ok_ = true;
  size_t used_ = 0;
  char buffer_[4096];
};

// Creates the temporary file only if the name is free and not a link: a
// name taken (by another trap, or by anything planted in the spool) fails
// without touching what is there.
int CreateSpoolFile(const char *path) {
  int fd = open(path, O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
  if (fd >= 0 && fchmod(fd, 0600) != 0) {
    guard::ErrnoKeeper keep;
    close(fd);
    unlink(path);
    return -1;
  }
  return fd;
}

// Moves the finished file to its final name, never replacing a file of that
// name.
bool Publish(const char *from, const char *to) {
  for (;;) {
    if (renameat2(AT_FDCWD, from, AT_FDCWD, to, RENAME_NOREPLACE) == 0) return true;
    if (errno == EINTR) continue;
    if (errno != EINVAL && errno != ENOSYS) return false;
    // A file system without the no-replace rename: a hard link fails the
    // same way on an existing name.
    if (link(from, to) != 0) return false;
    unlink(from);
    return true;
  }
}

HYX_ReturnStatus WakeAgent() {
  guard::Fd fd = localPeer::Socket();
  if (!fd.valid()) return HYX_FAILURE;
  if (!localPeer::Connect(fd.get(), hostPaths::kSnmpControlSocket)) return HYX_NOT_READY;
  ssize_t n;
  do n = send(fd.get(), "N", 1, MSG_NOSIGNAL);
  while (n < 0 && errno == EINTR);
  return n == 1 ? HYX_OK : HYX_FAILURE;
}

HYX_ReturnStatus WriteSpool(const char *trapOid, const HyxuserSnmpVarBind *bindings, uint64_t count) {
  SnmpTrapId id;
  if (SnmpTrap_SplitOid(trapOid, &id) != HYX_OK) return HYX_BAD_PARAM;
  struct timespec wall;
  if (clock_gettime(CLOCK_REALTIME, &wall) != 0) return HYX_FAILURE;

  char tmpName[128], finalName[128];
  if (Str_Snprintf(tmpName, sizeof tmpName, "%s/%llu_%u_%u_%u.tmp", hostPaths::kSnmpSpoolDir,
                   static_cast<unsigned long long>(wall.tv_sec), kGenericTrap, id.specific,
                   id.enterprise) < 0)
    return HYX_FAILURE;
  memcpy(finalName, tmpName, sizeof tmpName);
  finalName[strlen(finalName) - 2] = 'r';

  int fd = CreateSpoolFile(tmpName);
  if (fd < 0) return HYX_FAILURE;
  guard::Fd file(fd);
  guard::ScopeExit removeTmp([&] { unlink(tmpName); });

  SpoolWriter out(fd);
  char header[64];
  Str_Snprintf(header, sizeof header, "\n%u\n%u\n", kGenericTrap, id.specific);
  out.Put(".");
  out.Put(trapOid, id.enterpriseOidLength);
  out.Put(header);
  uint64_t counted = strlen(trapOid);
  for (uint64_t i = 0; i < count; ++i) {
    const HyxuserSnmpVarBind &b = bindings[i];
    const char *type = SnmpType_Text(b.type);
    // One line per binding: a value holding a line feed would forge binding
    // lines (or the terminator) in the agent's reading of the file.
    if (type == nullptr || !SnmpOid_IsValid(b.oid) || b.value == nullptr || strchr(b.value, '\n') != nullptr)
      return HYX_FAILURE;
    size_t valueLength = strlen(b.value);
    out.Put(".");
    out.Put(b.oid);
    out.Put("|");
    out.Put(type);
    out.Put("|");
    out.Put(b.value, valueLength);
    out.Put("\n");
    counted += strlen(b.oid) + valueLength;
  }
  out.Put(";\n");
  if (!out.Flush()) return HYX_FAILURE;
  uint64_t limit =
      (__atomic_load_n(&configFlags, __ATOMIC_RELAXED) & kLargeTrapsFlag) ? kLargeSizeLimit : kSizeLimit;
  if (counted > limit) return HYX_RESULT_TOO_LARGE;
  if (close(file.release()) != 0) return HYX_FAILURE;
  if (!Publish(tmpName, finalName)) return HYX_FAILURE;
  removeTmp.dismiss();

  HYX_ReturnStatus status = WakeAgent();
  // The agent must never find a trap it was not told about.
  if (status != HYX_OK) unlink(finalName);
  return status;
}

}  // namespace

HYX_EXPORT HYX_ReturnStatus HyxuserSnmp_Configure(uint32_t flags) {
  __atomic_store_n(&configFlags, flags, __ATOMIC_RELAXED);
  return HYX_OK;
}

HYX_EXPORT HYX_ReturnStatus HyxuserSnmp_SendTrap(const char *trapOid, const HyxuserSnmpVarBind *bindings,
                                                 uint64_t count) {
  if (trapOid == nullptr || !SnmpOid_IsValid(trapOid) || (bindings == nullptr && count != 0))
    return HYX_BAD_PARAM;
  if (access(hostPaths::kSnmpSpoolDir, W_OK) != 0) return HYX_NOT_READY;
  if (pthread_mutex_lock(&throttleLock) != 0) return HYX_FAILURE;
  throttle::Verdict verdict = trapWindow.Pass();
  if (pthread_mutex_unlock(&throttleLock) != 0) return HYX_FAILURE;
  if (verdict == throttle::Verdict::kNoClock) return HYX_FAILURE;
  if (verdict == throttle::Verdict::kRefused) return HYX_LIMIT_EXCEEDED;
  // The window is used up from here on, whatever happens to this trap.
  return WriteSpool(trapOid, bindings, count);
}

HYX_EXPORT HYX_ReturnStatus HyxuserSnmp_GetThrottlingRemaining(uint32_t *remainingMs) {
  if (remainingMs == nullptr) return HYX_BAD_PARAM;
  if (pthread_mutex_lock(&throttleLock) != 0) return HYX_FAILURE;
  uint32_t remaining;
  bool read = trapWindow.Remaining(&remaining);
  if (pthread_mutex_unlock(&throttleLock) != 0) return HYX_FAILURE;
  if (!read) return HYX_FAILURE;
  *remainingMs = remaining;
  return HYX_OK;
}

HYX_EXPORT HYX_ReturnStatus HyxuserSnmp_GetThrottlingPeriod(uint32_t *periodMs) {
  if (periodMs == nullptr) return HYX_BAD_PARAM;
  *periodMs = trapWindow.period();
  return HYX_OK;
}
