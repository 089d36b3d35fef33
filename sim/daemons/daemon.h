// What the sandbox's daemons share: the listening socket, the start-up
// handshake with hyxsim, the stop request and the record file.
#pragma once

#include <fcntl.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <nlohmann/json.hpp>
#include <string>

namespace daemon_kit {

inline volatile sig_atomic_t stopRequested = 0;

// SIGTERM asks the daemon to finish what it has received and leave.
inline void OnStop(int) { stopRequested = 1; }

inline void InstallStopHandler() {
  struct sigaction action {};
  action.sa_handler = OnStop;
  sigemptyset(&action.sa_mask);
  sigaction(SIGTERM, &action, nullptr);
  signal(SIGPIPE, SIG_IGN);
}

[[noreturn]] inline void Die(const char *name, const std::string &what) {
  fprintf(stderr, "%s: %s: %s\n", name, what.c_str(), strerror(errno));
  exit(1);
}

// A stream socket listening at path (a stale socket file is replaced).
inline int Listen(const char *name, const char *path) {
  int fd = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
  if (fd < 0) Die(name, "socket");
  struct sockaddr_un address {};
  address.sun_family = AF_UNIX;
  snprintf(address.sun_path, sizeof address.sun_path, "%s", path);
  unlink(path);
  if (bind(fd, reinterpret_cast<struct sockaddr *>(&address), sizeof address) != 0)
    Die(name, std::string("bind ") + path);
  chmod(path, 0666);
  if (listen(fd, 128) != 0) Die(name, "listen");
  return fd;
}

// Tells hyxsim (through the descriptor named by "--ready-fd N") that the
// daemon listens.
inline void SignalReady(int argc, char **argv) {
  for (int i = 1; i + 1 < argc; ++i) {
    if (strcmp(argv[i], "--ready-fd") != 0) continue;
    int fd = atoi(argv[i + 1]);
    if (write(fd, "R", 1) != 1) perror("ready");
    close(fd);
  }
}

// Appends records, each line with one write so readers never see half of one.
class Records {
 public:
  Records(const char *name, const char *path) {
    fd_ = open(path, O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0644);
    if (fd_ < 0) Die(name, std::string("open ") + path);
  }
  void Add(const nlohmann::json &record) {
    std::string line = record.dump(-1, ' ', false, nlohmann::json::error_handler_t::replace) + "\n";
    if (write(fd_, line.data(), line.size()) != static_cast<ssize_t>(line.size())) perror("record");
  }

 private:
  int fd_;
};

}  // namespace daemon_kit
