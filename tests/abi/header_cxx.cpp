// The public header as a C++ program sees it: the entries that take any
// arguments take them, and the records have the sizes the kernel reads.
#include "hyxuser/hyxuser.h"

static_assert(sizeof(HyxuserSpawnAttr) == 64, "HyxuserSpawnAttr is 64 bytes");
static_assert(sizeof(HyxuserSpawnFileAction) == 24, "HyxuserSpawnFileAction is 24 bytes");
static_assert(HYXUSER_VERSION_MAJOR >= 0 && HYXUSER_VERSION_MINOR >= 0 && HYXUSER_VERSION_PATCH >= 0,
              "the header gives its version");

// Compiled only: the calls show how C++ callers may write them.
int main() {
  bool anyArguments = HyxuserMSR_GetValue(1, "any") == HYX_UNSUPPORTED_CPU;
  bool none = HyxuserIORM_SCSIGetWorldStats() == HYX_NOT_IMPLEMENTED;
  return anyArguments && none ? 0 : 1;
}
