#include <cstdio>

#include "hyxinfo.h"

namespace hyxinfo {

namespace {

struct StatusRow {
  HYX_ReturnStatus code;
  const char *name;
};

constexpr StatusRow kStatusNames[] = {
#define HYX_STATUS(n, name, err, msg) {name, #name},
#include "hyxuser/hyxuser_status.def"
#undef HYX_STATUS
};

}  // namespace

bool jsonOutput = false;

bool JsonOutput() { return jsonOutput; }

const char *StatusName(HYX_ReturnStatus code) {
  if (code > HYX_ERRNO_STATUS_BASE) return "HYX_GENERIC_LINUX_ERROR";
  if (code == HYX_ERRNO_STATUS_BASE) return "HYX_OK";
  for (const StatusRow &row : kStatusNames)
    if (row.code == code) return row.name;
  return "UNKNOWN";
}

int Fail(const char *what, HYX_ReturnStatus status) {
  char text[256];
  HyxuserStatus_CodeToString(status, text, sizeof text, nullptr);
  fprintf(stderr, "hyxinfo: %s: %s (0x%08x): %s\n", what, StatusName(status), status, text);
  return kFailed;
}

int UsageOf(const Command &command) {
  fprintf(stderr, "usage: hyxinfo %s", command.usage);
  return kUsage;
}

}  // namespace hyxinfo
