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

int Usage() {
  fputs("usage: hyxinfo status CODE     name, message and errno of a status code\n"
        "       hyxinfo status --all    the whole status table\n"
        "       hyxinfo host            the kernel and whether it speaks the library's interfaces\n",
        stderr);
  return 2;
}

}  // namespace

int main(int argc, char **argv) {
  if (argc == 2 && strcmp(argv[1], "host") == 0) return PrintHost();
  if (argc == 3 && strcmp(argv[1], "status") == 0)
    return strcmp(argv[2], "--all") == 0 ? PrintAllStatuses() : PrintStatus(argv[2]);
  return Usage();
}
