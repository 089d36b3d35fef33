// Sockets: what a program needs to open the kernel's own sockets.
#include "common/export.h"
#include "hyxuser/hyxuser.h"

namespace {

constexpr int kNativeSocketFamily = 26;

}  // namespace

HYX_EXPORT HYX_ReturnStatus HyxuserSocket_NativeSocketFamily(int *family) {
  if (family == nullptr) return HYX_BAD_PARAM;
  *family = kNativeSocketFamily;
  return HYX_OK;
}
