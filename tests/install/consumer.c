/* A C program built against the installed library, as a user builds one. */
#include <hyxuser/hyxuser.h>
#include <stdio.h>

int main(void) {
  char text[64];
  if (HyxuserStatus_CodeToString(HYX_NOT_FOUND, text, sizeof text, NULL) != HYX_OK) return 1;
  printf("c: %s; interface %s\n", text, HyxuserCompat_VerifyHSISigniture() == HYX_OK ? "matches" : "differs");
  return 0;
}
