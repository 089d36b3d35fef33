// hyxinfo pam check: a user's password and account through the host's PAM
// stack.  The password is read from standard input, without echo on a
// terminal.
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

int RunPam(int argc, char **argv) {
  if (argc != 3 || strcmp(argv[0], "check") != 0) return kUsage;
  const char *service = argv[1], *user = argv[2];
  std::string password = ReadPassword();
  pam_handle *handle = nullptr;
  HYX_ReturnStatus status = HyxuserPam_Start(service, user, password.c_str(), &handle);
  if (status != HYX_OK) return Fail("start", status);
  HYX_ReturnStatus authenticated = HyxuserPam_Authenticate(handle, 1);
  HYX_ReturnStatus account = authenticated == HYX_OK ? HyxuserPam_Acct_Mgmt(handle, 1) : authenticated;
  HyxuserPam_End(handle);
  if (authenticated != HYX_OK) return Fail("authenticate", authenticated);
  if (account != HYX_OK) return Fail("account", account);
  if (JsonOutput()) {
    JsonWriter json(stdout);
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

}  // namespace hyxinfo
