#include "pam_standin.h"

#include <security/pam_appl.h>
#include <stdio.h>
#include <stdlib.h>

int pam_start(const char *service, const char *user, const struct pam_conv *conv, pam_handle_t **handle) {
  (void)user;
  int start = 0;
  struct StandinHandle *h = calloc(1, sizeof *h);
  if (h == NULL) return PAM_BUF_ERR;
  sscanf(service, "start=%d check=%d end=%d", &start, &h->check, &h->end);
  h->conversationData = conv->appdata_ptr;
  if (start != PAM_SUCCESS) {
    /* A handle even when refusing: the caller must not keep it. */
    static struct StandinHandle refused;
    free(h);
    h = &refused;
  }
  *handle = (pam_handle_t *)h;
  return start;
}

static int Check(pam_handle_t *handle, int flags) {
  struct StandinHandle *h = (struct StandinHandle *)handle;
  h->lastFlags = flags;
  return h->check;
}

int pam_authenticate(pam_handle_t *handle, int flags) { return Check(handle, flags); }
int pam_acct_mgmt(pam_handle_t *handle, int flags) { return Check(handle, flags); }

int pam_end(pam_handle_t *handle, int status) {
  struct StandinHandle *h = (struct StandinHandle *)handle;
  h->endStatus = status;
  return h->end;
}
