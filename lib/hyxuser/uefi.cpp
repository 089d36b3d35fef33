// UEFI variables: list, read, write and remove the host firmware's variables
// through the kernel's uefi_variable node.  The node's data is the 32-bit
// attributes word followed by the variable's contents.
#include <cstdint>
#include <cstdlib>
#include <cstring>

#include "common/export.h"
#include "common/guard.h"
#include "hyxsysinfo/hsiCallsUser.h"
#include "hyxsysinfo/hsiLoad.h"
#include "hyxsysinfo/hsiTables.h"

namespace {

constexpr uint32_t kAttributesSize = sizeof(uint32_t);
// Attributes of a removal: non-volatile, boot-service and runtime access.
constexpr uint32_t kRemoveAttributes = 7;
// The largest contents a sized buffer can carry: its capacity (contents and
// attributes) plus its 8-byte header must fit the kernel's 32-bit length.
constexpr uint64_t kMaxDataLength = UINT32_MAX - kAttributesSize - sizeof(HsiSizedBuffer);

struct SizedGuard {
  HsiSizedBuffer *buffer = nullptr;
  ~SizedGuard() {
    if (buffer != nullptr) HsiSizedBuffer_Free(buffer);
  }
};

// The one-name instance list of a variable.
HYX_ReturnStatus NameList(const char *name, HsiParamListGuard &params) {
  params.list = HsiParamList_Alloc(HSI_PARAMLIST_INSTANCE, 1);
  if (params.list == nullptr) return HYX_NO_MEMORY;
  return HsiParamList_AddString(params.list, name);
}

void FreeNames(char **names, uint32_t count) {
  while (count > 0) free(names[--count]);
  free(names);
}

}  // namespace

HYX_EXPORT HYX_ReturnStatus HyxuserUefi_GetVariableList(char ***namesOut, uint32_t *countOut) {
  if (namesOut == nullptr || countOut == nullptr) return HYX_BAD_PARAM;
  if (hsiLoadStatus != HYX_OK) return hsiLoadStatus;
  HsiParamListGuard found;
  bool answered = false;
  HYX_ReturnStatus status = Hsi_GetListAnswered(HSI_NODE_uefi_variable, nullptr, 0, &found.list, &answered);
  if (status != HYX_OK) {
    // What the kernel answers (HYX_NO_MEMORY included) leaves the outputs
    // alone; the library's own memory running out empties them.
    if (status == HYX_NO_MEMORY && !answered) {
      *countOut = 0;
      *namesOut = nullptr;
    }
    return status;
  }
  uint32_t count = HsiParamList_Count(found.list);
  // One slot more than needed, so that an empty list is still an array the
  // caller frees.
  auto *names = static_cast<char **>(malloc((size_t{count} + 1) * sizeof(char *)));
  if (names == nullptr) {
    *countOut = 0;
    *namesOut = nullptr;
    return HYX_NO_MEMORY;
  }
  for (uint32_t i = 0; i < count; i++) {
    const char *name = nullptr;
    status = HsiParamList_GetString(found.list, i, &name);
    if (status == HYX_OK && (names[i] = strdup(name)) == nullptr) status = HYX_NO_MEMORY;
    if (status != HYX_OK) {
      FreeNames(names, i);
      *countOut = 0;
      *namesOut = nullptr;
      return status;
    }
  }
  names[count] = nullptr;
  *countOut = count;
  *namesOut = names;
  return HYX_OK;
}

HYX_EXPORT HYX_ReturnStatus HyxuserUefi_GetVariable(const char *name, uint32_t *attributesOut,
                                                    uint64_t *dataLengthOut, void **dataOut) {
  if (name == nullptr || attributesOut == nullptr || dataLengthOut == nullptr || dataOut == nullptr)
    return HYX_BAD_PARAM;
  HsiParamListGuard params;
  HYX_ReturnStatus status = NameList(name, params);
  if (status != HYX_OK) return status;
  uint32_t size = 0;
  status = Hsi_GetSize(HSI_NODE_uefi_variable, params.list, &size);
  if (status != HYX_OK) return status;
  // Room for the attributes word even when the kernel reports less, so that
  // reading it never leaves the buffer.
  SizedGuard buffer;
  buffer.buffer = HsiSizedBuffer_Alloc(size < kAttributesSize ? kAttributesSize : size, nullptr, 0);
  if (buffer.buffer == nullptr) return HYX_NO_MEMORY;
  status = Hsi_GetSized(HSI_NODE_uefi_variable, params.list, buffer.buffer);
  *dataLengthOut = 0;
  *dataOut = nullptr;
  if (status != HYX_OK) return status;
  memcpy(attributesOut, buffer.buffer->data, kAttributesSize);
  // The kernel's length is trusted only as far as the buffer goes.
  uint32_t length = buffer.buffer->length;
  if (length > buffer.buffer->capacity) length = buffer.buffer->capacity;
  if (length <= kAttributesSize) return HYX_OK;
  void *data = malloc(length - kAttributesSize);
  if (data == nullptr) return HYX_NO_MEMORY;
  memcpy(data, buffer.buffer->data + kAttributesSize, length - kAttributesSize);
  *dataOut = data;
  *dataLengthOut = length - kAttributesSize;
  return HYX_OK;
}

HYX_EXPORT HYX_ReturnStatus HyxuserUefi_SetVariable(const char *name, uint32_t attributes,
                                                    uint64_t dataLength, const void *data) {
  if (attributes == 0 || name == nullptr || (dataLength != 0 && data == nullptr)) return HYX_BAD_PARAM;
  // The buffer's capacity and total size are 32-bit: a length they cannot
  // hold is refused before anything is allocated or copied.
  if (dataLength > kMaxDataLength) return HYX_BAD_PARAM;
  HsiParamListGuard params;
  HYX_ReturnStatus status = NameList(name, params);
  if (status != HYX_OK) return status;
  SizedGuard buffer;
  buffer.buffer =
      HsiSizedBuffer_Alloc(static_cast<uint32_t>(dataLength) + kAttributesSize, &attributes, kAttributesSize);
  if (buffer.buffer == nullptr) return HYX_NO_MEMORY;
  if (dataLength != 0) {
    memcpy(buffer.buffer->data + kAttributesSize, data, dataLength);
    buffer.buffer->length += static_cast<uint32_t>(dataLength);
  }
  return Hsi_SetSized(HSI_NODE_uefi_variable, params.list, buffer.buffer, nullptr);
}

HYX_EXPORT HYX_ReturnStatus HyxuserUefi_RemoveVariable(const char *name) {
  if (name == nullptr) return HYX_BAD_PARAM;
  // A variable written with no contents is deleted.
  return HyxuserUefi_SetVariable(name, kRemoveAttributes, 0, nullptr);
}
