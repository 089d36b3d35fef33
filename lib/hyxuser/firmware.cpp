// Firmware tables and model-specific registers: ACPI tables by signature,
// the SMBIOS data block, each a direct kernel call, and the MSR read that
// this host never offers (it takes whatever its callers pass and reads
// none of it).
#include "common/export.h"
#include "hyxuser/directCall.h"

HYX_EXPORT HYX_ReturnStatus HyxuserAcpi_GetTableLengthBySignature(const char *signature, uint32_t instance,
                                                                  void *lengthOut) {
  if (signature == nullptr || lengthOut == nullptr) return HYX_BAD_PARAM;
  return Kernel_DirectCall(KERNEL_CALL_ACPI_LENGTH, static_cast<const void *>(signature), instance,
                           static_cast<const void *>(lengthOut));
}

HYX_EXPORT HYX_ReturnStatus HyxuserAcpi_GetTableBySignature(const char *signature, uint32_t instance,
                                                            void *buffer, uintptr_t bufferLength) {
  if (signature == nullptr || buffer == nullptr || bufferLength == 0) return HYX_BAD_PARAM;
  return Kernel_DirectCall(KERNEL_CALL_ACPI_TABLE, static_cast<const void *>(signature), instance,
                           static_cast<const void *>(buffer), uint64_t{bufferLength});
}

HYX_EXPORT HYX_ReturnStatus HyxuserSMBIOS_GetDataLen(void *lengthOut) {
  return Kernel_DirectCall(KERNEL_CALL_SMBIOS_LENGTH, static_cast<const void *>(lengthOut), uint64_t{0});
}

HYX_EXPORT HYX_ReturnStatus HyxuserSMBIOS_GetData(void *buffer, uint32_t length) {
  return Kernel_DirectCall(KERNEL_CALL_SMBIOS_DATA, static_cast<const void *>(buffer), length);
}

HYX_EXPORT HYX_ReturnStatus HyxuserMSR_GetValue(...) { return HYX_UNSUPPORTED_CPU; }
