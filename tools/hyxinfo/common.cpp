#include "hyxinfo.h"

namespace hyxinfo {

int PrintThrottle(uint32_t remainingMs, uint32_t periodMs) {
  if (JsonOutput()) {
    JsonWriter json(Out());
    json.BeginObject();
    json.Field("remainingMs", remainingMs);
    json.Field("periodMs", periodMs);
    json.Field("scope", "process");
    json.EndObject();
  } else {
    // The window is the library's, in this process: every process that
    // sends has its own, and this one has sent nothing.
    printf("remaining %u of %u ms (in this process: each process has its own window)\n", remainingMs,
           periodMs);
  }
  return 0;
}

}  // namespace hyxinfo
