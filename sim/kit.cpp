#include "kit.h"

#include <sys/syscall.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>

#include "profile.h"
#include "profileValues.h"

namespace hyxsim {

// ---- answers ---------------------------------------------------------------

int ErrnoOfStatus(uint32_t status) {
  switch (status) {
#define HYX_STATUS(n, name, err, msg) \
  case name:                          \
    return err;
#include "hyxuser/hyxuser_status.def"
#undef HYX_STATUS
  }
  return 0;
}

uint32_t StatusOfErrno(int err) {
  switch (err) {
    case 0:
      return HYX_OK;
    case ENOENT:
      return HYX_NOT_FOUND;
    case EACCES:
      return HYX_NO_ACCESS;
    case EPERM:
      return HYX_NO_PERMISSION;
    case ENOEXEC:
      return HYX_NOT_EXEC;
    case EBADF:
      return HYX_INVALID_HANDLE;
    case ENOTDIR:
      return HYX_NOT_A_DIRECTORY;
    case ENOMEM:
      return HYX_NO_MEMORY;
    case EFAULT:
      return HYX_INVALID_ADDRESS;
    case ENAMETOOLONG:
      return HYX_NAME_TOO_LONG;
    case EINVAL:
      return HYX_BAD_PARAM;
    default:
      return HYX_ERRNO_STATUS_BASE + static_cast<uint32_t>(err);
  }
}

void Answer(Call &call, uint32_t status) {
  Answer(call, status, status == HYX_OK ? 0 : ErrnoOfStatus(status));
}

void AnswerErrno(Call &call, int err) { Answer(call, StatusOfErrno(err), err); }

void PassToLinux(Call &call) {
  // The tag marks the call as the simulator's own, so the filter lets it by.
  AnswerLinux(call, RawSyscall(static_cast<long>(call.number), static_cast<long>(call.args[0]),
                               static_cast<long>(call.args[1] | kOwnCallTag), static_cast<long>(call.args[2]),
                               static_cast<long>(call.args[3]), static_cast<long>(call.args[4]),
                               static_cast<long>(call.args[5])));
}

void WriteText(uint64_t buffer, uint64_t size, const char *text) {
  if (buffer == 0 || size == 0) return;
  size_t length = strnlen(text ? text : "", size - 1);
  memcpy(CallerBytes(buffer), text ? text : "", length);
  CallerBytes(buffer)[length] = '\0';
}

// ---- registration ------------------------------------------------------------

namespace {

constexpr size_t kMaxDeviceRequests = 16;
struct DeviceRequestSlot {
  uint32_t request;
  Model model;
};
DeviceRequestSlot deviceRequests[kMaxDeviceRequests];
size_t deviceRequestCount = 0;

// The ioctl call's model: the request's own, or Linux for a request only
// some other registered request's filter entry let through.
void DeviceControl(Call &call) {
  uint32_t request = static_cast<uint32_t>(call.args[1]);
  for (size_t i = 0; i < deviceRequestCount; ++i)
    if (deviceRequests[i].request == request) return deviceRequests[i].model(call);
  PassToLinux(call);
}

constexpr size_t kMaxSections = 32;
struct SectionSlot {
  const char *name;
  SectionLoader loader;
};
SectionSlot sections[kMaxSections];
size_t sectionCount = 0;

// Read by the profile loader itself.
constexpr const char *kCoreSections[] = {"description", "base", "kernel", "mockup"};

[[noreturn]] void Abort(const char *what) {
  fprintf(stderr, "hyxsim: %s\n", what);
  _exit(kRefusedStatus);
}

}  // namespace

void RegisterDeviceRequest(uint32_t request, Model model) {
  for (size_t i = 0; i < deviceRequestCount; ++i)
    if (deviceRequests[i].request == request) {
      deviceRequests[i].model = model;
      return;
    }
  if (deviceRequestCount == kMaxDeviceRequests) Abort("too many device-control requests registered");
  deviceRequests[deviceRequestCount++] = {request, model};
  RegisterModel(__NR_ioctl, DeviceControl);
}

size_t DeviceRequests(uint32_t *requests, size_t capacity) {
  size_t n = std::min(capacity, deviceRequestCount);
  for (size_t i = 0; i < n; ++i) requests[i] = deviceRequests[i].request;
  return n;
}

void RegisterSection(const char *name, SectionLoader loader) {
  if (sectionCount == kMaxSections) Abort("too many profile sections registered");
  sections[sectionCount++] = {name, loader};
}

void LoadSections() {
  const Profile &profile = CurrentProfile();
  const nlohmann::json &document = profile.document;
  const char *path = profile.path.empty() ? "built-in host" : profile.name.c_str();
  for (const char *core : kCoreSections) NoteField("", core);
  for (size_t i = 0; i < sectionCount; ++i) {
    NoteField("", sections[i].name);
    auto at = document.find(sections[i].name);
    std::string error;
    if (!sections[i].loader(at == document.end() ? nullptr : &*at, error)) {
      fprintf(stderr, "hyxsim: %s: %s\n", path, error.c_str());
      _exit(kRefusedStatus);
    }
  }
  for (const auto &item : document.items()) {
    bool known =
        std::find(std::begin(kCoreSections), std::end(kCoreSections), item.key()) != std::end(kCoreSections);
    for (size_t i = 0; i < sectionCount && !known; ++i) known = item.key() == sections[i].name;
    if (!known) {
      fprintf(stderr, "hyxsim: %s: %s: unknown section\n", path, item.key().c_str());
      _exit(kRefusedStatus);
    }
  }
}

}  // namespace hyxsim
