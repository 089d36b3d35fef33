// HSI parameter lists: the ordered integers and strings that select node
// instances.  The list record is also the kernel's wire format: the kernel
// reads and writes it in place, so its layout is fixed byte for byte.
#pragma once

#include <cstddef>
#include <cstdint>

#include "hyxuser/hyxuser.h"

enum : uint32_t {
  HSI_PARAMLIST_VALUES = 0,    // plain value list
  HSI_PARAMLIST_INSTANCE = 1,  // instance list: keeps a total count
};

enum : uint32_t {
  HSI_PARAMLIST_FIXED = 1u << 0,     // the slot capacity never grows
  HSI_PARAMLIST_NO_SPILL = 1u << 1,  // strings that miss the data area are refused
};

enum : uint32_t {
  HSI_PARAM_EMPTY = 0,
  HSI_PARAM_INT = 1,
  HSI_PARAM_STRING = 2,
};

// Longest string value, its NUL included.
constexpr uint32_t HSI_PARAM_MAX_STRING = 2048;

// One 32-byte slot.  For a string, value is the address of the buffer that
// holds it (the record's base for inline strings, a separate allocation for
// spilled ones) and offset locates its first byte in that buffer.
struct HsiParam {
  uint64_t value;
  uint64_t reserved;
  uint64_t offset;
  uint32_t length;  // string bytes with the NUL; 0 for integers
  uint32_t type;
};

// The 64-byte record header; capacity slots follow it, then the data area.
struct HsiParamListRecord {
  uint32_t listType;
  uint32_t flags;
  uint32_t count;
  uint32_t totalCount;
  uint32_t capacity;
  uint32_t headerSize;  // 64 + 32 * capacity: where the data area starts
  uint32_t dataUsed;    // inline and spilled string bytes together
  uint32_t dataCapacity;
  uint64_t nextDataOffset;  // from the record start; 0 without a data area
  uint64_t base;            // the record's own address
  uint8_t reserved[16];
};

static_assert(sizeof(HsiParam) == 32);
static_assert(offsetof(HsiParam, value) == 0 && offsetof(HsiParam, reserved) == 8 &&
              offsetof(HsiParam, offset) == 16 && offsetof(HsiParam, length) == 24 &&
              offsetof(HsiParam, type) == 28);
static_assert(sizeof(HsiParamListRecord) == 64);
static_assert(offsetof(HsiParamListRecord, listType) == 0 && offsetof(HsiParamListRecord, flags) == 4 &&
              offsetof(HsiParamListRecord, count) == 8 && offsetof(HsiParamListRecord, totalCount) == 12 &&
              offsetof(HsiParamListRecord, capacity) == 16 && offsetof(HsiParamListRecord, headerSize) == 20 &&
              offsetof(HsiParamListRecord, dataUsed) == 24 && offsetof(HsiParamListRecord, dataCapacity) == 28 &&
              offsetof(HsiParamListRecord, nextDataOffset) == 32 && offsetof(HsiParamListRecord, base) == 40 &&
              offsetof(HsiParamListRecord, reserved) == 48);

// The caller's handle: an 8-byte cell holding the record's address.  The
// record is replaced when the list grows; the cell stays put.
struct HsiParamListCell {
  HsiParamListRecord *record;
};
static_assert(sizeof(HsiParamListCell) == 8);
typedef HsiParamListCell *HsiParamList;

// Creation and release.
HsiParamList HsiParamList_AllocSized(uint32_t listType, uint32_t capacity, uint32_t dataCapacity, uint8_t flags);
HsiParamList HsiParamList_Alloc(uint32_t listType, uint32_t capacity);
HYX_ReturnStatus HsiParamList_Free(HsiParamList list);
HsiParamList HsiParamList_Copy(HsiParamList list, uint32_t firstIndex);

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
