#include <strings.h>

#include <cstdio>

#include "hyxinfo.h"
#include "json.h"

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

bool StatusByName(const char *name, HYX_ReturnStatus &code) {
  for (const StatusRow &row : kStatusNames) {
    if (strcasecmp(name, row.name) == 0 || strcasecmp(name, row.name + 4) == 0) {
      code = row.code;
      return true;
    }
  }
  return false;
}

const char *StatusNameAt(size_t index) {
  return index < sizeof kStatusNames / sizeof kStatusNames[0] ? kStatusNames[index].name : nullptr;
}

int PrintDone(const char *key) {
  if (JsonOutput()) {
    JsonWriter json(stdout);
    json.BeginObject();
    json.Field(key, true);
    json.EndObject();
  }
  return 0;
}

int PrintThrottle(uint32_t remainingMs, uint32_t periodMs) {
  if (JsonOutput()) {
    JsonWriter json(stdout);
    json.BeginObject();
    json.Field("remainingMs", remainingMs);
    json.Field("periodMs", periodMs);
    json.EndObject();
  } else {
    printf("remaining %u of %u ms\n", remainingMs, periodMs);
  }
  return 0;
}

int Fail(const char *what, HYX_ReturnStatus status) {
  char text[256];
  HyxuserStatus_CodeToString(status, text, sizeof text, nullptr);
  fprintf(stderr, "hyxinfo: %s: %s (0x%08x): %s\n", what, StatusName(status), status, text);
  return kFailed;
}

}  // namespace hyxinfo
