// The observation client's shared connection, against the sandbox's
// observation daemon.
#include <dirent.h>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <string>
#include <vector>

#include "daemon_records.h"
#include "hyxuser/hob.h"
#include "misc/err.h"

namespace {

// Descriptors of this process that are sockets.
std::vector<int> Sockets() {
  std::vector<int> fds;
  DIR *dir = opendir("/proc/self/fd");
  while (struct dirent *entry = readdir(dir)) {
    char target[64] = {};
    std::string path = std::string("/proc/self/fd/") + entry->d_name;
    if (readlink(path.c_str(), target, sizeof target - 1) > 0 && strncmp(target, "socket:", 7) == 0)
      fds.push_back(atoi(entry->d_name));
  }
  closedir(dir);
  return fds;
}

TEST(HobClient, OverlappingUsersShareOneConnectionUntilTheLastLeaves) {
  std::vector<int> before = Sockets();
  ASSERT_EQ(HobUser_Connect(), 0);
  ASSERT_EQ(HobUser_Connect(), 0);
  std::vector<int> after = Sockets();
  ASSERT_EQ(after.size(), before.size() + 1) << "the second connect opened another socket";
  for (int fd : after) EXPECT_TRUE(fcntl(fd, F_GETFD) & FD_CLOEXEC) << "socket " << fd;

  EXPECT_EQ(HobUser_Send("(first.id)%s has %d", "one", 1), 0);
  HobUser_Disconnect();
  EXPECT_EQ(HobUser_Send("(second.id)%s", Err_ErrnoToText(EACCES)), 0);  // still open
  HobUser_Disconnect();
  EXPECT_EQ(Sockets().size(), before.size());
  errno = 0;
  EXPECT_EQ(HobUser_Send("(third.id)x"), -1);
  EXPECT_EQ(errno, ENOTCONN);
  HobUser_Disconnect();  // with no user left: nothing

  std::vector<Json> records = WaitForRecords(HYXSIM_HOBD_RECORDS, 2);
  ASSERT_EQ(records.size(), 2u);
  EXPECT_EQ(records[0]["id"], "first.id");
  EXPECT_EQ(records[0]["message"], "one has 1");
  EXPECT_EQ(records[1]["id"], "second.id");
  EXPECT_EQ(records[1]["args"][0]["type"], 9);
  EXPECT_EQ(records[1]["args"][0]["errorNumber"], EACCES);
  EXPECT_EQ(records[1]["message"], strerror(EACCES));
  EXPECT_EQ(records[0]["connection"], records[1]["connection"]);
}

TEST(HobClient, AMessageThatCannotBeBuiltIsNotSent) {
  ASSERT_EQ(HobUser_Connect(), 0);
  errno = 0;
  EXPECT_EQ(HobUser_Send("no parentheses"), -1);
  EXPECT_EQ(errno, EINVAL);
  int written = 0;
  EXPECT_EQ(HobUser_Send("(id)%n", &written), -1);
  EXPECT_EQ(errno, EBADMSG);
  EXPECT_EQ(HobUser_Send("(after.id)fine"), 0);
  HobUser_Disconnect();
  std::vector<Json> records = WaitForRecords(HYXSIM_HOBD_RECORDS, 3);
  ASSERT_EQ(records.size(), 3u);
  EXPECT_EQ(records[2]["id"], "after.id");
}

// The sandbox's observation daemon, found by its program's name.
pid_t ObservationDaemon() {
  DIR *dir = opendir("/proc");
  pid_t found = -1;
  while (struct dirent *entry = readdir(dir)) {
    char target[256] = {};
    std::string exe = std::string("/proc/") + entry->d_name + "/exe";
    ssize_t n = readlink(exe.c_str(), target, sizeof target - 1);
    if (n > 0 && std::string(target).find("hyxsim-hobd") != std::string::npos) found = atoi(entry->d_name);
  }
  closedir(dir);
  return found;
}

// A daemon that stops reading fills the stream until a send times out.
// That send is reported failed and leaves the stream whole (a local stream
// takes a message of this size in one piece or not at all), so every
// message reported written arrives once, and the next one arrives whole on
// the same connection.
TEST(HobClient, ASendTimedOutOnAStalledDaemonLosesNothingReportedWritten) {
  pid_t daemon = ObservationDaemon();
  ASSERT_GT(daemon, 0);
  ASSERT_EQ(HobUser_Connect(), 0);
  ASSERT_EQ(kill(daemon, SIGUSR1), 0);  // it stops reading: the stream fills
  const std::string filler(4000, 'f');
  int sent = 0;
  while (HobUser_Send("(filler.id)%s", filler.c_str()) == 0) ++sent;
  EXPECT_EQ(errno, EAGAIN);
  ASSERT_EQ(kill(daemon, SIGUSR1), 0);  // it reads again
  EXPECT_EQ(HobUser_Send("(after.stall)%s", "whole"), 0);
  HobUser_Disconnect();

  std::vector<Json> records = WaitForRecords(HYXSIM_HOBD_RECORDS, 0);
  size_t seen = records.size();
  for (;;) {  // up to the last message, which comes last
    records = WaitForRecords(HYXSIM_HOBD_RECORDS, seen + 1);
    if (records.size() <= seen || records.back().value("id", "") == "after.stall") break;
    seen = records.size();
  }
  ASSERT_FALSE(records.empty());
  EXPECT_EQ(records.back().value("id", ""), "after.stall");
  EXPECT_EQ(records.back().value("message", ""), "whole");
  int fillers = 0;
  for (const Json &r : records) fillers += r.value("id", "") == "filler.id";
  EXPECT_EQ(fillers, sent) << "every message reported written arrived, once";
}

}  // namespace
