#include "hyxsysinfo/hsiLoad.h"

#include <cstdlib>
#include <cstring>

#include "common/export.h"
#include "hyxsysinfo/hostType.h"
#include "hyxsysinfo/hsiCacheUser.h"
#include "hyxsysinfo/hsiCallsUser.h"
#include "hyxsysinfo/hsiTables.h"
#include "hyxsysinfo/kernelCall.h"

HYX_ReturnStatus hsiLoadStatus = HYX_OK;

namespace {

constexpr char kUnknownBuild[] = "_Unknown_";
constexpr uint32_t kLoadBuildInfoSize = 21;

}  // namespace

HYX_ReturnStatus Hsi_GetBuildInfo(char *kernelBuild, uint32_t size, const char **libraryBuild,
                                  bool *translated) {
  if (kernelBuild == nullptr || libraryBuild == nullptr || translated == nullptr || size == 0)
    return HYX_BAD_PARAM;
  *libraryBuild = HSI_BUILD_DATE;
  *translated = false;
  strncpy(kernelBuild, kUnknownBuild, size);
  kernelBuild[size - 1] = '\0';
  if (Hsi_CacheEnabled()) return HsiCache_GetBuildInfo(kernelBuild, size);
  if (!IsHyxkernelHost() && !IsMockupHost()) return HYX_FAILURE;
  SyscallApi_Check(true, nullptr, 0);  // ends the process on a mismatch
  HYX_ReturnStatus status = Kernel_Call(KERNEL_CALL_HSI_SIGNATURE, static_cast<const void *>(HSI_SIGNATURE),
                                        static_cast<void *>(kernelBuild), size);
  if (status == HYX_OK) return HYX_OK;
  if (!HsiNodeTranslation_Build()) return status;
  *translated = true;
  return HYX_OK;
}

HYX_ReturnStatus Hsi_CheckSignature(char *kernelBuild, uint32_t size, const char **libraryBuild) {
  bool translated = false;
  HYX_ReturnStatus status = Hsi_GetBuildInfo(kernelBuild, size, libraryBuild, &translated);
  return translated ? static_cast<HYX_ReturnStatus>(HYX_CHECKSUM_MISMATCH) : status;
}

// Runs when the loader maps the library, after the runtime's own
// initialisers; fixes hsiLoadStatus for the life of the process.
//
// A snapshot named by HSI_SNAPSHOT_VARIABLE (ignored by set-id programs)
// turns the information cache on first, so that the check below answers
// from the snapshot's build information.  One that fails to load is not
// passed over silently: the cache has said why on stderr, and the gated
// exports refuse, while the other calls go to the kernel as usual.  Once
// loaded, the cache keeps quiet: a question the snapshot has no answer for
// (a subtree that was not recorded) is the caller's to report, through the
// status it gets.
__attribute__((constructor)) static void HyxuserLoad_Init() {
  const char *snapshot = secure_getenv(HSI_SNAPSHOT_VARIABLE);
  bool snapshotFailed = snapshot != nullptr && snapshot[0] != '\0' && Hsi_EnableCache(snapshot, -1) != HYX_OK;
  char kernelBuild[kLoadBuildInfoSize];
  const char *libraryBuild = nullptr;
  HYX_ReturnStatus status = Hsi_CheckSignature(kernelBuild, sizeof kernelBuild, &libraryBuild);
  hsiLoadStatus = status == HYX_OK && !snapshotFailed ? HYX_OK : HYX_CHECKSUM_MISMATCH;
}

HYX_EXPORT HYX_ReturnStatus HyxuserCompat_VerifyHSISigniture(void) { return hsiLoadStatus; }
