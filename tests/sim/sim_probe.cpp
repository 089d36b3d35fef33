// A program linked with the simulated kernel, run by sim_profile_test with
// the profile under test.  Prints what it sees, one fact a line.
#include <fcntl.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <sys/utsname.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>

#include "hyxsysinfo/hsiCallsUser.h"
#include "hyxsysinfo/hsiParams.h"
#include "hyxsysinfo/hsiTables.h"
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
    } else if (strcmp(argv[i], "pnic") == 0 && i + 1 < argc) {
      // The properties of one physical NIC, by name.
      HsiParamList params = HsiParamList_Alloc(HSI_PARAMLIST_INSTANCE, 1);
      HsiParamList_AddString(params, argv[++i]);
      char buffer[4096];
      HYX_ReturnStatus status = Hsi_Get(HSI_NODE_net_pNics_properties, params, buffer, sizeof buffer);
      HsiParamList_Free(params);
      printf("pnic %#x errno %d\n", status, status == HYX_OK ? 0 : errno);
    } else if (strcmp(argv[i], "spawn") == 0) {
      // This program again, asked for the checksum, with an empty environment.
      char self[4096];
      ssize_t n = readlink("/proc/self/exe", self, sizeof self - 1);
      if (n <= 0) return 2;
      self[n] = '\0';
      const char *childArgv[] = {self, "checksum", nullptr};
      const char *childEnv[] = {nullptr};
      pid_t pid = 0;
      HYX_ReturnStatus status = Kernel_Call(
          KERNEL_CALL_SPAWN, static_cast<const void *>(self), static_cast<const void *>(childArgv),
          static_cast<const void *>(childEnv), uint64_t{0}, uint64_t{0}, static_cast<void *>(&pid));
      int child = 0;
      if (status == HYX_OK) waitpid(pid, &child, 0);
      printf("spawn %d\n", status == HYX_OK ? pid : -1);
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
