// Entry points kept for programs written for older hosts: where the program
// runs, giving up a socket's ownership, and the adapter rescan under its old
// names.
#include <sys/ioctl.h>

#include <cerrno>

#include "common/export.h"
#include "hyxsysinfo/hostType.h"
#include "hyxsysinfo/kernelCall.h"
#include "status/status.h"

HYX_EXPORT HYX_ReturnStatus HyxuserCompat_InCOS(int *inCos) {
  if (inCos == nullptr) return HYX_BAD_PARAM;
  *inCos = IsHyxkernelHost() ? 0 : 1;
  return HYX_OK;
}

HYX_EXPORT HYX_ReturnStatus HyxuserCompat_RelinquishSocketOwnership(int socketFd) {
  if (ioctl(socketFd, DEVICE_REQUEST_RELINQUISH_SOCKET) != 0) return StatusFromErrno(errno);
  return HYX_OK;
}

HYX_EXPORT HYX_ReturnStatus HyxuserCompat_RescanHyxkernelHba(const char *adapterName) {
  return HyxuserStorage_RescanDeletePathsOnHyxkernelAdapter(adapterName);
}

HYX_EXPORT HYX_ReturnStatus HyxuserCompat_MapLinuxHbaToHyxkernelHba(...) { return HYX_NOT_IMPLEMENTED; }
