// Version and uptime: the host kernel's product and build, and the time
// since it started, each read from one system-information node.
#include <cstddef>
#include <cstring>

#include "common/export.h"
#include "hyxsysinfo/hsiCallsUser.h"
#include "hyxsysinfo/hsiLoad.h"
#include "hyxsysinfo/hsiTables.h"
#include "hyxsysinfo/hsiTablesRecords.h"

static_assert(sizeof(HyxuserSystemVersion) == 164 && offsetof(HyxuserSystemVersion, buildDate) == 96 &&
              offsetof(HyxuserSystemVersion, build) == 160);
static_assert(sizeof(HyxuserUniqueSystemVersion) == 228 &&
              offsetof(HyxuserUniqueSystemVersion, buildType) == 64 &&
              offsetof(HyxuserUniqueSystemVersion, releasePatch) == 192 &&
              offsetof(HyxuserUniqueSystemVersion, build) == 224);

namespace {

// The kernel's system_version record.
struct SystemVersion {
  char product[32];
  char productVersion[32];
  char buildVersion[32];
  char buildType[32];
  char buildVersionNumeric[32];
  char releaseUpdate[32];
  char releasePatch[32];
  char buildDate[32];
  char buildTime[32];
  uint32_t cpuArch;
  uint32_t hyxkernelBuild;
  uint32_t hyxcall[2];
  char releaseVersionStr[32];
  char kernelReleaseVersionStr[32];
};
static_assert(
    sizeof(SystemVersion) == HSI_VALUE_SIZE_system_version &&
    offsetof(SystemVersion, productVersion) == HSI_OFFSETOF_SystemHsi_VersionStruct_productVersion &&
    offsetof(SystemVersion, buildVersion) == HSI_OFFSETOF_SystemHsi_VersionStruct_buildVersion &&
    offsetof(SystemVersion, buildType) == HSI_OFFSETOF_SystemHsi_VersionStruct_buildType &&
    offsetof(SystemVersion, releasePatch) == HSI_OFFSETOF_SystemHsi_VersionStruct_releasePatch &&
    offsetof(SystemVersion, buildDate) == HSI_OFFSETOF_SystemHsi_VersionStruct_buildDate &&
    offsetof(SystemVersion, buildTime) == HSI_OFFSETOF_SystemHsi_VersionStruct_buildTime &&
    offsetof(SystemVersion, cpuArch) == HSI_OFFSETOF_SystemHsi_VersionStruct_cpuArch &&
    offsetof(SystemVersion, hyxkernelBuild) == HSI_OFFSETOF_SystemHsi_VersionStruct_hyxkernelBuild &&
    offsetof(SystemVersion, releaseVersionStr) == HSI_OFFSETOF_SystemHsi_VersionStruct_releaseVersionStr);
static_assert(HSI_SIZEOF_Timer_HSIInfo_sysUptime == sizeof(uint64_t));

HYX_ReturnStatus ReadSystemVersion(SystemVersion *version) {
  if (hsiLoadStatus != HYX_OK) return HYX_CHECKSUM_MISMATCH;
  return Hsi_Get(HSI_NODE_system_version, nullptr, version, sizeof *version);
}

// As snprintf "%s" into 32 bytes: at most 31 characters and a NUL, even when
// the kernel's text fills its whole field.
void CopyText(char (&to)[32], const char (&from)[32]) {
  size_t length = strnlen(from, sizeof from);
  if (length > sizeof to - 1) length = sizeof to - 1;
  memcpy(to, from, length);
  to[length] = '\0';
}

// Zeroes the caller's record, reads the kernel's version and fills the fields
// both version records have; the caller adds the rest.
template <typename Record>
HYX_ReturnStatus FillVersion(Record *out, SystemVersion &version) {
  memset(out, 0, sizeof *out);
  HYX_ReturnStatus status = ReadSystemVersion(&version);
  if (status != HYX_OK) return status;
  CopyText(out->product, version.product);
  CopyText(out->productVersion, version.productVersion);
  CopyText(out->buildDate, version.buildDate);
  CopyText(out->buildTime, version.buildTime);
  out->build = version.hyxkernelBuild;
  return HYX_OK;
}

}  // namespace

HYX_EXPORT HYX_ReturnStatus HyxuserVersion_GetSystemVersion(HyxuserSystemVersion *out) {
  if (out == nullptr) return HYX_BAD_PARAM;
  SystemVersion version;
  HYX_ReturnStatus status = FillVersion(out, version);
  if (status == HYX_OK) CopyText(out->buildVersion, version.buildVersion);
  return status;
}

HYX_EXPORT HYX_ReturnStatus HyxuserVersion_GetUniqueSystemVersion(HyxuserUniqueSystemVersion *out) {
  if (out == nullptr) return HYX_BAD_PARAM;
  SystemVersion version;
  HYX_ReturnStatus status = FillVersion(out, version);
  if (status == HYX_OK) {
    CopyText(out->buildType, version.buildType);
    CopyText(out->releaseUpdate, version.releaseUpdate);
    CopyText(out->releasePatch, version.releasePatch);
  }
  return status;
}

HYX_EXPORT HYX_ReturnStatus HyxuserUptime_GetUptime(uint64_t *uptime) {
  if (uptime == nullptr) return HYX_BAD_PARAM;
  if (hsiLoadStatus != HYX_OK) return hsiLoadStatus;
  unsigned char info[HSI_VALUE_SIZE_timer_info];
  HYX_ReturnStatus status = Hsi_Get(HSI_NODE_timer_info, nullptr, info, sizeof info);
  if (status == HYX_OK) memcpy(uptime, info + HSI_OFFSETOF_Timer_HSIInfo_sysUptime, sizeof *uptime);
  return status;
}
