// hyxinfo status: the status table and its conversions.
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "hyxinfo.h"

namespace hyxinfo {

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

int PrintStatus(const char *arg) {
  char *end = nullptr;
  errno = 0;
  unsigned long value = strtoul(arg, &end, 0);
  if (errno != 0 || end == arg || *end != '\0' || value > 0xffffffffUL) {
    fprintf(stderr, "hyxinfo: not a status code: %s\n", arg);
    return kUsage;
  }
  HYX_ReturnStatus code = static_cast<HYX_ReturnStatus>(value);
  char text[256];
  HYX_ReturnStatus known = HyxuserStatus_CodeToString(code, text, sizeof text, nullptr);
  int err = 0;
  HyxuserStatus_CodeToErrno(code, &err);
  printf("code:    0x%08x\nname:    %s\nmessage: %s\nerrno:   %d\n", code, StatusName(code), text, err);
  int pam = HyxuserStatus_CodeToPamReturnValue(code);
  if (pam >= 0) printf("pam:     %d\n", pam);
  return known == HYX_OK ? 0 : kFailed;
}

// One line per row of the table: code, name, errno and the row's message.
int PrintAllStatuses() {
  for (const StatusRow &row : kStatusRows)
    printf("0x%08x  %-45s %4d  %s\n", row.code, row.name, row.err, row.message);
  return 0;
}

}  // namespace

int RunStatus(int argc, char **argv) {
  if (argc != 1) return kUsage;
  return strcmp(argv[0], "--all") == 0 ? PrintAllStatuses() : PrintStatus(argv[0]);
}

}  // namespace hyxinfo
