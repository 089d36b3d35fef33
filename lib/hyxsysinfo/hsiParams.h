// HSI parameter lists: the ordered integers and strings that select node
// instances.  The list record is also the kernel's wire format: the kernel
// reads and writes it in place, so its layout is fixed byte for byte.
#pragma once

#include <cstddef>
#include <cstdint>

#include "hyxsysinfo/kernelWire.h"  // the list record and its slots
#include "hyxuser/hyxuser.h"

// Longest string value, its NUL included.
constexpr uint32_t HSI_PARAM_MAX_STRING = 2048;

// The caller's handle: an 8-byte cell holding the record's address.  The
// record is replaced when the list grows; the cell stays put.
struct HsiParamListCell {
  HsiParamListRecord *record;
};
static_assert(sizeof(HsiParamListCell) == 8);
typedef HsiParamListCell *HsiParamList;

// Creation and release.
HsiParamList HsiParamList_AllocSized(uint32_t listType, uint32_t capacity, uint32_t dataCapacity,
                                     uint8_t flags);
HsiParamList HsiParamList_Alloc(uint32_t listType, uint32_t capacity);
HYX_ReturnStatus HsiParamList_Free(HsiParamList list);
HsiParamList HsiParamList_Copy(HsiParamList list, uint32_t firstIndex);

// Frees the list it holds (if any) when the scope ends.
struct HsiParamListGuard {
  HsiParamList list = nullptr;
  HsiParamListGuard() = default;
  explicit HsiParamListGuard(HsiParamList held) : list(held) {}
  HsiParamListGuard(const HsiParamListGuard &) = delete;
  HsiParamListGuard &operator=(const HsiParamListGuard &) = delete;
  ~HsiParamListGuard() {
    if (list != nullptr) HsiParamList_Free(list);
  }
};

// Adding values.  A failed add leaves the list as it was.
HYX_ReturnStatus HsiParamList_AddInt(HsiParamList list, uint64_t value);
HYX_ReturnStatus HsiParamList_AddIntFront(HsiParamList list, uint64_t value);
HYX_ReturnStatus HsiParamList_AddString(HsiParamList list, const char *text);
HYX_ReturnStatus HsiParamList_AddStringFront(HsiParamList list, const char *text);
// The length (strlen + 1) as an integer, then the text in pieces of at most
// HSI_PARAM_MAX_STRING bytes; only the last piece ends in the NUL.
HYX_ReturnStatus HsiParamList_AddLongString(HsiParamList list, const char *text);

// Removing values; the data area is closed up behind a removed inline string.
HYX_ReturnStatus HsiParamList_Remove(HsiParamList list, uint32_t index);
HYX_ReturnStatus HsiParamList_RemoveLast(HsiParamList list);

// Reading.  None of these allocates.
uint32_t HsiParamList_Count(HsiParamList list);
uint32_t HsiParamList_TotalCount(HsiParamList list);
uint32_t HsiParamList_Capacity(HsiParamList list);
uint32_t HsiParamList_WireSize(HsiParamList list);    // bytes the kernel reads
uint32_t HsiParamList_BufferSize(HsiParamList list);  // bytes the kernel may fill
bool HsiParamList_IsPacked(HsiParamList list);
// No bounds check: callers stay below the count.
HsiParam *HsiParamList_GetParam(HsiParamList list, uint32_t index);
// The record itself, for calls that hand the list to the kernel.
HsiParamListRecord *HsiParamList_Record(HsiParamList list);
// Checks a list the kernel has just filled against the header it was given
// (`sent`): the shape fields unchanged, the count within the slots, every
// string inline and inside the data area.  A list that fails is emptied, so
// that neither a read nor HsiParamList_Free trusts what the kernel wrote.
bool HsiParamList_AcceptFilled(HsiParamList list, const HsiParamListRecord &sent);

uint64_t HsiParam_GetInt(const HsiParam *param);
const char *HsiParam_GetString(const HsiParam *param);
bool HsiParam_Equal(const HsiParam *a, const HsiParam *b);

HYX_ReturnStatus HsiParamList_GetString(HsiParamList list, uint32_t index, const char **text);
HYX_ReturnStatus HsiParamList_GetInt(HsiParamList list, uint32_t index, uint64_t *value);
// Narrowing reads: HYX_BAD_PARAM when the value does not fit.
HYX_ReturnStatus HsiParamList_GetUint32(HsiParamList list, uint32_t index, uint32_t *value);
HYX_ReturnStatus HsiParamList_GetUint16(HsiParamList list, uint32_t index, uint16_t *value);
HYX_ReturnStatus HsiParamList_GetUint8(HsiParamList list, uint32_t index, uint8_t *value);
// Keeps the low 32 bits whatever the value.
HYX_ReturnStatus HsiParamList_GetLow32(HsiParamList list, uint32_t index, uint32_t *value);
HYX_ReturnStatus HsiParamList_SetInt(HsiParamList list, uint32_t index, uint64_t value);

bool HsiParamList_FindInt(HsiParamList list, uint64_t value);
bool HsiParamList_FindString(HsiParamList list, const char *text);
