// The I/O resource management entries and the compatibility entry points
// through the shipped library.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <string>

#include "hyxuser/hyxuser.h"
#include "status_matchers.h"
#include "test_host.h"

namespace {

bool OnPlainLinux() { return OnProfile("plain-linux"); }

TEST(Iorm, EveryEntryAnswersItsFixedResultWhateverItIsPassed) {
  struct Entry {
    const char *name;
    HYX_ReturnStatus (*fn)(...);
    HYX_ReturnStatus result;
  } entries[] = {
      {"SCSIGetWorldStats", HyxuserIORM_SCSIGetWorldStats, HYX_NOT_IMPLEMENTED},
      {"SCSIGetWorldShares", HyxuserIORM_SCSIGetWorldShares, HYX_NOT_IMPLEMENTED},
      {"SCSIGetDeviceInfo", HyxuserIORM_SCSIGetDeviceInfo, HYX_NOT_IMPLEMENTED},
      {"SCSIGetMaxQueueDepth", HyxuserIORM_SCSIGetMaxQueueDepth, HYX_NOT_IMPLEMENTED},
      {"SCSISetMaxQueueDepth", HyxuserIORM_SCSISetMaxQueueDepth, HYX_NOT_IMPLEMENTED},
      {"SCSISetActiveState", HyxuserIORM_SCSISetActiveState, HYX_NOT_IMPLEMENTED},
      {"SCSIGetParams", HyxuserIORM_SCSIGetParams, HYX_NOT_IMPLEMENTED},
      {"SCSISetParams", HyxuserIORM_SCSISetParams, HYX_NOT_IMPLEMENTED},
      {"SCSISaveStatsInKernel", HyxuserIORM_SCSISaveStatsInKernel, HYX_FAILURE},
      {"SCSISetClusterWideStats", HyxuserIORM_SCSISetClusterWideStats, HYX_NOT_IMPLEMENTED},
      {"SCSIGetDeviceListAlloc", HyxuserIORM_SCSIGetDeviceListAlloc, HYX_NOT_IMPLEMENTED},
      {"NFSGetVolumeListAlloc", HyxuserIORM_NFSGetVolumeListAlloc, HYX_NOT_IMPLEMENTED},
      {"NFSGetMaxQueueDepth", HyxuserIORM_NFSGetMaxQueueDepth, HYX_NOT_IMPLEMENTED},
      {"NFSSetMaxQueueDepth", HyxuserIORM_NFSSetMaxQueueDepth, HYX_NOT_IMPLEMENTED},
      {"NFSSetActiveState", HyxuserIORM_NFSSetActiveState, HYX_OK},
      {"NFSGetParams", HyxuserIORM_NFSGetParams, HYX_NOT_IMPLEMENTED},
      {"NFSSetParams", HyxuserIORM_NFSSetParams, HYX_NOT_IMPLEMENTED},
      {"NFSSetLatencyThreshold", HyxuserIORM_NFSSetLatencyThreshold, HYX_NOT_IMPLEMENTED},
      {"NFSSetClusterWideStats", HyxuserIORM_NFSSetClusterWideStats, HYX_NOT_IMPLEMENTED},
      {"NFSGetStats", HyxuserIORM_NFSGetStats, HYX_NOT_IMPLEMENTED},
      {"NFSGetWorldIdsForVolume", HyxuserIORM_NFSGetWorldIdsForVolume, HYX_NOT_IMPLEMENTED},
      {"NFSGetWorldInfo", HyxuserIORM_NFSGetWorldInfo, HYX_NOT_IMPLEMENTED},
  };
  for (const Entry &e : entries) {
    EXPECT_THAT(e.fn(), IsStatus(e.result)) << e.name;
    // Old callers pass arguments, pointers that lead nowhere among them.
    EXPECT_THAT(e.fn(reinterpret_cast<void *>(8), -1L, nullptr, 0L), IsStatus(e.result)) << e.name;
  }
  HyxuserIORM_DeviceListFree();
  HyxuserIORM_DeviceListFree(reinterpret_cast<void *>(8));
}

TEST(Compat, InCOSTellsWhetherTheHyxkernelRuns) {
  int inCos = 7;
  ASSERT_THAT(HyxuserCompat_InCOS(&inCos), IsStatus(HYX_OK));
  EXPECT_EQ(inCos, OnPlainLinux() ? 1 : 0);
  EXPECT_THAT(HyxuserCompat_InCOS(nullptr), IsStatus(HYX_BAD_PARAM));
}

TEST(Compat, RelinquishingASocket) {
  int fd = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
  ASSERT_GE(fd, 0);
  if (!OnPlainLinux()) {
    EXPECT_THAT(HyxuserCompat_RelinquishSocketOwnership(fd), IsStatus(HYX_OK));
  }
  close(fd);
  // A closed descriptor: EBADF carried in the status, on any host.
  EXPECT_THAT(HyxuserCompat_RelinquishSocketOwnership(fd), IsStatus(HYX_ERRNO_STATUS_BASE + EBADF));
  int file = open("/proc/self/stat", O_RDONLY | O_CLOEXEC);
  ASSERT_GE(file, 0);
  EXPECT_THAT(HyxuserCompat_RelinquishSocketOwnership(file), IsStatus(HYX_ERRNO_STATUS_BASE + ENOTTY));
  close(file);
}

TEST(Compat, MappingALinuxAdapterIsNotImplemented) {
  EXPECT_THAT(HyxuserCompat_MapLinuxHbaToHyxkernelHba(), IsStatus(HYX_NOT_IMPLEMENTED));
  EXPECT_THAT(HyxuserCompat_MapLinuxHbaToHyxkernelHba("vmhba0", nullptr), IsStatus(HYX_NOT_IMPLEMENTED));
}

}  // namespace
