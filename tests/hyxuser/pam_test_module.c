/*
 * A PAM module for the bridge's tests: it gives what pam_unix cannot.
 *   return=N            every function returns N
 *   converse=PASSWORD   asks with prompts of every style; succeeds only when
 *                       both prompts were answered with PASSWORD and the two
 *                       texts that only inform were not answered
 */
#include <security/pam_modules.h>
#include <stdlib.h>
#include <string.h>

static int Converse(pam_handle_t *pamh, const char *expected) {
  const struct pam_conv *conv = NULL;
  if (pam_get_item(pamh, PAM_CONV, (const void **)&conv) != PAM_SUCCESS || conv == NULL) return PAM_CONV_ERR;
  const struct pam_message texts[4] = {
      {PAM_PROMPT_ECHO_OFF, "Password: "},
      {PAM_TEXT_INFO, "an information text"},
      {PAM_ERROR_MSG, "an error text"},
      {PAM_PROMPT_ECHO_ON, "Token: "},
  };
  const struct pam_message *messages[4] = {&texts[0], &texts[1], &texts[2], &texts[3]};
  struct pam_response *answers = NULL;
  int r = conv->conv(4, messages, &answers, conv->appdata_ptr);
  if (r != PAM_SUCCESS) return r;
  int ok = answers != NULL && answers[0].resp != NULL && strcmp(answers[0].resp, expected) == 0 &&
           answers[1].resp == NULL && answers[2].resp == NULL && answers[3].resp != NULL &&
           strcmp(answers[3].resp, expected) == 0;
  for (int i = 0; answers != NULL && i < 4; i++) free(answers[i].resp);
  free(answers);
  return ok ? PAM_SUCCESS : PAM_AUTH_ERR;
}

static int Run(pam_handle_t *pamh, int argc, const char **argv) {
  for (int i = 0; i < argc; i++) {
    if (strncmp(argv[i], "return=", 7) == 0) return atoi(argv[i] + 7);
    if (strncmp(argv[i], "converse=", 9) == 0) return Converse(pamh, argv[i] + 9);
  }
  return PAM_SUCCESS;
}

PAM_EXTERN int pam_sm_authenticate(pam_handle_t *pamh, int flags, int argc, const char **argv) {
  (void)flags;
  return Run(pamh, argc, argv);
}

PAM_EXTERN int pam_sm_acct_mgmt(pam_handle_t *pamh, int flags, int argc, const char **argv) {
  (void)flags;
  return Run(pamh, argc, argv);
}

PAM_EXTERN int pam_sm_setcred(pam_handle_t *pamh, int flags, int argc, const char **argv) {
  (void)pamh, (void)flags, (void)argc, (void)argv;
  return PAM_SUCCESS;
}
