// hyxinfo notify and trap: an observation to the observation daemon, an
// SNMP trap into the SNMP agent's spool.
#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "hyxinfo.h"

namespace hyxinfo {

namespace {

bool ParseU32(const char *text, uint32_t *value) {
  char *end = nullptr;
  errno = 0;
  unsigned long v = strtoul(text, &end, 0);
  if (errno != 0 || end == text || *end != '\0' || v > 0xffffffffUL) return false;
  *value = static_cast<uint32_t>(v);
  return true;
}

}  // namespace

// notify --severity info|warning|error|N --component C --kb K TEXT
int RunNotify(int argc, char **argv) {
  HyxuserHobContext context;
  memset(&context, 0, sizeof context);
  const char *text = nullptr;
  for (int i = 0; i < argc; ++i) {
    const char *option = argv[i];
    if (option[0] != '-' || i + 1 >= argc) {
      if (text != nullptr) return UsageError("one TEXT; not expected: " + Shown(option));
      if (option[0] == '-') return UsageError(std::string(Shown(option)) + " needs a value");
      if (i + 1 != argc) return UsageError("TEXT comes last; not expected after it: " + Shown(argv[i + 1]));
      text = option;
      continue;
    }
    const char *value = argv[++i];
    if (strcmp(option, "--severity") == 0) {
      constexpr const char *kNames[] = {"info", "warning", "error"};
      context.severity = 0;
      for (uint32_t s = 0; s < 3; ++s)
        if (strcmp(value, kNames[s]) == 0) context.severity = s + 1;
      if (context.severity == 0 && !ParseU32(value, &context.severity))
        return UsageError("--severity is info, warning, error or a number: " + Shown(value));
    } else if (strcmp(option, "--component") == 0) {
      // A longer name reaches the library uncut, which refuses it.
      memcpy(context.component, value, strnlen(value, sizeof context.component));
    } else if (strcmp(option, "--kb") == 0) {
      memcpy(context.kb, value, strnlen(value, sizeof context.kb));
    } else {
      return UsageError("no option " + Shown(option));
    }
  }
  if (text == nullptr) return UsageError("missing the TEXT to send");
  HYX_ReturnStatus status = HyxuserHob_Notify(&context, "%s", text);
  return status == HYX_OK ? PrintDone("sent") : Fail("notify", status);
}

// trap OID [OID:TYPE:VALUE ...]; TYPE is integer, string, oid, gauge,
// timeticks or a type code.  The value is the rest, colons included.
int RunTrap(int argc, char **argv) {
  constexpr int kMaxBindings = 256;
  constexpr size_t kPart = 256;
  constexpr const char *kTypeNames[] = {"integer", "string", "oid", "gauge", "timeticks"};
  if (argc == 1 && strcmp(argv[0], "throttle") == 0) {
    uint32_t remaining = 0, period = 0;
    HYX_ReturnStatus status = HyxuserSnmp_GetThrottlingRemaining(&remaining);
    if (status == HYX_OK) status = HyxuserSnmp_GetThrottlingPeriod(&period);
    if (status != HYX_OK) return Fail("trap throttle", status);
    return PrintThrottle(remaining, period);
  }
  if (argc < 1) return UsageError("missing the trap's OID");
  if (argc - 1 > kMaxBindings) return UsageError("at most " + std::to_string(kMaxBindings) + " bindings");
  static HyxuserSnmpVarBind bindings[kMaxBindings];
  static char oids[kMaxBindings][kPart];
  for (int i = 1; i < argc; ++i) {
    const char *arg = argv[i];
    const char *first = strchr(arg, ':');
    const char *second = first ? strchr(first + 1, ':') : nullptr;
    if (second == nullptr || static_cast<size_t>(first - arg) >= kPart)
      return UsageError("a binding is OID:TYPE:VALUE: " + Shown(arg));
    char type[kPart];
    snprintf(oids[i - 1], kPart, "%.*s", static_cast<int>(first - arg), arg);
    snprintf(type, kPart, "%.*s", static_cast<int>(second - first - 1), first + 1);
    HyxuserSnmpVarBind &b = bindings[i - 1];
    b.oid = oids[i - 1];
    b.value = second + 1;
    b.type = UINT32_MAX;
    for (uint32_t t = 0; t < 5; ++t)
      if (strcmp(type, kTypeNames[t]) == 0) b.type = t;
    if (b.type == UINT32_MAX && !ParseU32(type, &b.type))
      return UsageError("TYPE is integer, string, oid, gauge, timeticks or a code: " + Shown(type));
  }
  HYX_ReturnStatus status = HyxuserSnmp_SendTrap(argv[0], bindings, static_cast<uint64_t>(argc - 1));
  return status == HYX_OK ? PrintDone("sent") : Fail("trap", status);
}

namespace {

constexpr Form kNotifyForms[] = {
    {nullptr, "--severity info|warning|error|N --component C --kb K TEXT",
     "an observation to the observation daemon", "{\"sent\": true}"},
};

}  // namespace

extern const Command kNotifyCommand = MakeCommand("notify", kNotifyForms, RunNotify);

namespace {

constexpr Form kTrapForms[] = {
    {nullptr, "OID [OID:TYPE:VALUE ...]",
     "an SNMP trap; TYPE is integer, string, oid, gauge, timeticks or a code 0-6", "{\"sent\": true}"},
    {"throttle", "",
     "milliseconds until the next trap may pass, and the period; the window is per process, so a new "
     "hyxinfo always starts with an open one",
     "{\"remainingMs\": number, \"periodMs\": number, \"scope\": \"process\"}"},
};

}  // namespace

extern const Command kTrapCommand = MakeCommand("trap", kTrapForms, RunTrap);

}  // namespace hyxinfo
