// NVDIMM management: commands passed through to the NVDIMM driver's
// management device, and the driver's capabilities.  The device is opened on
// first use and kept for the life of the library; the finaliser below closes
// it at unload.
#include <fcntl.h>
#include <sys/ioctl.h>
#include <syslog.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstddef>
#include <cstring>

#include "common/export.h"
#include "common/hostPaths.h"
#include "hyxsysinfo/hsiCallsUser.h"
#include "hyxsysinfo/hsiTables.h"
#include "hyxsysinfo/hsiTablesRecords.h"
#include "hyxsysinfo/kernelCall.h"
#include "hyxsysinfo/kernelWire.h"

static_assert(sizeof(HyxuserNvdPassthroughCommand) == 36 &&
              offsetof(HyxuserNvdPassthroughCommand, word1) == 4 &&
              offsetof(HyxuserNvdPassthroughCommand, word2) == 8 &&
              offsetof(HyxuserNvdPassthroughCommand, pointer1) == 12 &&
              offsetof(HyxuserNvdPassthroughCommand, resultHalf) == 20 &&
              offsetof(HyxuserNvdPassthroughCommand, sentHalf) == 22 &&
              offsetof(HyxuserNvdPassthroughCommand, word3) == 24 &&
              offsetof(HyxuserNvdPassthroughCommand, pointer2) == 28);
static_assert(sizeof(HyxuserNvdDriverCapabilities) == 16 &&
              offsetof(HyxuserNvdDriverCapabilities, minNamespaceSize) == 4 &&
              offsetof(HyxuserNvdDriverCapabilities, supportedFeatures) == 12);

namespace {

// The driver's capability node, by its fixed id.
constexpr HsiNodeID kNvdCapabilitiesNode = 2741;
static_assert(kNvdCapabilitiesNode == HSI_NODE_hardware_nvd_system_capabilities);

// The driver's capability record is packed; its fields are read in place.
static_assert(HSI_SIZEOF_NVDHsiDriverCap_maxNamespaces == sizeof(uint32_t) &&
              HSI_SIZEOF_NVDHsiDriverCap_minNamespaceSize == sizeof(uint64_t) &&
              HSI_SIZEOF_NVDHsiDriverCap_supportedFeatures == sizeof(uint32_t));

// The feature bits handed on: 0 to 17, 19 and 20.  Block namespaces (bit
// 18) are never offered to callers.
constexpr uint32_t kFeaturesHandedOn = 0x1bffff;

// The management device's descriptor: -1 until opened.  Several threads may
// race to open it; one descriptor wins and the others are closed again.
std::atomic<int> nvdManagementFd{-1};

int ManagementDevice() {
  int fd = nvdManagementFd.load(std::memory_order_acquire);
  if (fd >= 0) return fd;
  int opened = open(hostPaths::kNvdManagementDevice, O_RDWR | O_CLOEXEC);
  if (opened < 0) {
    syslog(LOG_CRIT, "%s", "Unable to open nvdimm device");
    return -1;
  }
  int expected = -1;
  if (nvdManagementFd.compare_exchange_strong(expected, opened, std::memory_order_acq_rel)) return opened;
  close(opened);
  return expected;
}

// The driver's errno as a status.
HYX_ReturnStatus StatusOfDriverErrno(int err) {
  switch (err) {
    case EPERM:
      return HYX_NO_PERMISSION;
    case ENOENT:
      return HYX_NOT_FOUND;
    case EIO:
      return HYX_IO_ERROR;
    case ENOMEM:
      return HYX_NO_MEMORY;
    case EFAULT:
      return HYX_INVALID_ADDRESS;
    case EBUSY:
      return HYX_BUSY;
    case EEXIST:
      return HYX_EXISTS;
    case EINVAL:
      return HYX_BAD_PARAM;
    case EFBIG:
      return HYX_LIMIT_EXCEEDED;
    case EROFS:
      return HYX_READ_ONLY;
    case ENOSYS:
      return HYX_NOT_SUPPORTED;
    default:
      return HYX_FAILURE;
  }
}

// Closes the management device when the library is unloaded.
__attribute__((destructor)) void CloseNvdManagement() {
  int fd = nvdManagementFd.exchange(-1);
  if (fd >= 0) close(fd);
}

}  // namespace

HYX_EXPORT HYX_ReturnStatus HyxuserNVD_PassthroughCommand(HyxuserNvdPassthroughCommand *command) {
  if (command == nullptr || command->pointer1 == nullptr || command->word3 == 0 ||
      command->pointer2 == nullptr)
    return HYX_BAD_PARAM;
  NvdPassthroughBlock block;
  memset(&block, 0, sizeof block);
  block.pointer1 = reinterpret_cast<uintptr_t>(command->pointer1);
  block.pointer2 = reinterpret_cast<uintptr_t>(command->pointer2);
  block.word2 = command->word2;
  block.word3 = command->word3;
  block.word1 = command->word1;
  block.word0 = command->word0;
  block.resultHalf = command->resultHalf;
  block.sentHalf = command->sentHalf;
  int fd = ManagementDevice();
  if (fd < 0) return HYX_FAILURE;
  if (ioctl(fd, DEVICE_REQUEST_NVD_PASSTHROUGH, &block) != 0) return StatusOfDriverErrno(errno);
  command->resultHalf = block.resultHalf;
  command->sentHalf = block.sentHalf;
  return HYX_OK;
}

HYX_EXPORT HYX_ReturnStatus HyxuserNVD_GetDriverCapabilities(HyxuserNvdDriverCapabilities *capabilities) {
  if (capabilities == nullptr) return HYX_BAD_PARAM;
  unsigned char record[HSI_VALUE_SIZE_hardware_nvd_system_capabilities] = {};
  HYX_ReturnStatus status = Hsi_Get(kNvdCapabilitiesNode, nullptr, record, sizeof record);
  if (status != HYX_OK) return status;
  uint32_t maxNamespaces, features;
  uint64_t minNamespaceSize;
  memcpy(&maxNamespaces, record + HSI_OFFSETOF_NVDHsiDriverCap_maxNamespaces, sizeof maxNamespaces);
  memcpy(&minNamespaceSize, record + HSI_OFFSETOF_NVDHsiDriverCap_minNamespaceSize, sizeof minNamespaceSize);
  memcpy(&features, record + HSI_OFFSETOF_NVDHsiDriverCap_supportedFeatures, sizeof features);
  capabilities->maxNamespaces = maxNamespaces;
  capabilities->minNamespaceSize = minNamespaceSize;
  capabilities->supportedFeatures = features & kFeaturesHandedOn;
  return HYX_OK;
}
