/* A program as users write them, linked to the shipped library: prints
 * what the load step concluded and what one gated export answers.  The
 * snapshot load test runs it with HYXUSER_HSI_SNAPSHOT set. */
#include <stdio.h>

#include "hyxuser/hyxuser.h"

int main(void) {
  HyxuserSystemVersion version;
  HYX_ReturnStatus status = HyxuserVersion_GetSystemVersion(&version);
  printf("load %#010x\n", HyxuserCompat_VerifyHSISigniture());
  if (status == HYX_OK)
    printf("version %s %s %s\n", version.product, version.productVersion, version.buildVersion);
  else
    printf("version %#010x\n", status);
  return 0;
}
