// The load-time interface check: whether this kernel speaks the system-call
// and system-information interfaces the library was built for.
#pragma once

#include <cstdint>

#include "hyxuser/hyxuser.h"

constexpr char HSI_BUILD_DATE[] = "Dec 19 2024 12:17:48";

// The environment variable that names a snapshot file for the load step to
// answer from instead of the kernel (the information cache, hsiCacheUser.h).
constexpr char HSI_SNAPSHOT_VARIABLE[] = "HYXUSER_HSI_SNAPSHOT";

// Set once while the library loads: HYX_OK or HYX_CHECKSUM_MISMATCH.  The
// exports that depend on the kernel's interface return it when it is not OK.
extern HYX_ReturnStatus hsiLoadStatus;

// Hands the library's interface signature to the kernel (KERNEL_CALL_HSI_SIGNATURE); when the
// kernel refuses it, switches the calls to node translation (*translated).
HYX_ReturnStatus Hsi_GetBuildInfo(char *kernelBuild, uint32_t size, const char **libraryBuild,
                                  bool *translated);

// As Hsi_GetBuildInfo, but HYX_CHECKSUM_MISMATCH once translation is on.
HYX_ReturnStatus Hsi_CheckSignature(char *kernelBuild, uint32_t size, const char **libraryBuild);
