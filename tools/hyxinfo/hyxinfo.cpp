// hyxinfo: a command-line view of what libhyxuser can tell about its host.
#include <sys/utsname.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "hyxuser/hyxuser.h"

namespace {

struct StatusRow {
  HYX_ReturnStatus code;
  const char *name;
  int err;
  const char *message;
};

constexpr StatusRow kStatusRows[] = {
#define HYX_STATUS(n, name, err, msg) {name, #name, err, msg},
#include "hyxuser/hyxuser_status.def"
#undef HYX_STATUS
};

const char *NameOf(HYX_ReturnStatus code) {
  if (code > HYX_ERRNO_STATUS_BASE) return "HYX_GENERIC_LINUX_ERROR";
  if (code == HYX_ERRNO_STATUS_BASE) return "HYX_OK";
  for (const StatusRow &row : kStatusRows)
    if (row.code == code) return row.name;
  return "UNKNOWN";
}

int PrintStatus(const char *arg) {
  char *end = nullptr;
  errno = 0;
  unsigned long value = strtoul(arg, &end, 0);
  if (errno != 0 || end == arg || *end != '\0' || value > 0xffffffffUL) {
    fprintf(stderr, "hyxinfo: not a status code: %s\n", arg);
    return 2;
  }
  HYX_ReturnStatus code = static_cast<HYX_ReturnStatus>(value);
  char text[256];
  HYX_ReturnStatus known = HyxuserStatus_CodeToString(code, text, sizeof text, nullptr);
  int err = 0;
  HyxuserStatus_CodeToErrno(code, &err);
  printf("code:    0x%08x\nname:    %s\nmessage: %s\nerrno:   %d\n", code, NameOf(code), text, err);
  int pam = HyxuserStatus_CodeToPamReturnValue(code);
  if (pam >= 0) printf("pam:     %d\n", pam);
  return known == HYX_OK ? 0 : 1;
}

// One line per row of the table: code, name, errno and the row's message.
int PrintAllStatuses() {
  for (const StatusRow &row : kStatusRows) printf("0x%08x  %-45s %4d  %s\n", row.code, row.name, row.err, row.message);
  return 0;
}

// What the host is, as far as the library can tell: the kernel's name and
// whether it speaks the interfaces the library was built for.
int PrintHost() {
  struct utsname names;
  if (uname(&names) == 0) printf("kernel:    %s %s\n", names.sysname, names.release);
  HYX_ReturnStatus status = HyxuserCompat_VerifyHSISigniture();
  char text[256];
  HyxuserStatus_CodeToString(status, text, sizeof text, nullptr);
  printf("interface: %s (0x%08x %s)\n", status == HYX_OK ? "matches" : "does not match", status, NameOf(status));
  return status == HYX_OK ? 0 : 1;
}

// Prints the status name of a failed call and gives the exit status.
int Outcome(const char *what, HYX_ReturnStatus status) {
  if (status == HYX_OK) return 0;
  fprintf(stderr, "hyxinfo: %s: %s (0x%08x)\n", what, NameOf(status), status);
  return 1;
}

bool ParseU32(const char *text, uint32_t *value) {
  char *end = nullptr;
  errno = 0;
  unsigned long v = strtoul(text, &end, 0);
  if (errno != 0 || end == text || *end != '\0' || v > 0xffffffffUL) return false;
  *value = static_cast<uint32_t>(v);
  return true;
}

// notify --severity info|warning|error|N --component C --kb K TEXT
int Notify(int argc, char **argv) {
  HyxuserHobContext context;
  memset(&context, 0, sizeof context);
  const char *text = nullptr;
  for (int i = 0; i < argc; ++i) {
    const char *option = argv[i];
    if (option[0] != '-' || i + 1 >= argc) {
      if (text != nullptr || i + 1 != argc) return -1;
      text = option;
      continue;
    }
    const char *value = argv[++i];
    if (strcmp(option, "--severity") == 0) {
      constexpr const char *kNames[] = {"info", "warning", "error"};
      context.severity = 0;
      for (uint32_t s = 0; s < 3; ++s)
        if (strcmp(value, kNames[s]) == 0) context.severity = s + 1;
      if (context.severity == 0 && !ParseU32(value, &context.severity)) return -1;
    } else if (strcmp(option, "--component") == 0) {
      // Longer names reach the library uncut, which refuses them.
      memcpy(context.component, value, strnlen(value, sizeof context.component));
    } else if (strcmp(option, "--kb") == 0) {
      memcpy(context.kb, value, strnlen(value, sizeof context.kb));
    } else {
      return -1;
    }
  }
  if (text == nullptr) return -1;
  return Outcome("notify", HyxuserHob_Notify(&context, "%s", text));
}

// trap OID [OID:TYPE:VALUE ...]; TYPE is a code 0 to 6 or integer, string,
// oid, gauge, timeticks.
int Trap(int argc, char **argv) {
  if (argc < 1) return -1;
  constexpr const char *kTypeNames[] = {"integer", "string", "oid", "gauge", "timeticks"};
  HyxuserSnmpVarBind bindings[256];
  char parts[256][2][256];
  if (argc - 1 > 256) return -1;
  for (int i = 1; i < argc; ++i) {
    const char *arg = argv[i];
    const char *first = strchr(arg, ':');
    const char *second = first ? strchr(first + 1, ':') : nullptr;
    if (second == nullptr || static_cast<size_t>(first - arg) >= 256 || static_cast<size_t>(second - first - 1) >= 256)
      return -1;
    HyxuserSnmpVarBind &b = bindings[i - 1];
    snprintf(parts[i - 1][0], 256, "%.*s", static_cast<int>(first - arg), arg);
    snprintf(parts[i - 1][1], 256, "%.*s", static_cast<int>(second - first - 1), first + 1);
    b.oid = parts[i - 1][0];
    b.value = second + 1;
    b.type = UINT32_MAX;
    for (uint32_t t = 0; t < 5; ++t)
      if (strcmp(parts[i - 1][1], kTypeNames[t]) == 0) b.type = t;
    if (b.type == UINT32_MAX && !ParseU32(parts[i - 1][1], &b.type)) return -1;
  }
  return Outcome("trap", HyxuserSnmp_SendTrap(argv[0], bindings, static_cast<uint64_t>(argc - 1)));
}

int Usage() {
  fputs("usage: hyxinfo status CODE     name, message and errno of a status code\n"
        "       hyxinfo status --all    the whole status table\n"
        "       hyxinfo host            the kernel and whether it speaks the library's interfaces\n"
        "       hyxinfo notify --severity info|warning|error --component C --kb K TEXT\n"
        "                               send an observation to the observation daemon\n"
        "       hyxinfo trap OID [OID:TYPE:VALUE ...]\n"
        "                               raise an SNMP trap; TYPE is integer, string, oid, gauge,\n"
        "                               timeticks or a type code 0 to 6\n",
        stderr);
  return 2;
}

}  // namespace

int main(int argc, char **argv) {
  if (argc == 2 && strcmp(argv[1], "host") == 0) return PrintHost();
  if (argc == 3 && strcmp(argv[1], "status") == 0)
    return strcmp(argv[2], "--all") == 0 ? PrintAllStatuses() : PrintStatus(argv[2]);
  int result = -1;
  if (argc >= 2 && strcmp(argv[1], "notify") == 0) result = Notify(argc - 2, argv + 2);
  if (argc >= 2 && strcmp(argv[1], "trap") == 0) result = Trap(argc - 2, argv + 2);
  return result >= 0 ? result : Usage();
}
