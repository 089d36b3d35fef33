// hyxinfo event: an event posted to the management daemon's event log, or
// the event throttle's state.
//
// event TYPEID [--severity info|warning|error|N] [KEY=VALUE ...]
//   prints nothing (a JSON value under --json)
// event throttle (or --throttle)
//   "remaining MS of PERIOD ms"
#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "hyxinfo.h"

namespace hyxinfo {

int RunEvent(int argc, char **argv) {
  constexpr int kMaxArgs = 257;  // one more than the library takes, so it refuses the excess itself
  if (argc == 1 && (strcmp(argv[0], "throttle") == 0 || strcmp(argv[0], "--throttle") == 0)) {
    uint32_t remaining = 0, period = 0;
    HYX_ReturnStatus status = HyxuserLumEvent_GetThrottlingRemaining(&remaining);
    if (status == HYX_OK) status = HyxuserLumEvent_GetThrottlingPeriod(&period);
    if (status != HYX_OK) return Fail("event throttle", status);
    return PrintThrottle(remaining, period);
  }
  const char *typeId = nullptr;
  uint32_t severity = 0;
  static HyxuserLumEventArg args[kMaxArgs];
  uint64_t count = 0;
  for (int i = 0; i < argc; ++i) {
    const char *arg = argv[i];
    if (strcmp(arg, "--severity") == 0) {
      if (++i >= argc) return UsageError("--severity needs a value");
      constexpr const char *kNames[] = {"info", "warning", "error"};
      const char *value = argv[i];
      severity = UINT32_MAX;
      for (uint32_t s = 0; s < 3; ++s)
        if (strcmp(value, kNames[s]) == 0) severity = s;
      if (severity == UINT32_MAX) {
        char *end = nullptr;
        errno = 0;
        unsigned long v = strtoul(value, &end, 10);
        if (errno != 0 || end == value || *end != '\0' || v > UINT32_MAX)
          return UsageError("--severity is info, warning, error or a number: " + Shown(value));
        severity = static_cast<uint32_t>(v);
      }
    } else if (typeId == nullptr) {
      typeId = arg;
    } else {
      // KEY=VALUE; the key ends at the first "=", the value may hold more.
      char *equals = strchr(argv[i], '=');
      if (equals == nullptr) return UsageError("an argument is KEY=VALUE: " + Shown(argv[i]));
      if (count == kMaxArgs) return UsageError("too many KEY=VALUE arguments");
      *equals = '\0';
      args[count++] = {argv[i], equals + 1};
    }
  }
  if (typeId == nullptr) return UsageError("missing the event's TYPEID");
  HYX_ReturnStatus status = HyxuserLumEvent_Send(typeId, severity, args, count);
  return status == HYX_OK ? PrintDone("posted") : Fail("event", status);
}

namespace {

constexpr Form kEventForms[] = {
    {nullptr, "TYPEID [--severity info|warning|error|N] [KEY=VALUE ...]",
     "an event to the management daemon's event log", "{\"posted\": true}"},
    {"throttle", "",
     "milliseconds until the next event may pass, and the period (also: event --throttle); the window is per "
     "process, so a new hyxinfo always starts with an open one",
     "{\"remainingMs\": number, \"periodMs\": number, \"scope\": \"process\"}"},
};

}  // namespace

extern const Command kEventCommand = MakeCommand("event", kEventForms, RunEvent);

}  // namespace hyxinfo
