// hyxinfo pam check: a user's password and account through the host's PAM
// stack.  The password is read from standard input, without echo on a
// terminal.
#include <security/_pam_types.h>
#include <termios.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <string>

#include "hyxinfo.h"
#include "json.h"

namespace hyxinfo {

namespace {

std::string ReadPassword() {
  struct termios saved;
  bool terminal = isatty(STDIN_FILENO) && tcgetattr(STDIN_FILENO, &saved) == 0;
  if (terminal) {
    fputs("Password: ", stderr);
    struct termios quiet = saved;
    quiet.c_lflag &= ~static_cast<tcflag_t>(ECHO);
    tcsetattr(STDIN_FILENO, TCSAFLUSH, &quiet);
  }
  std::string password;
  for (int c; (c = getchar()) != EOF && c != '\n';) password += static_cast<char>(c);
  if (terminal) {
    tcsetattr(STDIN_FILENO, TCSAFLUSH, &saved);
    fputc('\n', stderr);
  }
  return password;
}

}  // namespace

// What a PAM return value means: Linux-PAM's name and a short text.
struct PamMeaning {
  int value;
  const char *name;
  const char *text;
};

constexpr PamMeaning kPamMeanings[] = {
    {PAM_OPEN_ERR, "PAM_OPEN_ERR", "a module could not be loaded"},
    {PAM_SYMBOL_ERR, "PAM_SYMBOL_ERR", "a symbol was not found"},
    {PAM_SERVICE_ERR, "PAM_SERVICE_ERR", "error in a service module"},
    {PAM_SYSTEM_ERR, "PAM_SYSTEM_ERR", "system error"},
    {PAM_BUF_ERR, "PAM_BUF_ERR", "memory buffer error"},
    {PAM_PERM_DENIED, "PAM_PERM_DENIED", "permission denied"},
    {PAM_AUTH_ERR, "PAM_AUTH_ERR", "authentication failure"},
    {PAM_CRED_INSUFFICIENT, "PAM_CRED_INSUFFICIENT", "insufficient credentials"},
    {PAM_AUTHINFO_UNAVAIL, "PAM_AUTHINFO_UNAVAIL", "authentication information cannot be retrieved"},
    {PAM_USER_UNKNOWN, "PAM_USER_UNKNOWN", "user not known to the underlying authentication module"},
    {PAM_MAXTRIES, "PAM_MAXTRIES", "have exhausted maximum number of retries"},
    {PAM_NEW_AUTHTOK_REQD, "PAM_NEW_AUTHTOK_REQD", "a new authentication token is required"},
    {PAM_ACCT_EXPIRED, "PAM_ACCT_EXPIRED", "user account has expired"},
    {PAM_SESSION_ERR, "PAM_SESSION_ERR", "cannot make or remove an entry for the session"},
    {PAM_CRED_UNAVAIL, "PAM_CRED_UNAVAIL", "credentials unavailable"},
    {PAM_CRED_EXPIRED, "PAM_CRED_EXPIRED", "credentials expired"},
    {PAM_CRED_ERR, "PAM_CRED_ERR", "failure setting user credentials"},
    {PAM_NO_MODULE_DATA, "PAM_NO_MODULE_DATA", "no module specific data is present"},
    {PAM_CONV_ERR, "PAM_CONV_ERR", "conversation error"},
    {PAM_AUTHTOK_ERR, "PAM_AUTHTOK_ERR", "authentication token manipulation error"},
    {PAM_AUTHTOK_RECOVERY_ERR, "PAM_AUTHTOK_RECOVERY_ERR", "authentication information cannot be recovered"},
    {PAM_AUTHTOK_LOCK_BUSY, "PAM_AUTHTOK_LOCK_BUSY", "authentication token lock busy"},
    {PAM_AUTHTOK_DISABLE_AGING, "PAM_AUTHTOK_DISABLE_AGING", "authentication token aging disabled"},
    {PAM_TRY_AGAIN, "PAM_TRY_AGAIN", "failed preliminary check by password service"},
    {PAM_IGNORE, "PAM_IGNORE", "the return value should be ignored by PAM dispatch"},
    {PAM_ABORT, "PAM_ABORT", "critical error, immediate abort"},
    {PAM_AUTHTOK_EXPIRED, "PAM_AUTHTOK_EXPIRED", "authentication token is no longer valid"},
    {PAM_MODULE_UNKNOWN, "PAM_MODULE_UNKNOWN", "unknown module"},
    {PAM_BAD_ITEM, "PAM_BAD_ITEM", "bad item passed to pam_*_item()"},
    {PAM_CONV_AGAIN, "PAM_CONV_AGAIN", "conversation is waiting for event"},
    {PAM_INCOMPLETE, "PAM_INCOMPLETE", "application needs to call libpam again"},
};

// The library's status, and beside it what PAM said: the status maps back
// to exactly one PAM return value.
int FailPam(const char *what, HYX_ReturnStatus status) {
  int value = HyxuserStatus_CodeToPamReturnValue(status);
  for (const PamMeaning &m : kPamMeanings)
    if (m.value == value) return Fail(std::string(what) + " (PAM: " + m.name + ", " + m.text + ")", status);
  return Fail(what, status);
}

int RunPam(int argc, char **argv) {
  if (argc == 0) return UsageError("missing the action: check");
  if (strcmp(argv[0], "check") != 0) return UsageError("no action " + Shown(argv[0]));
  if (argc != 3) return cli::WrongCount(argc, argv, 3, "SERVICE USER");
  const char *service = argv[1], *user = argv[2];
  std::string password = ReadPassword();
  pam_handle *handle = nullptr;
  HYX_ReturnStatus status = HyxuserPam_Start(service, user, password.c_str(), &handle);
  if (status != HYX_OK) return FailPam("start", status);
  HYX_ReturnStatus authenticated = HyxuserPam_Authenticate(handle, 1);
  HYX_ReturnStatus account = authenticated == HYX_OK ? HyxuserPam_Acct_Mgmt(handle, 1) : authenticated;
  HyxuserPam_End(handle);
  if (authenticated != HYX_OK) return FailPam("authenticate", authenticated);
  if (account != HYX_OK) return FailPam("account", account);
  if (JsonOutput()) {
    JsonWriter json(Out());
    json.BeginObject();
    json.Field("user", user);
    json.Field("authenticated", true);
    json.Field("accountValid", true);
    json.EndObject();
  } else {
    printf("%s: authenticated, account valid\n", user);
  }
  return 0;
}

namespace {

constexpr Form kPamForms[] = {
    {"check", "SERVICE USER", "a password (read from stdin, no echo) and account through PAM",
     "{\"user\": text, \"authenticated\": true, \"accountValid\": true}"},
};

}  // namespace

extern const Command kPamCommand = MakeCommand("pam", kPamForms, RunPam);

}  // namespace hyxinfo
