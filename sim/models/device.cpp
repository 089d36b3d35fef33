// Device-control requests that belong to the host's drivers.  Each request
// is a model of its own; requests nobody registers are never trapped.
//
// Still to come with their families: the NVDIMM passthrough
// (DEVICE_REQUEST_NVD_PASSTHROUGH), the file-system attribute and lock
// queries (IOCTLCMD_HXFS_FS_GET_ATTR, DEVICE_REQUEST_HXFS_LOCK_QUERY).
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/syscall.h>

#include <cerrno>

#include "../kit.h"
#include "../models.h"
#include "../profile.h"

namespace hyxsim {
namespace {

// The kernel takes the socket off the caller's hands; nothing the simulator
// needs to keep.  A descriptor that is not open is EBADF, one that is not a
// socket ENOTTY (as for any request a descriptor does not know).
void RelinquishSocket(Call &call) {
  struct stat st;
  if (fstat(static_cast<int>(call.args[0]), &st) != 0) return AnswerLinux(call, -errno);
  AnswerLinux(call, S_ISSOCK(st.st_mode) ? 0 : -ENOTTY);
}

}  // namespace

void RegisterDeviceModels() {
  if (!CurrentProfile().hyxkernel) return;
  RegisterDeviceRequest(DEVICE_REQUEST_RELINQUISH_SOCKET, RelinquishSocket);
}

}  // namespace hyxsim
