/* A stand-in libpam for the answers the real one never gives a caller:
 * pam_start refusing a service, and values past Linux-PAM's last one (the
 * real library turns a module's out-of-range value into PAM_PERM_DENIED).
 * The service name chooses the answers: "start=N check=M end=K". */
#ifndef PAM_STANDIN_H
#define PAM_STANDIN_H

/* What pam_start hands out; the test reads it and frees it. */
struct StandinHandle {
  int check, end; /* what the checks and pam_end return */
  int lastFlags;  /* the flags of the last check */
  int endStatus;  /* the status pam_end was given */
  const void *conversationData;
};

#endif
