// Observations: HyxuserHob_Notify and the client that carries them to the
// observation daemon.
#include "hyxuser/hob.h"

#include <pthread.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstdarg>
#include <cstddef>
#include <cstring>

#include "common/export.h"
#include "common/guard.h"
#include "common/hostPaths.h"
#include "common/localPeer.h"
#include "hyxuser/hobWire.h"
#include "status/status.h"
#include "string/str.h"

static_assert(sizeof(HyxuserHobContext) == 548 && offsetof(HyxuserHobContext, component) == 4 &&
              offsetof(HyxuserHobContext, kb) == 36);

namespace {

// The one connection.  The mutex guards the descriptor, the count and every
// message's whole write loop, so messages never interleave on the stream.
pthread_mutex_t hobLock = PTHREAD_MUTEX_INITIALIZER;
int hobFd = -1;
uint32_t hobRefCount = 0;

constexpr size_t kComponentSize = sizeof(HyxuserHobContext::component);
constexpr size_t kKbSize = sizeof(HyxuserHobContext::kb);
constexpr size_t kTextSize = 512;

// One per severity 1..3; the text after ")" is the same for all three.
constexpr const char *kNotifyFormats[] = {
    "@&!*@*@(hob.user.external.info)%s reported an observation with KB (%s). Message is :%s",
    "@&!*@*@(hob.user.external.warning)%s reported an observation with KB (%s). Message is :%s",
    "@&!*@*@(hob.user.external.error)%s reported an observation with KB (%s). Message is :%s",
};

class Locked {
 public:
  Locked() { pthread_mutex_lock(&hobLock); }
  ~Locked() { pthread_mutex_unlock(&hobLock); }
  Locked(const Locked &) = delete;
  Locked &operator=(const Locked &) = delete;
};

HYX_ReturnStatus Fail(HYX_ReturnStatus status) {
  errno = Status_ToErrno(status);
  return status;
}

}  // namespace

int HobUser_Connect(void) {
  Locked locked;
  if (hobRefCount != 0) {
    ++hobRefCount;
    return 0;
  }
  guard::Fd fd = localPeer::Socket();
  if (!fd.valid() || !localPeer::Connect(fd.get(), hostPaths::kObservationSocket)) return -1;
  __atomic_store_n(&hobFd, fd.release(), __ATOMIC_RELAXED);
  hobRefCount = 1;
  return 0;
}

void HobUser_Disconnect(void) {
  Locked locked;
  if (hobRefCount == 0) return;
  if (--hobRefCount == 0) {
    close(hobFd);
    __atomic_store_n(&hobFd, -1, __ATOMIC_RELAXED);
  }
}

int HobUser_Send(const char *format, ...) {
  // Tested without the lock; the writes use the descriptor read under it.
  if (__atomic_load_n(&hobFd, __ATOMIC_RELAXED) < 0) {
    errno = ENOTCONN;
    return -1;
  }
  alignas(16) char message[kHobMessageMax];
  uint32_t length = 0;
  va_list ap;
  va_start(ap, format);
  int built = HobMsg_Build(message, sizeof message, &length, format, ap);
  va_end(ap);
  if (built != 0) return -1;

  Locked locked;
  int fd = hobFd;
  if (fd < 0) {
    errno = ENOTCONN;
    return -1;
  }
  for (uint32_t sent = 0; sent < length;) {
    ssize_t n = send(fd, message + sent, length - sent, MSG_NOSIGNAL);
    if (n < 0 && errno == EINTR) continue;  // a signal is no reason to lose the message
    if (n <= 0) {
      if (n == 0) errno = EPIPE;
      return -1;
    }
    sent += static_cast<uint32_t>(n);
  }
  return 0;
}

HYX_EXPORT HYX_ReturnStatus HyxuserHob_Notify(const HyxuserHobContext *context, const char *format, ...) {
  if (context == nullptr || context->kb[0] == '\0' || context->component[0] == '\0')
    return Fail(HYX_BAD_PARAM);
  if (memchr(context->component, '\0', kComponentSize) == nullptr) return Fail(HYX_NAME_TOO_LONG);
  if (memchr(context->kb, '\0', kKbSize) == nullptr) return Fail(HYX_LIMIT_EXCEEDED);
  if (format == nullptr) return Fail(HYX_BAD_PARAM);

  char text[kTextSize];
  memset(text, 0, sizeof text);
  va_list ap;
  va_start(ap, format);
  int formatted = Str_Vsnprintf(text, sizeof text, format, ap);
  va_end(ap);
  if (formatted < 0) return Fail(HYX_LIMIT_EXCEEDED);

  if (HobUser_Connect() != 0) return Fail(HYX_NO_CONNECT);
  HYX_ReturnStatus status = HYX_OK;
  uint32_t severity = context->severity;
  if (severity >= 1 && severity <= 3) {
    // The caller learns that its observation did not reach the daemon.
    if (HobUser_Send(kNotifyFormats[severity - 1], context->component, context->kb, text) != 0)
      status = HYX_WRITE_ERROR;
  } else {
    status = HYX_BAD_PARAM;
  }
  HobUser_Disconnect();
  return status == HYX_OK ? status : Fail(status);
}
