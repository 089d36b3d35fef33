// The NVDIMM management device missing: every command is refused with
// HYX_FAILURE and logs one line at LOG_CRIT, and once the device is back
// the next command opens it.  A process of its own: the library keeps the
// device open once it has it.
#include <gtest/gtest.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <syslog.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "common/hostPaths.h"
#include "hyxuser/hyxuser.h"
#include "status_matchers.h"

namespace {

// The host's log socket, bound by the test: what the library logs.
class LogSocket {
 public:
  LogSocket() {
    unlink("/dev/log");
    fd_ = socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    strcpy(address.sun_path, "/dev/log");
    bound_ = bind(fd_, reinterpret_cast<sockaddr *>(&address), sizeof address) == 0;
  }
  ~LogSocket() {
    close(fd_);
    unlink("/dev/log");
  }
  bool bound() const { return bound_; }
  std::vector<std::string> Lines() {
    std::vector<std::string> lines;
    char buffer[1024];
    ssize_t n;
    while ((n = recv(fd_, buffer, sizeof buffer, MSG_DONTWAIT)) > 0) lines.emplace_back(buffer, n);
    return lines;
  }

 private:
  int fd_ = -1;
  bool bound_ = false;
};

TEST(NvdDeviceMissing, EveryCommandLogsOnceAndFailsUntilTheDeviceIsBack) {
  LogSocket log;
  ASSERT_TRUE(log.bound());
  std::string hidden = std::string(hostPaths::kNvdManagementDevice) + ".hidden";
  ASSERT_EQ(rename(hostPaths::kNvdManagementDevice, hidden.c_str()), 0);
  uint8_t in[8] = {}, out[8] = {};
  HyxuserNvdPassthroughCommand command{};
  command.pointer1 = in;
  command.pointer2 = out;
  command.resultHalf = 0x1234;

  // Refused arguments never reach the device.
  EXPECT_THAT(HyxuserNVD_PassthroughCommand(&command), IsStatus(HYX_BAD_PARAM));
  EXPECT_TRUE(log.Lines().empty());

  command.word3 = 1;
  for (int i = 0; i < 2; i++) {
    EXPECT_THAT(HyxuserNVD_PassthroughCommand(&command), IsStatus(HYX_FAILURE));
    std::vector<std::string> lines = log.Lines();
    ASSERT_EQ(lines.size(), 1u) << i;
    // LOG_USER | LOG_CRIT is priority 10.
    EXPECT_EQ(lines[0].rfind("<10>", 0), 0u) << lines[0];
    EXPECT_NE(lines[0].find("Unable to open nvdimm device"), std::string::npos) << lines[0];
  }
  EXPECT_EQ(command.resultHalf, 0x1234u);

  ASSERT_EQ(rename(hidden.c_str(), hostPaths::kNvdManagementDevice), 0);
  EXPECT_THAT(HyxuserNVD_PassthroughCommand(&command), IsStatus(HYX_OK));
  EXPECT_TRUE(log.Lines().empty());
}

}  // namespace
