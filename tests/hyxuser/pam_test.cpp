// The PAM bridge against the real libpam: the sandbox's "hyxsim" service
// runs pam_unix over the sandbox's own accounts, and services of this test
// run a module of ours for what pam_unix cannot produce.
#include <dlfcn.h>
#include <gtest/gtest.h>
#include <security/pam_appl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <string>

#include "common/hostPaths.h"
#include "hyxuser/hyxuser.h"
#include "pam_standin.h"
#include "run_command.h"

namespace {

constexpr char kPassword[] = "hyx-secret";

void WriteService(const std::string &name, const std::string &arguments) {
  std::string path = "/etc/pam.d/" + name;
  FILE *f = fopen(path.c_str(), "w");
  ASSERT_NE(f, nullptr) << path;
  fprintf(f, "auth required %s %s\naccount required %s %s\n", HYX_PAM_TEST_MODULE, arguments.c_str(),
          HYX_PAM_TEST_MODULE, arguments.c_str());
  fclose(f);
}

class Pam : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    WriteService("hyxtest-converse", std::string("converse=") + kPassword);
    WriteService("hyxtest-return20", "return=20");  // PAM_AUTHTOK_ERR
  }
};

struct Transaction {
  const char *what;
  const char *service;
  const char *user;
  const char *password;
  int silent;
  HYX_ReturnStatus authenticate;
  HYX_ReturnStatus account;
};

TEST_F(Pam, EachAnswerOfThePamStackBecomesItsStatus) {
  const Transaction cases[] = {
      {"the right password", "hyxsim", "hyxuser", kPassword, 0, HYX_OK, HYX_OK},
      {"silently", "hyxsim", "hyxuser", kPassword, 1, HYX_OK, HYX_OK},
      {"a wrong password", "hyxsim", "hyxuser", "wrong", 0, HYX_IO_ERROR, HYX_OK},
      {"an unknown user", "hyxsim", "nosuchuser", kPassword, 0, HYX_NOT_FOUND, HYX_NOT_FOUND},
      {"an expired account", "hyxsim", "hyxexpired", kPassword, 0, HYX_OK, HYX_LIMIT_EXCEEDED},
      {"a password that must change", "hyxsim", "hyxchange", kPassword, 0, HYX_OK, HYX_STATUS_PENDING},
      {"prompts of every style", "hyxtest-converse", "anyone", kPassword, 0, HYX_OK, HYX_OK},
      {"the wrong answer to them", "hyxtest-converse", "anyone", "other", 0, HYX_IO_ERROR, HYX_IO_ERROR},
      {"no password for them", "hyxtest-converse", "anyone", nullptr, 0, HYX_READ_ERROR, HYX_READ_ERROR},
      {"a module's own failure", "hyxtest-return20", "anyone", kPassword, 0, HYX_METADATA_READ_ERROR,
       HYX_METADATA_READ_ERROR},
  };
  for (const Transaction &c : cases) {
    SCOPED_TRACE(c.what);
    pam_handle_t *handle = nullptr;
    ASSERT_EQ(HyxuserPam_Start(c.service, c.user, c.password, &handle), HYX_OK);
    ASSERT_NE(handle, nullptr);
    EXPECT_EQ(HyxuserPam_Authenticate(handle, c.silent), c.authenticate);
    EXPECT_EQ(HyxuserPam_Acct_Mgmt(handle, c.silent), c.account);
    EXPECT_EQ(HyxuserPam_End(handle), HYX_OK);
  }
}

TEST_F(Pam, ArgumentsAreCheckedBeforeLibpamIsLoaded) {
  EXPECT_EXIT(
      {
        pam_handle_t *handle = reinterpret_cast<pam_handle_t *>(1);
        bool ok = HyxuserPam_Start("hyxsim", nullptr, kPassword, &handle) == HYX_BAD_PARAM &&
                  HyxuserPam_Start("hyxsim", nullptr, kPassword, nullptr) == HYX_BAD_PARAM &&
                  HyxuserPam_Start("hyxsim", "hyxuser", kPassword, nullptr) == HYX_FAILURE &&
                  handle == reinterpret_cast<pam_handle_t *>(1) &&
                  dlopen(hostPaths::kLibPam, RTLD_LAZY | RTLD_NOLOAD) == nullptr;
        // The bridge closes libpam after each call.
        ok = ok && HyxuserPam_Start("hyxsim", "hyxuser", kPassword, &handle) == HYX_OK &&
             HyxuserPam_End(handle) == HYX_OK &&
             dlopen(hostPaths::kLibPam, RTLD_LAZY | RTLD_NOLOAD) == nullptr;
        _exit(ok ? 0 : 1);
      },
      testing::ExitedWithCode(0), "");
}

TEST_F(Pam, WithoutLibpamEveryCallFailsAndLeavesTheHandle) {
  std::string moved = std::string(hostPaths::kLibPam) + ".away";
  ASSERT_EQ(rename(hostPaths::kLibPam, moved.c_str()), 0);
  pam_handle_t *handle = reinterpret_cast<pam_handle_t *>(1);
  EXPECT_EQ(HyxuserPam_Start("hyxsim", "hyxuser", kPassword, &handle), HYX_FAILURE);
  EXPECT_EQ(handle, reinterpret_cast<pam_handle_t *>(1));
  EXPECT_EQ(HyxuserPam_Authenticate(nullptr, 0), HYX_FAILURE);
  EXPECT_EQ(HyxuserPam_Acct_Mgmt(nullptr, 0), HYX_FAILURE);
  EXPECT_EQ(HyxuserPam_End(nullptr), HYX_FAILURE);
  ASSERT_EQ(rename(moved.c_str(), hostPaths::kLibPam), 0);
}

TEST_F(Pam, AHandlePamRefusesIsPassedOn) {
  // PAM answers for a missing handle itself (PAM_SYSTEM_ERR).
  EXPECT_EQ(HyxuserPam_Authenticate(nullptr, 0), HYX_FAILURE);
  EXPECT_EQ(HyxuserPam_End(nullptr), HYX_FAILURE);
}

TEST_F(Pam, HyxinfoChecksAPasswordFromStandardInput) {
  CommandOutcome good = RunCommand("echo hyx-secret | " HYX_HYXINFO " pam check hyxsim hyxuser 2>&1");
  EXPECT_EQ(good.status, 0) << good.output;
  EXPECT_EQ(good.output, "hyxuser: authenticated, account valid\n");
  CommandOutcome bad = RunCommand("echo wrong | " HYX_HYXINFO " pam check hyxsim hyxuser 2>&1");
  EXPECT_EQ(WEXITSTATUS(bad.status), 1);
  // The status, and beside it what PAM said.
  char expected[160];
  snprintf(
      expected, sizeof expected,
      "hyxinfo: authenticate (PAM: PAM_AUTH_ERR, authentication failure): HYX_IO_ERROR (0x%08x): I/O error\n",
      HYX_IO_ERROR);
  EXPECT_EQ(bad.output, expected);
}

// The stand-in libpam in place of the real one for the length of a test.
class StandinPam : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_EQ(rename(hostPaths::kLibPam, kReal), 0);
    ASSERT_EQ(symlink(HYX_PAM_STANDIN, hostPaths::kLibPam), 0);
  }
  void TearDown() override {
    unlink(hostPaths::kLibPam);
    ASSERT_EQ(rename(kReal, hostPaths::kLibPam), 0);
  }
  static constexpr char kReal[] = "/lib64/libpam.so.0.real";
};

TEST_F(StandinPam, AServiceRefusedAtStartLeavesNoHandle) {
  pam_handle_t *handle = reinterpret_cast<pam_handle_t *>(1);
  EXPECT_EQ(HyxuserPam_Start("start=3 check=0 end=0", "hyxuser", kPassword, &handle), HYX_MODULE_FAILED);
  EXPECT_EQ(handle, nullptr);
  EXPECT_EQ(HyxuserPam_Start("start=32 check=0 end=0", "hyxuser", kPassword, &handle), HYX_FAILURE);
  EXPECT_EQ(handle, nullptr);
}

// Every PAM return value, by its number in Linux-PAM's numbering, and the
// status it becomes.
TEST_F(StandinPam, EachPamValueBecomesItsStatus) {
  const struct {
    int value;
    HYX_ReturnStatus status;
  } rows[] = {
      {1, HYX_DEVICE_NOT_READY_FAIL_OPEN},
      {2, HYX_UNRESOLVED_SYMBOL},
      {3, HYX_MODULE_FAILED},
      {4, HYX_FAILURE},
      {5, HYX_NO_BUFFERSPACE},
      {6, HYX_NO_ACCESS},
      {7, HYX_IO_ERROR},
      {8, HYX_BUSY},
      {9, HYX_NOT_READY},
      {10, HYX_NOT_FOUND},
      {11, HYX_MAX_RETRIES_EXCEEDED},
      {12, HYX_STATUS_PENDING},
      {13, HYX_LIMIT_EXCEEDED},
      {14, HYX_WRITE_ERROR},
      {15, HYX_INVALID_NAME},
      {16, HYX_INVALID_HANDLE},
      {17, HYX_INVALID_ADAPTER},
      {18, HYX_MODULE_NOT_FOUND},
      {19, HYX_READ_ERROR},
      {20, HYX_METADATA_READ_ERROR},
      {21, HYX_METADATA_WRITE_ERROR},
      {22, HYX_LOCK_NOT_FREE},
      {23, HYX_IS_DISABLED},
      {24, HYX_RETRY},
      {25, HYX_IGNORE},
      {26, HYX_ABORTED},
      {27, HYX_INVALID_ADDRESS},
      {28, HYX_INVALID_MODULE},
      {29, HYX_BAD_PARAM_TYPE},
      {30, HYX_WOULD_BLOCK},
      {31, HYX_WAIT_INTERRUPTED},
  };
  for (const auto &row : rows) {
    SCOPED_TRACE(row.value);
    std::string value = std::to_string(row.value);
    pam_handle_t *handle = reinterpret_cast<pam_handle_t *>(1);
    // At start: the status, and no handle for the caller.
    EXPECT_EQ(HyxuserPam_Start(("start=" + value + " check=0 end=0").c_str(), "hyxuser", kPassword, &handle),
              row.status);
    EXPECT_EQ(handle, nullptr);
    ASSERT_EQ(
        HyxuserPam_Start(("start=0 check=" + value + " end=" + value).c_str(), "hyxuser", kPassword, &handle),
        HYX_OK);
    EXPECT_EQ(HyxuserPam_Authenticate(handle, 0), row.status);
    EXPECT_EQ(HyxuserPam_Acct_Mgmt(handle, 1), row.status);
    EXPECT_EQ(HyxuserPam_End(handle), row.status);
    free(handle);
  }
}

TEST_F(StandinPam, ValuesPastTheTableFailAndFlagsFollowSilent) {
  const struct {
    int value;
    HYX_ReturnStatus status;
  } values[] = {
      {0, HYX_OK}, {31, HYX_WAIT_INTERRUPTED}, {32, HYX_FAILURE}, {40, HYX_FAILURE}, {-1, HYX_FAILURE}};
  for (const auto &v : values) {
    SCOPED_TRACE(v.value);
    std::string service = "start=0 check=" + std::to_string(v.value) + " end=" + std::to_string(v.value);
    pam_handle_t *handle = nullptr;
    ASSERT_EQ(HyxuserPam_Start(service.c_str(), "hyxuser", kPassword, &handle), HYX_OK);
    auto *seen = reinterpret_cast<StandinHandle *>(handle);
    EXPECT_EQ(seen->conversationData, kPassword);  // the caller's password, not a copy
    EXPECT_EQ(HyxuserPam_Authenticate(handle, 7), v.status);
    EXPECT_EQ(seen->lastFlags, 0x8001);
    EXPECT_EQ(HyxuserPam_Acct_Mgmt(handle, 0), v.status);
    EXPECT_EQ(seen->lastFlags, 0);
    EXPECT_EQ(HyxuserPam_End(handle), v.status);
    EXPECT_EQ(seen->endStatus, 0);
    free(seen);
  }
}

}  // namespace
