// A program linked with the simulated kernel, run by sim_profile_test with
// the profile under test.  Prints what it sees, one fact a line.
#include <fcntl.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <sys/utsname.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>

#include "hyxsysinfo/kernelCall.h"

namespace {

// The outcome of a device-control request: "ok" or the errno's name.
const char *Outcome(int result) {
  if (result == 0) return "ok";
  return errno == EBADF ? "EBADF" : errno == ENOTTY ? "ENOTTY" : strerror(errno);
}

}  // namespace

int main(int argc, char **argv) {
  for (int i = 1; i < argc; ++i) {
    if (strcmp(argv[i], "uname") == 0) {
      struct utsname names;
      uname(&names);
      printf("uname %s %s %s\n", names.sysname, names.release, names.nodename);
    } else if (strcmp(argv[i], "checksum") == 0) {
      uint32_t checksum = 0;
      HYX_ReturnStatus status = Kernel_Call(KERNEL_CALL_SYSCALL_API_CHECKSUM, &checksum, uint64_t{0});
      printf("checksum %s\n", status == HYX_OK && checksum == SYSCALL_API_CHECKSUM ? "matches" : "differs");
    } else if (strcmp(argv[i], "smbios") == 0) {
      uint32_t length = 0;
      HYX_ReturnStatus status = Kernel_Call(KERNEL_CALL_SMBIOS_LENGTH, &length, uint64_t{0});
      printf("smbios %u\n", status == HYX_OK ? length : 0);
    } else if (strcmp(argv[i], "socket") == 0) {
      int fds[2];
      int sock = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
      if (sock < 0 || pipe2(fds, O_CLOEXEC) != 0) return 2;
      printf("socket %s", Outcome(ioctl(sock, DEVICE_REQUEST_RELINQUISH_SOCKET)));
      printf(" pipe %s", Outcome(ioctl(fds[0], DEVICE_REQUEST_RELINQUISH_SOCKET)));
      close(sock);
      printf(" closed %s\n", Outcome(ioctl(sock, DEVICE_REQUEST_RELINQUISH_SOCKET)));
      close(fds[0]);
      close(fds[1]);
    }
  }
  return 0;
}
