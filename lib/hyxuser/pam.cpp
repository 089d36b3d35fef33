// The PAM bridge: a program checks a user's password and account through the
// host's PAM stack.  libpam is opened at its fixed path for each call and
// closed again, so a program that never authenticates never maps it.
#include <dlfcn.h>
#include <security/pam_appl.h>

#include <cstdlib>
#include <cstring>

#include "common/export.h"
#include "common/hostPaths.h"
#include "status/status.h"

namespace {

// Silent checks also refuse an empty password.
constexpr int kSilentFlags = PAM_SILENT | PAM_DISALLOW_NULL_AUTHTOK;
static_assert(kSilentFlags == 0x8001);
constexpr unsigned kLastPamValue = 31;

int CheckFlags(int silent) { return silent ? kSilentFlags : 0; }

// libpam for the length of one call.
class Libpam {
 public:
  Libpam() : handle_(dlopen(hostPaths::kLibPam, RTLD_LAZY)) {}
  Libpam(const Libpam &) = delete;
  Libpam &operator=(const Libpam &) = delete;
  ~Libpam() {
    if (handle_) dlclose(handle_);
  }

  template <typename F>
  F *Find(const char *name) const {
    return handle_ ? reinterpret_cast<F *>(dlsym(handle_, name)) : nullptr;
  }

 private:
  void *handle_;
};

HYX_ReturnStatus FromPam(int value) {
  unsigned r = static_cast<unsigned>(value);
  return r > kLastPamValue ? static_cast<HYX_ReturnStatus>(HYX_FAILURE) : Status_FromPamReturnValue(value);
}

// Frees answers[0..count) and the array; the password copies are wiped
// before they go back to the allocator.
void FreeAnswers(pam_response *answers, int count) {
  for (int i = 0; i < count; i++) {
    if (answers[i].resp == nullptr) continue;
    explicit_bzero(answers[i].resp, strlen(answers[i].resp));
    free(answers[i].resp);
  }
  free(answers);
}

// Answers every prompt, echoed or not, with the caller's password; texts
// that only inform get no answer.  PAM frees what is handed back.
int Converse(int count, const pam_message **messages, pam_response **responses, void *appData) {
  const char *password = static_cast<const char *>(appData);
  if (count <= 0 || count > PAM_MAX_NUM_MSG || messages == nullptr || responses == nullptr)
    return PAM_CONV_ERR;
  auto *answers = static_cast<pam_response *>(calloc(static_cast<size_t>(count), sizeof(pam_response)));
  if (answers == nullptr) return PAM_BUF_ERR;
  for (int i = 0; i < count; i++) {
    int style = messages[i]->msg_style;
    if (style != PAM_PROMPT_ECHO_OFF && style != PAM_PROMPT_ECHO_ON) continue;
    // A prompt with no password to give is a failed conversation, not a
    // copy through null.
    int failure = password == nullptr ? PAM_CONV_ERR : PAM_BUF_ERR;
    if (password == nullptr || (answers[i].resp = strdup(password)) == nullptr) {
      FreeAnswers(answers, i);
      return failure;
    }
  }
  *responses = answers;
  return PAM_SUCCESS;
}

using CheckFunction = int(pam_handle_t *, int);

HYX_ReturnStatus RunCheck(const char *name, pam_handle_t *handle, int silent) {
  Libpam pam;
  auto *check = pam.Find<CheckFunction>(name);
  if (check == nullptr) return HYX_FAILURE;
  return FromPam(check(handle, CheckFlags(silent)));
}

}  // namespace

HYX_EXPORT HYX_ReturnStatus HyxuserPam_Start(const char *service, const char *user, const char *password,
                                             pam_handle_t **handleOut) {
  if (user == nullptr) return HYX_BAD_PARAM;
  if (handleOut == nullptr) return HYX_FAILURE;
  Libpam pam;
  auto *start = pam.Find<decltype(pam_start)>("pam_start");
  if (start == nullptr) return HYX_FAILURE;
  // PAM keeps the pointer, not a copy: the password must live until End.
  const pam_conv conversation = {Converse, const_cast<char *>(password)};
  pam_handle_t *handle = nullptr;
  int r = start(service, user, &conversation, &handle);
  *handleOut = r == PAM_SUCCESS ? handle : nullptr;
  return FromPam(r);
}

HYX_EXPORT HYX_ReturnStatus HyxuserPam_End(pam_handle_t *handle) {
  Libpam pam;
  auto *end = pam.Find<decltype(pam_end)>("pam_end");
  if (end == nullptr) return HYX_FAILURE;
  return FromPam(end(handle, PAM_SUCCESS));
}

HYX_EXPORT HYX_ReturnStatus HyxuserPam_Authenticate(pam_handle_t *handle, int silent) {
  return RunCheck("pam_authenticate", handle, silent);
}

HYX_EXPORT HYX_ReturnStatus HyxuserPam_Acct_Mgmt(pam_handle_t *handle, int silent) {
  return RunCheck("pam_acct_mgmt", handle, silent);
}
