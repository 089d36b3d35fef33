/*
 * hostversion: prints the host kernel's product and build, and says what a
 * refusal means.  Build and run it (on a development machine, on the
 * simulated host):
 *   cc -std=c11 -D_POSIX_C_SOURCE=200809L hostversion.c -o hostversion $(pkg-config --cflags --libs hyxuser)
 *   hyxsim -- ./hostversion
 */
#include <hyxuser/hyxuser.h>
#include <stdio.h>

int main(void) {
  HyxuserSystemVersion version;
  HYX_ReturnStatus status = HyxuserVersion_GetSystemVersion(&version);
  if (status != HYX_OK) {
    char text[128];
    HyxuserStatus_CodeToString(status, text, sizeof text, NULL);
    fprintf(stderr, "hostversion: %s (0x%08x)\n", text, (unsigned)status);
    if (status == HYX_CHECKSUM_MISMATCH) fprintf(stderr, "hostversion: not a Hyxkernel host (try hyxsim)\n");
    return 1;
  }
  printf("%s %s (%s, build %u)\n", version.product, version.productVersion, version.buildVersion,
         (unsigned)version.build);
  printf("built against libhyxuser %d.%d.%d\n", HYXUSER_VERSION_MAJOR, HYXUSER_VERSION_MINOR,
         HYXUSER_VERSION_PATCH);
  return 0;
}
