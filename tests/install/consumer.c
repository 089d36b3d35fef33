/* A C program built against the installed library, as a user builds one.
 * Prints the header's version for the test to hold to the package's. */
#include <hyxuser/hyxuser.h>
#include <stdio.h>

int main(void) {
  char text[64];
  if (HyxuserStatus_CodeToString(HYX_NOT_FOUND, text, sizeof text, NULL) != HYX_OK) return 1;
  printf("c: %s; interface %s\n", text, HyxuserCompat_VerifyHSISigniture() == HYX_OK ? "matches" : "differs");
  printf("version %d.%d.%d\n", HYXUSER_VERSION_MAJOR, HYXUSER_VERSION_MINOR, HYXUSER_VERSION_PATCH);
  return 0;
}
