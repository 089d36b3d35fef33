#include "kit.h"

#include <sys/syscall.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>

#include "profile.h"

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
    case 0: return HYX_OK;
    case ENOENT: return HYX_NOT_FOUND;
    case EACCES: return HYX_NO_ACCESS;
    case EPERM: return HYX_NO_PERMISSION;
    case ENOEXEC: return HYX_NOT_EXEC;
    case EBADF: return HYX_INVALID_HANDLE;
    case ENOTDIR: return HYX_NOT_A_DIRECTORY;
    case ENOMEM: return HYX_NO_MEMORY;
    case EFAULT: return HYX_INVALID_ADDRESS;
    case ENAMETOOLONG: return HYX_NAME_TOO_LONG;
    case EINVAL: return HYX_BAD_PARAM;
    default: return HYX_ERRNO_STATUS_BASE + static_cast<uint32_t>(err);
  }
}

void Answer(Call &call, uint32_t status, int err) {
  call.status = status;
  call.error = static_cast<uint64_t>(-static_cast<int64_t>(err));
}

void Answer(Call &call, uint32_t status) { Answer(call, status, status == HYX_OK ? 0 : ErrnoOfStatus(status)); }

void AnswerErrno(Call &call, int err) { Answer(call, StatusOfErrno(err), err); }

void AnswerLinux(Call &call, long result) { call.status = static_cast<uint64_t>(result); }

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

// ---- profile values ----------------------------------------------------------

bool DecodeNumber(const nlohmann::json &value, uint64_t &out, std::string &error) {
  if (value.is_boolean()) {
    out = value.get<bool>();
  } else if (value.is_number_unsigned()) {
    out = value.get<uint64_t>();
  } else if (value.is_number_integer()) {
    out = static_cast<uint64_t>(value.get<int64_t>());
  } else if (value.is_number_float()) {
    out = static_cast<uint64_t>(static_cast<int64_t>(value.get<double>()));
  } else if (value.is_string()) {
    const std::string &text = value.get_ref<const std::string &>();
    char *end = nullptr;
    errno = 0;
    out = !text.empty() && text[0] == '-' ? static_cast<uint64_t>(strtoll(text.c_str(), &end, 0))
                                          : strtoull(text.c_str(), &end, 0);
    if (text.empty() || *end != '\0' || errno == ERANGE) {
      error = "\"" + text + "\" is not a number";
      return false;
    }
  } else {
    error = value.dump() + " is not a number";
    return false;
  }
  return true;
}

bool DecodeBytes(const nlohmann::json &value, std::vector<uint8_t> &out, std::string &error) {
  out.clear();
  if (value.is_array()) {
    for (const auto &item : value) {
      uint64_t number;
      if (!DecodeNumber(item, number, error)) return false;
      if (number > 0xff) {
        error = item.dump() + " is not a byte";
        return false;
      }
      out.push_back(static_cast<uint8_t>(number));
    }
    return true;
  }
  if (!value.is_string()) {
    error = "takes text, \"hex:...\" or a list of numbers";
    return false;
  }
  const std::string &text = value.get_ref<const std::string &>();
  if (text.rfind("hex:", 0) != 0) {
    out.assign(text.begin(), text.end());
    return true;
  }
  std::string digits;
  for (char c : text.substr(4))
    if (!isspace(static_cast<unsigned char>(c))) digits += c;
  if (digits.size() % 2 != 0) {
    error = "odd number of hex digits";
    return false;
  }
  for (size_t i = 0; i < digits.size(); i += 2) {
    if (!isxdigit(static_cast<unsigned char>(digits[i])) || !isxdigit(static_cast<unsigned char>(digits[i + 1]))) {
      error = "bad hex digits \"" + digits.substr(i, 2) + "\"";
      return false;
    }
    out.push_back(static_cast<uint8_t>(strtoul(digits.substr(i, 2).c_str(), nullptr, 16)));
  }
  return true;
}

ProfileObject::ProfileObject(const nlohmann::json *object, std::string where)
    : object_(object), where_(std::move(where)) {
  if (object_ != nullptr && !object_->is_object()) fault_ = where_ + ": takes an object";
}

bool ProfileObject::Has(const char *field) const {
  return object_ != nullptr && object_->is_object() && object_->contains(field);
}

const nlohmann::json *ProfileObject::Field(const char *field) {
  read_.emplace_back(field);
  if (!ok() || !Has(field)) return nullptr;
  return &(*object_)[field];
}

void ProfileObject::Fail(const char *field, const std::string &reason) {
  if (ok()) fault_ = where_ + "." + field + ": " + reason;
}

std::string ProfileObject::Text(const char *field, const std::string &fallback) {
  const nlohmann::json *value = Field(field);
  if (value == nullptr) return fallback;
  if (!value->is_string()) {
    Fail(field, "takes text");
    return fallback;
  }
  return value->get<std::string>();
}

bool ProfileObject::Flag(const char *field, bool fallback) {
  const nlohmann::json *value = Field(field);
  if (value == nullptr) return fallback;
  if (!value->is_boolean()) {
    Fail(field, "takes true or false");
    return fallback;
  }
  return value->get<bool>();
}

uint64_t ProfileObject::Number(const char *field, uint64_t fallback, uint64_t max) {
  const nlohmann::json *value = Field(field);
  if (value == nullptr) return fallback;
  uint64_t number;
  std::string error;
  if (!DecodeNumber(*value, number, error)) {
    Fail(field, error);
    return fallback;
  }
  if (number > max) {
    Fail(field, value->dump() + " is larger than " + std::to_string(max));
    return fallback;
  }
  return number;
}

std::vector<uint8_t> ProfileObject::Bytes(const char *field) {
  std::vector<uint8_t> bytes;
  const nlohmann::json *value = Field(field);
  std::string error;
  if (value != nullptr && !DecodeBytes(*value, bytes, error)) Fail(field, error);
  return bytes;
}

std::string ProfileObject::Choice(const char *field, std::initializer_list<const char *> choices,
                                  const char *fallback) {
  std::string text = Text(field, fallback);
  for (const char *choice : choices)
    if (text == choice) return text;
  std::string known;
  for (const char *choice : choices) known += std::string(known.empty() ? "" : ", ") + "\"" + choice + "\"";
  Fail(field, "\"" + text + "\" is none of " + known);
  return fallback;
}

const nlohmann::json *ProfileObject::Raw(const char *field) { return Field(field); }

bool ProfileObject::Done() {
  if (ok() && object_ != nullptr)
    for (const auto &item : object_->items())
      if (std::find(read_.begin(), read_.end(), item.key()) == read_.end()) {
        Fail(item.key().c_str(), "unknown field");
        break;
      }
  return ok();
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
  _exit(127);
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
  const char *path = profile.path.empty() ? "built-in host" : profile.path.c_str();
  for (size_t i = 0; i < sectionCount; ++i) {
    auto at = document.find(sections[i].name);
    std::string error;
    if (!sections[i].loader(at == document.end() ? nullptr : &*at, error)) {
      fprintf(stderr, "hyxsim: %s: %s\n", path, error.c_str());
      _exit(127);
    }
  }
  for (const auto &item : document.items()) {
    bool known = std::find(std::begin(kCoreSections), std::end(kCoreSections), item.key()) != std::end(kCoreSections);
    for (size_t i = 0; i < sectionCount && !known; ++i) known = item.key() == sections[i].name;
    if (!known) {
      fprintf(stderr, "hyxsim: %s: %s: unknown section\n", path, item.key().c_str());
      _exit(127);
    }
  }
}

}  // namespace hyxsim
