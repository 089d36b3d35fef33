// The names a --trace-calls list takes, shared by the simulator's trace and
// hyxsim, which refuses a name nobody knows before it starts anything.
#pragma once

#include <strings.h>
#include <sys/syscall.h>

#include <cstddef>
#include <cstdint>
#include <cstring>

#include "hyxsysinfo/kernelCall.h"

namespace hyxsim {

// Families of the Linux calls the simulator answers.
inline constexpr const char *kLinuxFamilies[] = {"device", "unknown"};

// A --trace-calls list keeps at most this many families and this many calls.
inline constexpr size_t kMaxTraceFilters = 32;
inline constexpr char kTooManyTraceFilters[] = "goes beyond the 32 families and 32 calls a list may hold";

// An ioctl request named in --trace-calls is kept as this tag plus the request.
inline constexpr uint64_t kRequestTag = uint64_t{1} << 63;

// What one entry names: a family ("hsi"), or a call number: a call by its
// name with or without "KERNEL_CALL_" (any case), "uname", "ioctl", or a
// device-control request by name (tagged).  Neither when it names nothing.
struct TraceCallName {
  const char *group = nullptr;  // the family named
  bool isNumber = false;
  uint64_t number = 0;
};

inline TraceCallName FindTraceCall(const char *entry) {
  TraceCallName found;
  auto same = [&](const char *name) { return strcasecmp(entry, name) == 0; };
  auto sameCall = [&](const char *name) {
    return same(name) || (strncmp(name, "KERNEL_CALL_", 12) == 0 && same(name + 12));
  };
#define TRACE_FAMILY(name, number, family) \
  if (same(#family)) {                     \
    found.group = #family;                 \
    return found;                          \
  }
  KERNEL_CALLS(TRACE_FAMILY)
#undef TRACE_FAMILY
  for (const char *family : kLinuxFamilies)
    if (same(family)) {
      found.group = family;
      return found;
    }
#define TRACE_CALL(name, call, family) \
  if (sameCall(#name)) {               \
    found.isNumber = true;             \
    found.number = call;               \
    return found;                      \
  }
  KERNEL_CALLS(TRACE_CALL)
#undef TRACE_CALL
#define TRACE_REQUEST(name, request, purpose) \
  if (same(#name)) {                          \
    found.isNumber = true;                    \
    found.number = kRequestTag | request;     \
    return found;                             \
  }
  KERNEL_DEVICE_REQUESTS(TRACE_REQUEST)
#undef TRACE_REQUEST
  if (same("uname") || same("ioctl")) {
    found.isNumber = true;
    found.number = same("uname") ? __NR_uname : __NR_ioctl;
  }
  return found;
}

}  // namespace hyxsim
