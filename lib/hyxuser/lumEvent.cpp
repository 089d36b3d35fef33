// Events posted into the management daemon's event log.  The library logs
// in with a local ticket (a user name and a one-time password file from the
// daemon), keeps the session cookie and the connection, and reuses both for
// 960000 ms after the login.  One event per five minutes passes per process.
#include "hyxuser/lumEvent.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <linux/magic.h>
#include <netinet/in.h>
#include <poll.h>
#include <pthread.h>
#include <stdio.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/statfs.h>
#include <time.h>
#include <unistd.h>

#include <cerrno>
#include <cstddef>
#include <cstring>

#include "common/export.h"
#include "common/guard.h"
#include "common/hostPaths.h"
#include "common/throttle.h"
#include "hyxuser/soap.h"

static_assert(sizeof(HyxuserLumEventArg) == 16 && offsetof(HyxuserLumEventArg, value) == 8);

using namespace soap;

namespace lumEvent {

namespace {

constexpr uint64_t kSessionReuseMs = 960000;
constexpr uint64_t kMaxArgs = 256;
constexpr size_t kMaxArgBytes = 16384;
constexpr size_t kUserNameSize = 32, kPasswordPathSize = 256, kPasswordFileSize = 64;
const char *const kSeverities[] = {"info", "warning", "error"};

pthread_mutex_t eventLock = PTHREAD_MUTEX_INITIALIZER;
// One event per 300000 ms, under the event lock.
throttle::Window eventWindow(300000);
int sessionFd = -1;  // -1: no session (descriptor 0 is a connection like any other)
char sessionCookie[128];
uint64_t loginTimeMs;

using throttle::MonotonicMs;

void DropSession() {
  if (sessionFd >= 0) close(sessionFd);
  sessionFd = -1;
}

// A child made by fork holds a copy of the kept connection and cookie: were
// both processes to post on it, their requests and answers would interleave
// on one stream.  The child forgets its copy (closing its own descriptor
// only: the parent's connection is untouched, and no Logout is sent) and
// logs in afresh at its next event.  A parent thread that was inside an
// event at the fork does not exist in the child, so the child's event lock
// starts unlocked.
void ForgetSessionInChild() {
  pthread_mutex_t unlocked = PTHREAD_MUTEX_INITIALIZER;
  eventLock = unlocked;
  DropSession();
  explicit_bzero(sessionCookie, sizeof sessionCookie);
  loginTimeMs = 0;
}

pthread_once_t forkHandlerOnce = PTHREAD_ONCE_INIT;
bool forkHandlerInstalled;

void InstallForkHandler() {
  forkHandlerInstalled = pthread_atfork(nullptr, nullptr, ForgetSessionInChild) == 0;
}

// Builds, posts and parses one request; the parsed response on success.
// addParams writes the method's parameters.
template <typename F>
xmlNodePtr Exchange(int fd, const char *method, const char *type, const char *id, const char *cookie,
                    char *cookieOut, F addParams) {
  SoapRequest *request = Soap_NewRequest(method, type, id);
  if (request == nullptr) return nullptr;
  char response[kResponseBufferSize];
  size_t responseLength = 0;
  bool ok = addParams(request->writer) && Soap_EndRequest(request) == HYX_OK &&
            Http_PostSoap(fd, cookie, Soap_RequestText(request), cookieOut, sizeof sessionCookie, response,
                          &responseLength) == HYX_OK;
  Soap_FreeRequest(request);
  return ok ? Soap_ParseResponse(response, responseLength) : nullptr;
}

const char *const kLogoutPath[] = {"Envelope", "Body", "LogoutResponse", nullptr};
const char *const kTicketUserPath[] = {"Envelope",  "Body",     "AcquireLocalTicketResponse",
                                       "returnval", "userName", nullptr};
const char *const kTicketFilePath[] = {"Envelope",         "Body", "AcquireLocalTicketResponse", "returnval",
                                       "passwordFilePath", nullptr};
const char *const kLoginPath[] = {"Envelope", "Body", "LoginResponse", "returnval", "loginTime", nullptr};
const char *const kPostPath[] = {"Envelope", "Body", "PostEventResponse", nullptr};

void Logout() {
  xmlNodePtr response = Exchange(sessionFd, "Logout", "SessionManager", "ha-sessionmgr", sessionCookie,
                                 nullptr, [](xmlTextWriterPtr) { return true; });
  if (response != nullptr) {
    (void)Soap_FindPath(response, kLogoutPath);  // the outcome is not used
    Soap_FreeResponse(response);
  }
  DropSession();
}

// A connect a signal interrupted goes on in the background (asking again
// would only say it is under way): waits for its outcome, as long as one
// exchange may take.
bool AwaitConnected(int fd) {
  struct pollfd wait = {fd, POLLOUT, 0};
  int ready;
  do ready = poll(&wait, 1, static_cast<int>(kExchangeTimeoutMs));
  while (ready < 0 && errno == EINTR);
  if (ready <= 0) {
    if (ready == 0) errno = ETIMEDOUT;
    return false;
  }
  int error = 0;
  socklen_t length = sizeof error;
  if (getsockopt(fd, SOL_SOCKET, SO_ERROR, &error, &length) != 0) return false;
  errno = error;
  return error == 0;
}

int Connect() {
  guard::Fd fd(socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0));
  if (!fd.valid()) return -1;
  struct sockaddr_in address {};
  address.sin_family = AF_INET;
  address.sin_port = htons(hostPaths::kMgmtdPort);
  if (inet_pton(AF_INET, hostPaths::kMgmtdAddress, &address.sin_addr) != 1) return -1;
  if (connect(fd.get(), reinterpret_cast<struct sockaddr *>(&address), sizeof address) != 0 &&
      (errno != EINTR || !AwaitConnected(fd.get())))
    return -1;
  return fd.release();
}

// The session's cookie, logging in first when there is no session or it
// has expired; null on failure (no session then).
const char *LumSession_Get() {
  if (sessionFd >= 0) {
    uint64_t now;
    if (!MonotonicMs(&now)) {
      DropSession();
      return nullptr;
    }
    if (now - loginTimeMs <= kSessionReuseMs) return sessionCookie;
    Logout();
  }
  // No session is kept that a child could inherit without being told.
  if (pthread_once(&forkHandlerOnce, InstallForkHandler) != 0 || !forkHandlerInstalled) return nullptr;
  guard::Fd fd(Connect());
  if (!fd.valid()) return nullptr;

  char userName[kUserNameSize], passwordPath[kPasswordPathSize];
  xmlNodePtr ticket = Exchange(
      fd.get(), "AcquireLocalTicket", "SessionManager", "ha-sessionmgr", nullptr, nullptr,
      [](xmlTextWriterPtr w) { return Soap_AddElement(w, "userName", kParameterAttrs, "root") == HYX_OK; });
  if (ticket == nullptr) return nullptr;
  const char *user = Soap_GetText(ticket, kTicketUserPath);
  const char *path = Soap_GetText(ticket, kTicketFilePath);
  bool fits = user != nullptr && path != nullptr && strlen(user) < sizeof userName &&
              strlen(path) < sizeof passwordPath;
  if (fits) {
    memcpy(userName, user, strlen(user) + 1);
    memcpy(passwordPath, path, strlen(path) + 1);
  }
  Soap_FreeResponse(ticket);
  if (!fits) return nullptr;

  char password[kPasswordFileSize];
  if (LumSession_ReadPassword(passwordPath, password, sizeof password) == 0) return nullptr;
  char cookie[sizeof sessionCookie];
  xmlNodePtr login = Exchange(fd.get(), "Login", "SessionManager", "ha-sessionmgr", nullptr, cookie,
                              [&](xmlTextWriterPtr w) {
                                return Soap_AddElement(w, "userName", kParameterAttrs, userName) == HYX_OK &&
                                       Soap_AddElement(w, "password", kParameterAttrs, password) == HYX_OK;
                              });
  explicit_bzero(password, sizeof password);
  if (login == nullptr) return nullptr;
  bool loggedIn = Soap_FindPath(login, kLoginPath) != nullptr;
  Soap_FreeResponse(login);
  uint64_t now;
  if (!loggedIn || !MonotonicMs(&now)) return nullptr;
  memcpy(sessionCookie, cookie, sizeof cookie);
  loginTimeMs = now;
  sessionFd = fd.release();
  return sessionCookie;
}

HYX_ReturnStatus LumEvent_Post(int fd, const char *cookie, const char *typeId, uint32_t severity,
                               const HyxuserLumEventArg *args, uint64_t count) {
  struct timespec now;
  struct tm utc;
  char created[32];
  if (clock_gettime(CLOCK_REALTIME, &now) != 0 || gmtime_r(&now.tv_sec, &utc) == nullptr) return HYX_FAILURE;
  int n = snprintf(created, sizeof created, "%04d-%02d-%02dT%02d:%02d:%02d.%06dZ", utc.tm_year + 1900,
                   utc.tm_mon + 1, utc.tm_mday, utc.tm_hour, utc.tm_min, utc.tm_sec,
                   static_cast<int>(now.tv_nsec / 1000));
  if (n < 0 || static_cast<size_t>(n) >= sizeof created) return HYX_FAILURE;
  xmlNodePtr response =
      Exchange(fd, "PostEvent", "EventManager", "ha-eventmgr", cookie, nullptr, [&](xmlTextWriterPtr w) {
        if (Soap_AddElement(w, "eventToPost", kEventAttrs, nullptr) != HYX_OK ||
            Soap_AddElement(w, "key", nullptr, "0") != HYX_OK ||
            Soap_AddElement(w, "chainId", nullptr, "0") != HYX_OK ||
            Soap_AddElement(w, "createdTime", nullptr, created) != HYX_OK ||
            Soap_AddElement(w, "userName", nullptr, "") != HYX_OK ||
            Soap_AddElement(w, "eventTypeId", nullptr, typeId) != HYX_OK ||
            Soap_AddElement(w, "severity", nullptr, kSeverities[severity]) != HYX_OK)
          return false;
        for (uint64_t i = 0; i < count; ++i) {
          if (Soap_AddElement(w, "arguments", nullptr, nullptr) != HYX_OK ||
              Soap_AddElement(w, "key", nullptr, args[i].key) != HYX_OK ||
              Soap_AddElement(w, "value", kStringValueAttrs, args[i].value) != HYX_OK ||
              Soap_CloseText(w, "") != HYX_OK)
            return false;
        }
        return true;
      });
  if (response == nullptr) return HYX_FAILURE;
  bool posted = Soap_FindPath(response, kPostPath) != nullptr;
  Soap_FreeResponse(response);
  return posted ? HYX_OK : HYX_FAILURE;
}

HYX_ReturnStatus Send(const char *typeId, uint32_t severity, const HyxuserLumEventArg *args, uint64_t count) {
  if (!Soap_Load()) return HYX_FAILURE;
  switch (eventWindow.Pass()) {
    case throttle::Verdict::kNoClock:
      return HYX_FAILURE;
    case throttle::Verdict::kRefused:
      return HYX_LIMIT_EXCEEDED;
    case throttle::Verdict::kPassed:
      break;  // the window is used up whatever follows
  }
  const char *cookie = LumSession_Get();
  if (cookie == nullptr) return HYX_FAILURE;
  if (LumEvent_Post(sessionFd, cookie, typeId, severity, args, count) != HYX_OK) {
    DropSession();
    return HYX_FAILURE;
  }
  return HYX_OK;
}

}  // namespace

namespace {

// File systems whose files are the kernel's views of processes, devices and
// its own state rather than stored data: a password file never lives there.
bool OnKernelFileSystem(int fd) {
  struct statfs fs;
  if (fstatfs(fd, &fs) != 0) return true;
  switch (static_cast<unsigned long>(fs.f_type)) {
    case PROC_SUPER_MAGIC:
    case SYSFS_MAGIC:
    case DEBUGFS_MAGIC:
    case TRACEFS_MAGIC:
    case SECURITYFS_MAGIC:
    case CGROUP_SUPER_MAGIC:
    case CGROUP2_SUPER_MAGIC:
    case BPF_FS_MAGIC:
    case PSTOREFS_MAGIC:
    case EFIVARFS_MAGIC:
    case SELINUX_MAGIC:
    case SMACK_MAGIC:
    case DEVPTS_SUPER_MAGIC:
    case NSFS_MAGIC:
      return true;
    default:
      return false;
  }
}

}  // namespace

size_t LumSession_ReadPassword(const char *path, char *password, size_t size) {
  // Whoever answers on the daemon's port names this file, so it is looked
  // at before it is opened and again once open: only a regular file, never
  // through a link in its last component, and not on one of the kernel's own
  // file systems.  Opening a FIFO could block and opening a device could
  // have effects of its own.
  struct stat st;
  if (lstat(path, &st) != 0 || !S_ISREG(st.st_mode)) return 0;
  guard::Fd fd(open(path, O_RDONLY | O_CLOEXEC | O_NONBLOCK | O_NOCTTY | O_NOFOLLOW));
  if (!fd.valid() || fstat(fd.get(), &st) != 0 || !S_ISREG(st.st_mode) || OnKernelFileSystem(fd.get()))
    return 0;
  size_t length = 0;
  for (;;) {
    ssize_t n = read(fd.get(), password + length, size - length);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) return 0;
    if (n == 0) break;
    length += static_cast<size_t>(n);
    if (length == size) return 0;  // too long: the end of the file is not reached
  }
  if (length == 0 || length > kPasswordFileSize - 1) return 0;
  password[length] = '\0';
  return length;
}

}  // namespace lumEvent

HYX_EXPORT HYX_ReturnStatus HyxuserLumEvent_Send(const char *eventTypeId, uint32_t severity,
                                                 const HyxuserLumEventArg *args, uint64_t count) {
  using namespace lumEvent;
  if (eventTypeId == nullptr || severity > 2) return HYX_BAD_PARAM;
  if ((args == nullptr && count != 0) || count > kMaxArgs) return HYX_BAD_PARAM;
  size_t total = 0;
  for (uint64_t i = 0; i < count; ++i) {
    if (args[i].key == nullptr || args[i].value == nullptr) return HYX_BAD_PARAM;
    total += strlen(args[i].key) + strlen(args[i].value);
    if (total > kMaxArgBytes) return HYX_BAD_PARAM;
  }
  if (pthread_mutex_lock(&eventLock) != 0) return HYX_FAILURE;
  HYX_ReturnStatus status = Send(eventTypeId, severity, args, count);
  if (pthread_mutex_unlock(&eventLock) != 0) return HYX_FAILURE;
  return status;
}

HYX_EXPORT HYX_ReturnStatus HyxuserLumEvent_GetThrottlingRemaining(uint32_t *remainingMs) {
  using namespace lumEvent;
  if (remainingMs == nullptr) return HYX_BAD_PARAM;
  if (pthread_mutex_lock(&eventLock) != 0) return HYX_FAILURE;
  uint32_t remaining;
  bool read = eventWindow.Remaining(&remaining);
  if (pthread_mutex_unlock(&eventLock) != 0) return HYX_FAILURE;
  if (!read) return HYX_FAILURE;
  *remainingMs = remaining;
  return HYX_OK;
}

HYX_EXPORT HYX_ReturnStatus HyxuserLumEvent_GetThrottlingPeriod(uint32_t *periodMs) {
  if (periodMs == nullptr) return HYX_BAD_PARAM;
  *periodMs = lumEvent::eventWindow.period();
  return HYX_OK;
}
