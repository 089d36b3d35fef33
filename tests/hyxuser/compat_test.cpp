// The I/O resource management entries and the compatibility entry points
// through the shipped library.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <string>

#include "hyxuser/hyxuser.h"

namespace {

HYX_ReturnStatus S(uint32_t status) { return static_cast<HYX_ReturnStatus>(status); }
bool OnPlainLinux() { return getenv("HYX_TEST_PROFILE") && std::string(getenv("HYX_TEST_PROFILE")) == "plain-linux"; }

using AnyArgs = HYX_ReturnStatus (*)(void *, long, void *, long);

// The entries as old callers declared them, with arguments.
template <typename To, typename From>
To WithArguments(From fn) {
  return reinterpret_cast<To>(reinterpret_cast<void (*)()>(fn));
}

TEST(Iorm, EveryEntryAnswersItsFixedResultWhateverItIsPassed) {
  struct Entry {
    const char *name;
    HYX_ReturnStatus (*fn)();
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
    EXPECT_EQ(e.fn(), e.result) << e.name;
    // Old callers pass arguments, pointers that lead nowhere among them.
    EXPECT_EQ(WithArguments<AnyArgs>(e.fn)(reinterpret_cast<void *>(8), -1, nullptr, 0), e.result) << e.name;
  }
  HyxuserIORM_DeviceListFree();
  WithArguments<void (*)(void *)>(HyxuserIORM_DeviceListFree)(reinterpret_cast<void *>(8));
}

TEST(Compat, InCOSTellsWhetherTheHyxkernelRuns) {
  int inCos = 7;
  ASSERT_EQ(HyxuserCompat_InCOS(&inCos), S(HYX_OK));
  EXPECT_EQ(inCos, OnPlainLinux() ? 1 : 0);
  EXPECT_EQ(HyxuserCompat_InCOS(nullptr), S(HYX_BAD_PARAM));
}

TEST(Compat, RelinquishingASocket) {
  int fd = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
  ASSERT_GE(fd, 0);
  if (!OnPlainLinux()) {
    EXPECT_EQ(HyxuserCompat_RelinquishSocketOwnership(fd), S(HYX_OK));
  }
  close(fd);
  // A closed descriptor: EBADF carried in the status, on any host.
  EXPECT_EQ(HyxuserCompat_RelinquishSocketOwnership(fd), S(HYX_ERRNO_STATUS_BASE + EBADF));
  EXPECT_EQ(HyxuserCompat_RelinquishSocketOwnership(fd), 0x2bad0009u);
  int file = open("/proc/self/stat", O_RDONLY | O_CLOEXEC);
  ASSERT_GE(file, 0);
  EXPECT_EQ(HyxuserCompat_RelinquishSocketOwnership(file), S(HYX_ERRNO_STATUS_BASE + ENOTTY));
  close(file);
}

TEST(Compat, MappingALinuxAdapterIsNotImplemented) {
  EXPECT_EQ(HyxuserCompat_MapLinuxHbaToHyxkernelHba(), S(HYX_NOT_IMPLEMENTED));
  EXPECT_EQ(WithArguments<HYX_ReturnStatus (*)(const char *, char *)>(HyxuserCompat_MapLinuxHbaToHyxkernelHba)(
                "vmhba0", nullptr),
            S(HYX_NOT_IMPLEMENTED));
}

}  // namespace
