// HXFS volumes: is a path on an HXFS volume, which hosts heartbeat on it,
// how long a file's lock has left, and this host's own UUID.  The volume's
// device is found through the file system's attribute request and the
// host's device directories, then its descriptor and heartbeat region are
// read straight from the device with direct reads.
#include <fcntl.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "common/export.h"
#include "common/guard.h"
#include "common/hostPaths.h"
#include "hyxsysinfo/hsiCallsUser.h"
#include "hyxsysinfo/hsiLoad.h"
#include "hyxsysinfo/hsiTables.h"
#include "hyxsysinfo/hsiTablesRecords.h"
#include "hyxsysinfo/kernelCall.h"
#include "hyxsysinfo/kernelWire.h"
#include "hyxuser/hxfsVolume.h"
#include "status/status.h"

namespace {

// Room for the longest device directory, the "/" and the NUL beside a name.
constexpr size_t kDeviceDirRoom = 27;
constexpr size_t kDeviceNameRoom = HXFS_ATTR_REPLY_SIZE - HXFS_ATTR_DEVICE_NAME;

// A failed close loses nothing the caller asked for: it is only reported.
void CloseVolume(int fd) {
  guard::ErrnoKeeper keep;
  if (close(fd) != 0) fprintf(stderr, "Closing of the volume failed with %d\n", errno);
}

// A device name is one file name inside a device directory: it must end
// inside the reply and may not climb out of the directory.
bool UsableDeviceName(const char *name) {
  size_t length = strnlen(name, kDeviceNameRoom);
  if (length == 0 || length == kDeviceNameRoom) return false;
  if (memchr(name, '/', length) != nullptr) return false;
  return strcmp(name, ".") != 0 && strcmp(name, "..") != 0;
}

// Opens what a caller or the host names without waiting on it (a FIFO
// with no writer would block the open for ever, a terminal would become
// the controlling one) and refuses what cannot hold a volume's records
// before a request is sent or a byte read: -1 with *status set.
int OpenWithoutWaiting(const char *path, int flags, bool (*usable)(mode_t), HYX_ReturnStatus *status) {
  int fd = open(path, flags | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
  if (fd < 0) {
    *status = StatusFromErrno(errno);
    return -1;
  }
  struct stat st;
  if (fstat(fd, &st) != 0) {
    *status = StatusFromErrno(errno);
  } else if (!usable(st.st_mode)) {
    *status = HYX_BAD_PARAM;
  } else {
    *status = HYX_OK;
    return fd;
  }
  CloseVolume(fd);
  return -1;
}

// A path inside a volume is a file or a directory of it.
bool InsideVolume(mode_t mode) { return S_ISREG(mode) || S_ISDIR(mode); }
// A volume's device is a block device or an image file.
bool DeviceOrImage(mode_t mode) { return S_ISBLK(mode) || S_ISREG(mode); }

// The path of the device holding the volume that `path` is on (the caller
// frees *devicePath) and where the volume starts on it.
HYX_ReturnStatus ResolveVolume(const char *path, char **devicePath, uint64_t *volumeStart) {
  HYX_ReturnStatus status;
  int fd = OpenWithoutWaiting(path, O_RDONLY, InsideVolume, &status);
  if (fd < 0) {
    if (status != HYX_BAD_PARAM) fprintf(stderr, "Could not open %s\n", path);
    return status;
  }
  guard::ScopeExit closeVolume([fd] { CloseVolume(fd); });
  guard::Malloced<uint8_t> reply(static_cast<uint8_t *>(malloc(HXFS_ATTR_REPLY_SIZE)));
  if (!reply) return HYX_NO_MEMORY;
  // A reply the file system leaves without a name reads as no name.
  memset(reply.get() + HXFS_ATTR_DEVICE_NAME, 0, kDeviceNameRoom);

  uint64_t request = HXFS_ATTR_REQUEST_VALUE;
  memcpy(reply.get() + HXFS_ATTR_REQUEST, &request, sizeof request);
  errno = 0;
  int result = ioctl(fd, IOCTLCMD_HXFS_FS_GET_ATTR, reply.get());
  if (result != 0) {
    // Only -1 comes with an errno; any other answer but 0 carries none, and
    // whatever errno held before is not its reason.
    int err = result == -1 ? errno : 0;
    fprintf(stderr, "IOCTLCMD_HXFS_FS_GET_ATTR failed on %s\n", path);
    return err != 0 ? StatusFromErrno(err) : static_cast<HYX_ReturnStatus>(HYX_FAILURE);
  }
  uint64_t start;
  memcpy(&start, reply.get() + HXFS_ATTR_VOLUME_START, sizeof start);
  const char *name = reinterpret_cast<const char *>(reply.get() + HXFS_ATTR_DEVICE_NAME);
  if (!UsableDeviceName(name)) return HYX_BAD_PARAM;

  size_t size = strlen(name) + kDeviceDirRoom;
  guard::Malloced<char> candidate(static_cast<char *>(malloc(size)));
  if (!candidate) return HYX_NO_MEMORY;
  for (const char *dir : hostPaths::kHxfsDeviceDirs) {
    int n = snprintf(candidate.get(), size, "%s%s%s", dir, "/", name);
    if (n < 0 || static_cast<size_t>(n) >= size) {
      fprintf(stderr, "sprintf failed with %d buffsize %zd\n", n, size);
      fprintf(stderr, "%s%s%s\n", dir, "/", name);
      return HYX_NO_MEMORY;
    }
    if (access(candidate.get(), F_OK) == 0) {
      *devicePath = candidate.release();
      *volumeStart = start;
      return HYX_OK;
    }
  }
  return HYX_BAD_PARAM;
}

// The descriptor block read at the volume's start: HXFS or not and, when
// asked, the heartbeat geometry.
HYX_ReturnStatus ReadDescriptor(int device, uint64_t volumeStart, uint32_t *isHxfs, HxfsGeometry *geometry) {
  uint8_t *block = static_cast<uint8_t *>(Hxfs_AlignedAlloc(kHxfsDescriptorSize));
  if (block == nullptr) return HYX_NO_MEMORY;
  guard::ScopeExit freeBlock([block] { Hxfs_AlignedFree(block); });
  ssize_t n =
      pread(device, block, kHxfsDescriptorSize, static_cast<off_t>(volumeStart + kHxfsDescriptorOffset));
  if (n != static_cast<ssize_t>(kHxfsDescriptorSize)) {
    int err = n < 0 ? errno : 0;
    fprintf(stderr, "pread failed for volume descriptor %d\n", err);
    // A device that ends before the descriptor is no volume, not success.
    return n < 0 ? StatusFromErrno(err) : static_cast<HYX_ReturnStatus>(HYX_READ_ERROR);
  }
  HxfsVolume_ParseDescriptor(block, isHxfs, geometry);
  return HYX_OK;
}

// The volume's device, opened for direct reads.
struct OpenedVolume {
  guard::Malloced<char> devicePath;
  uint64_t start = 0;
  int device = -1;
  ~OpenedVolume() {
    if (device >= 0) CloseVolume(device);
  }
};

HYX_ReturnStatus OpenVolume(const char *path, OpenedVolume &volume) {
  char *devicePath = nullptr;
  HYX_ReturnStatus status = ResolveVolume(path, &devicePath, &volume.start);
  if (status != HYX_OK) return status;
  volume.devicePath.reset(devicePath);
  // The start is where the volume's records are found: an offset the
  // device cannot have, or one that wraps, is no volume.
  if (volume.start == 0 || volume.start > static_cast<uint64_t>(INT64_MAX) / 2) return HYX_BAD_PARAM;
  volume.device = OpenWithoutWaiting(devicePath, O_RDONLY | O_DIRECT, DeviceOrImage, &status);
  if (volume.device < 0) return status;
  // Reads of the device itself may wait for it.
  int flags = fcntl(volume.device, F_GETFL);
  if (flags == -1 || fcntl(volume.device, F_SETFL, flags & ~O_NONBLOCK) != 0) return StatusFromErrno(errno);
  return HYX_OK;
}

ssize_t ReadDevice(void *context, void *buffer, size_t length, uint64_t offset) {
  return pread(*static_cast<int *>(context), buffer, length, static_cast<off_t>(offset));
}

const uint8_t *Field(const HxfsHostInfo *info, size_t offset) { return info->bytes + offset; }

}  // namespace

HYX_EXPORT HYX_ReturnStatus HyxuserHXFS_IsHXFSVolume(const char *path, uint32_t *isHxfs) {
  if (path == nullptr || isHxfs == nullptr) return HYX_BAD_PARAM;
  OpenedVolume volume;
  HYX_ReturnStatus status = OpenVolume(path, volume);
  if (status != HYX_OK) return status;
  uint32_t found = 0;
  status = ReadDescriptor(volume.device, volume.start, &found, nullptr);
  if (status == HYX_OK) *isHxfs = found;
  return status;
}

HYX_EXPORT HYX_ReturnStatus HyxuserHXFS_ActiveHostIterBegin(const char *path, HxfsHostIter **iterOut) {
  if (path == nullptr || iterOut == nullptr) return HYX_BAD_PARAM;
  OpenedVolume volume;
  HYX_ReturnStatus status = OpenVolume(path, volume);
  if (status != HYX_OK) return status;
  uint32_t isHxfs = 0;
  HxfsGeometry geometry{};
  status = ReadDescriptor(volume.device, volume.start, &isHxfs, &geometry);
  if (status != HYX_OK) return status;
  if (!isHxfs) {
    fprintf(stderr, "Volume %s is not a HXFS volume\n", path);
    return HYX_BAD_PARAM;
  }
  return HxfsVolume_ReadHeartbeats(ReadDevice, &volume.device, volume.start + kHxfsHeartbeatOffset, geometry,
                                   iterOut);
}

HYX_EXPORT HYX_ReturnStatus HyxuserHXFS_ActiveHostIterNext(HxfsHostIter *iter, HxfsHostInfo **infoOut) {
  return HxfsHostIter_Next(iter, infoOut);
}

HYX_EXPORT HYX_ReturnStatus HyxuserHXFS_GetHostInfo(HxfsHostIter *iter, const uint8_t *uuid,
                                                    HxfsHostInfo **infoOut) {
  return HxfsHostIter_Find(iter, uuid, infoOut);
}

HYX_EXPORT HYX_ReturnStatus HyxuserHXFS_ActiveHostIterEnd(HxfsHostIter **iterPtr) {
  if (iterPtr == nullptr || *iterPtr == nullptr || (*iterPtr)->valid != kHxfsIterLive) return HYX_BAD_PARAM;
  HxfsHostIter *iter = *iterPtr;
  *iterPtr = nullptr;
  iter->valid = 0;
  Hxfs_AlignedFree(iter);
  return HYX_OK;
}

HYX_EXPORT HYX_ReturnStatus HyxuserHXFS_GetMacAddr(const HxfsHostInfo *info, uint8_t *mac) {
  if (info == nullptr || mac == nullptr) return HYX_BAD_PARAM;
  memcpy(mac, Field(info, kHxfsSlotMac), kHxfsMacSize);
  return HYX_OK;
}

HYX_EXPORT HYX_ReturnStatus HyxuserHXFS_GetHostInfoTimeStamp(const HxfsHostInfo *info, uint64_t *stamp) {
  if (info == nullptr || stamp == nullptr) return HYX_BAD_PARAM;
  memcpy(stamp, Field(info, kHxfsSlotStamp), sizeof *stamp);
  return HYX_OK;
}

HYX_EXPORT HYX_ReturnStatus HyxuserHXFS_GetHostInfoState(const HxfsHostInfo *info, uint32_t *state) {
  if (info == nullptr || state == nullptr) return HYX_BAD_PARAM;
  memcpy(state, Field(info, kHxfsSlotState), sizeof *state);
  return HYX_OK;
}

HYX_EXPORT HYX_ReturnStatus HyxuserHXFS_GetHostInfoUUID(const HxfsHostInfo *info, uint8_t *uuid) {
  if (info == nullptr || uuid == nullptr) return HYX_BAD_PARAM;
  memcpy(uuid, Field(info, kHxfsSlotUuid), kHxfsUuidSize);
  return HYX_OK;
}

HYX_EXPORT HYX_ReturnStatus HyxuserHXFS_VerifyLock(int fd, uint8_t flag, int64_t *remainingMs) {
  if (remainingMs == nullptr) return HYX_BAD_PARAM;
  HxfsLockQuery query{flag, flag, 0, HYX_FAILURE};
  if (ioctl(fd, DEVICE_REQUEST_HXFS_LOCK_QUERY, &query) != 0) return HYX_FAILURE;
  if (query.status != HYX_OK) return query.status;
  uint64_t uptime = 0;
  HYX_ReturnStatus status = HyxuserUptime_GetUptime(&uptime);
  if (status != HYX_OK) return status;
  int64_t difference = static_cast<int64_t>(query.lockTime - uptime);
  if (difference < 0) return HYX_TIMEOUT;
  *remainingMs = difference / 1000;
  return HYX_OK;
}

HYX_EXPORT HYX_ReturnStatus HyxuserHXFS_GetHostUUID(uint8_t *uuid) {
  if (hsiLoadStatus != HYX_OK) return HYX_CHECKSUM_MISMATCH;
  if (uuid == nullptr) return HYX_BAD_PARAM;
  uint8_t value[HSI_VALUE_SIZE_system_fsSwitch_uuid];
  static_assert(sizeof value == kHxfsUuidSize);
  HYX_ReturnStatus status = Hsi_Get(HSI_NODE_system_fsSwitch_uuid, nullptr, value, sizeof value);
  if (status == HYX_OK) memcpy(uuid, value, sizeof value);
  return status;
}
