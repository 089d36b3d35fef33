// hyxinfo host: the kernel, and whether it speaks the library's interfaces.
#include <sys/utsname.h>

#include <cstdio>

#include "hyxinfo.h"

namespace hyxinfo {

int RunHost(int argc, char **) {
  if (argc != 0) return kUsage;
  struct utsname names;
  if (uname(&names) == 0) printf("kernel:    %s %s\n", names.sysname, names.release);
  HYX_ReturnStatus status = HyxuserCompat_VerifyHSISigniture();
  printf("interface: %s (0x%08x %s)\n", status == HYX_OK ? "matches" : "does not match", status,
         StatusName(status));
  return status == HYX_OK ? 0 : kFailed;
}

}  // namespace hyxinfo
