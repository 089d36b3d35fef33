// HSI parameter lists.  Strings live in the record's own data area when they
// fit, so a list usually goes to the kernel as one contiguous block; strings
// that do not fit are "spilled" into separate allocations, and such a list is
// copied into a packed one before it reaches the kernel.
#include "hyxsysinfo/hsiParams.h"

#include <cstdlib>
#include <cstring>

namespace {

constexpr uint32_t kHeaderBytes = sizeof(HsiParamListRecord);
constexpr uint32_t kSlotBytes = sizeof(HsiParam);
constexpr uint32_t kMinGrowableCapacity = 16;
constexpr uint64_t kMaxRecordBytes = 0xFFFFFFFFull;
constexpr uint32_t kKnownFlags = HSI_PARAMLIST_FIXED | HSI_PARAMLIST_NO_SPILL;

uint64_t HeaderSize(uint64_t capacity) { return kHeaderBytes + kSlotBytes * capacity; }

char *Bytes(HsiParamListRecord *rec) { return reinterpret_cast<char *>(rec); }

HsiParam *Slots(HsiParamListRecord *rec) { return reinterpret_cast<HsiParam *>(Bytes(rec) + kHeaderBytes); }

HsiParamListRecord *RecordOf(HsiParamList list) { return list ? list->record : nullptr; }

// Spilled strings have offset 0; inline ones start at or after the header.
bool IsSpilled(const HsiParam &p) { return p.type == HSI_PARAM_STRING && p.offset == 0; }
bool IsInline(const HsiParam &p) { return p.type == HSI_PARAM_STRING && p.offset != 0; }

HsiParamListRecord *NewRecord(uint32_t listType, uint32_t capacity, uint32_t dataCapacity, uint32_t flags) {
  uint64_t header = HeaderSize(capacity);
  if (header + dataCapacity > kMaxRecordBytes) return nullptr;
  auto *rec = static_cast<HsiParamListRecord *>(malloc(header + dataCapacity));
  if (!rec) return nullptr;
  rec->listType = listType;
  rec->flags = flags;
  rec->count = 0;
  rec->totalCount = 0;
  rec->capacity = capacity;
  rec->headerSize = static_cast<uint32_t>(header);
  rec->dataUsed = 0;
  rec->dataCapacity = dataCapacity;
  rec->nextDataOffset = dataCapacity ? header : 0;
  rec->base = reinterpret_cast<uintptr_t>(rec);
  memset(rec->reserved, 0, sizeof rec->reserved);
  memset(Slots(rec), 0, static_cast<size_t>(kSlotBytes) * capacity);
  return rec;
}

// Replaces a full record by one with twice the slots, moving the inline
// strings along with the data area.  The grown record has flags 0, as the
// kernel expects of a record the list made for itself: only a list that
// was never fixed grows, and from then on it may spill.
HYX_ReturnStatus Grow(HsiParamList list) {
  HsiParamListRecord *old = list->record;
  uint64_t capacity = old->capacity ? 2ull * old->capacity : kMinGrowableCapacity;
  if (capacity > UINT32_MAX) return HYX_NO_MEMORY;
  HsiParamListRecord *rec = NewRecord(old->listType, static_cast<uint32_t>(capacity), old->dataCapacity, 0);
  if (!rec) return HYX_NO_MEMORY;
  memcpy(Slots(rec), Slots(old), static_cast<size_t>(kSlotBytes) * old->capacity);
  uint64_t shift = rec->headerSize - old->headerSize;
  if (old->nextDataOffset > old->headerSize)
    memcpy(Bytes(rec) + rec->headerSize, Bytes(old) + old->headerSize, old->nextDataOffset - old->headerSize);
  for (uint32_t i = 0; i < old->capacity; i++) {
    HsiParam &p = Slots(rec)[i];
    if (IsInline(p)) {
      p.value = rec->base;
      p.offset += shift;
    }
  }
  rec->count = old->count;
  rec->totalCount = old->totalCount;
  rec->dataUsed = old->dataUsed;
  rec->nextDataOffset = old->nextDataOffset ? old->nextDataOffset + shift : 0;
  free(old);
  list->record = rec;
  return HYX_OK;
}

// Checks that one more slot can be had, before anything is changed.
HYX_ReturnStatus CheckRoom(const HsiParamListRecord *rec) {
  if (rec->count == rec->capacity && (rec->flags & HSI_PARAMLIST_FIXED)) return HYX_LIMIT_EXCEEDED;
  return HYX_OK;
}

// Opens a zeroed slot at the front or the end; the room is already there.
HsiParam *OpenSlot(HsiParamListRecord *rec, bool front) {
  HsiParam *slots = Slots(rec);
  uint32_t at = rec->count;
  if (front) {
    memmove(slots + 1, slots, static_cast<size_t>(kSlotBytes) * rec->count);
    at = 0;
  }
  memset(&slots[at], 0, sizeof slots[at]);
  rec->count++;
  if (rec->listType == HSI_PARAMLIST_INSTANCE) rec->totalCount++;
  return &slots[at];
}

HYX_ReturnStatus InsertInt(HsiParamList list, uint64_t value, bool front) {
  HsiParamListRecord *rec = RecordOf(list);
  if (!rec) return HYX_BAD_PARAM;
  HYX_ReturnStatus status = CheckRoom(rec);
  if (status != HYX_OK) return status;
  if (rec->count == rec->capacity && (status = Grow(list)) != HYX_OK) return status;
  HsiParam *slot = OpenSlot(list->record, front);
  slot->value = value;
  slot->type = HSI_PARAM_INT;
  return HYX_OK;
}

// Adds length bytes as one string value.  Every way to fail is found before
// the list is touched, so a failed add leaves it exactly as it was.
HYX_ReturnStatus InsertBytes(HsiParamList list, const char *bytes, uint32_t length, bool front) {
  HsiParamListRecord *rec = list->record;
  HYX_ReturnStatus status = CheckRoom(rec);
  if (status != HYX_OK) return status;
  if (static_cast<uint64_t>(rec->dataUsed) + length > UINT32_MAX) return HYX_LIMIT_EXCEEDED;
  bool fits = static_cast<uint64_t>(rec->dataUsed) + length <= rec->dataCapacity &&
              rec->nextDataOffset != 0 &&
              rec->nextDataOffset + length <= static_cast<uint64_t>(rec->headerSize) + rec->dataCapacity;
  char *spill = nullptr;
  if (!fits) {
    if (rec->flags & HSI_PARAMLIST_NO_SPILL) return HYX_NO_MEMORY_RETRY;
    spill = static_cast<char *>(malloc(length));
    if (!spill) return HYX_NO_MEMORY;
    memcpy(spill, bytes, length);
  }
  if (rec->count == rec->capacity && (status = Grow(list)) != HYX_OK) {
    free(spill);
    return status;
  }
  rec = list->record;
  HsiParam *slot = OpenSlot(rec, front);
  slot->length = length;
  slot->type = HSI_PARAM_STRING;
  if (spill) {
    slot->value = reinterpret_cast<uintptr_t>(spill);
  } else {
    slot->value = rec->base;
    slot->offset = rec->nextDataOffset;
    memcpy(Bytes(rec) + rec->nextDataOffset, bytes, length);
    rec->nextDataOffset += length;
  }
  rec->dataUsed += length;
  return HYX_OK;
}

HYX_ReturnStatus InsertString(HsiParamList list, const char *text, bool front) {
  if (!RecordOf(list) || !text) return HYX_BAD_PARAM;
  size_t length = strnlen(text, HSI_PARAM_MAX_STRING) + 1;
  if (length > HSI_PARAM_MAX_STRING) return HYX_LIMIT_EXCEEDED;
  // The common case, appending to a record with a free slot and room in its
  // data area, fills the slot in place; everything else goes the long way.
  HsiParamListRecord *rec = list->record;
  uint64_t at = rec->nextDataOffset;
  if (!front && rec->count < rec->capacity && at != 0 &&
      static_cast<uint64_t>(rec->dataUsed) + length <= rec->dataCapacity &&
      at + length <= static_cast<uint64_t>(rec->headerSize) + rec->dataCapacity) {
    HsiParam *slot = Slots(rec) + rec->count;
    slot->value = rec->base;
    slot->reserved = 0;
    slot->offset = at;
    slot->length = static_cast<uint32_t>(length);
    slot->type = HSI_PARAM_STRING;
    memcpy(Bytes(rec) + at, text, length);
    rec->nextDataOffset = at + length;
    rec->dataUsed += static_cast<uint32_t>(length);
    rec->count++;
    if (rec->listType == HSI_PARAMLIST_INSTANCE) rec->totalCount++;
    return HYX_OK;
  }
  return InsertBytes(list, text, static_cast<uint32_t>(length), front);
}

// The slot at index, or null with the status that a checked read reports.
const HsiParam *CheckedSlot(HsiParamList list, uint32_t index, uint32_t type, HYX_ReturnStatus *status) {
  HsiParamListRecord *rec = RecordOf(list);
  if (!rec) {
    *status = HYX_BAD_PARAM;
    return nullptr;
  }
  if (index >= rec->count) {
    *status = HYX_BAD_PARAM_COUNT;
    return nullptr;
  }
  const HsiParam *p = &Slots(rec)[index];
  *status = p->type == type ? HYX_OK : HYX_BAD_PARAM_TYPE;
  return *status == HYX_OK ? p : nullptr;
}

}  // namespace

HsiParamList HsiParamList_AllocSized(uint32_t listType, uint32_t capacity, uint32_t dataCapacity,
                                     uint8_t flags) {
  if (listType != HSI_PARAMLIST_VALUES && listType != HSI_PARAMLIST_INSTANCE) return nullptr;
  if (capacity == 0 && dataCapacity != 0) return nullptr;
  uint32_t known = flags & kKnownFlags;
  if (dataCapacity == 0 && !(known & HSI_PARAMLIST_FIXED) && capacity < kMinGrowableCapacity)
    capacity = kMinGrowableCapacity;
  if (HeaderSize(capacity) + dataCapacity > kMaxRecordBytes) return nullptr;
  auto *cell = static_cast<HsiParamListCell *>(malloc(sizeof(HsiParamListCell)));
  if (!cell) return nullptr;
  cell->record = NewRecord(listType, capacity, dataCapacity, known);
  if (!cell->record) {
    free(cell);
    return nullptr;
  }
  return cell;
}

HsiParamList HsiParamList_Alloc(uint32_t listType, uint32_t capacity) {
  return HsiParamList_AllocSized(listType, capacity, 0, 0);
}

HYX_ReturnStatus HsiParamList_Free(HsiParamList list) {
  if (!list) return HYX_BAD_PARAM;
  HsiParamListRecord *rec = list->record;
  free(list);
  if (!rec) return HYX_BAD_PARAM;
  const HsiParam *slots = Slots(rec);
  uint32_t n = rec->count < rec->capacity ? rec->count : rec->capacity;
  for (uint32_t i = 0; i < n; i++)
    if (IsSpilled(slots[i])) free(reinterpret_cast<void *>(slots[i].value));
  free(rec);
  return HYX_OK;
}

HsiParamList HsiParamList_Copy(HsiParamList list, uint32_t firstIndex) {
  HsiParamListRecord *src = RecordOf(list);
  if (!src || firstIndex > src->count) return nullptr;
  uint32_t n = src->count - firstIndex;
  const HsiParam *from = Slots(src) + firstIndex;
  uint64_t data = 0;
  for (uint32_t i = 0; i < n; i++)
    if (from[i].type == HSI_PARAM_STRING) data += from[i].length;
  if (HeaderSize(n) + data > kMaxRecordBytes) return nullptr;
  HsiParamList copy = HsiParamList_AllocSized(src->listType, n, static_cast<uint32_t>(data),
                                              static_cast<uint8_t>(src->flags & HSI_PARAMLIST_FIXED));
  if (!copy) return nullptr;
  HsiParamListRecord *rec = copy->record;
  HsiParam *to = Slots(rec);
  for (uint32_t i = 0; i < n; i++) {
    to[i] = from[i];
    if (from[i].type != HSI_PARAM_STRING) continue;
    to[i].value = rec->base;
    to[i].offset = rec->nextDataOffset;
    memcpy(Bytes(rec) + rec->nextDataOffset, HsiParam_GetString(&from[i]), from[i].length);
    rec->nextDataOffset += from[i].length;
    rec->dataUsed += from[i].length;
  }
  rec->count = n;
  if (rec->listType == HSI_PARAMLIST_INSTANCE) rec->totalCount = n;
  return copy;
}

HYX_ReturnStatus HsiParamList_AddInt(HsiParamList list, uint64_t value) {
  return InsertInt(list, value, false);
}

HYX_ReturnStatus HsiParamList_AddIntFront(HsiParamList list, uint64_t value) {
  return InsertInt(list, value, true);
}

HYX_ReturnStatus HsiParamList_AddString(HsiParamList list, const char *text) {
  return InsertString(list, text, false);
}

HYX_ReturnStatus HsiParamList_AddStringFront(HsiParamList list, const char *text) {
  return InsertString(list, text, true);
}

// A long string is several values; if one of them cannot be added, the ones
// already added are taken off again so that no half value stays behind.
HYX_ReturnStatus HsiParamList_AddLongString(HsiParamList list, const char *text) {
  if (!RecordOf(list) || !text) return HYX_BAD_PARAM;
  uint32_t before = list->record->count;
  uint64_t length = static_cast<uint64_t>(strlen(text)) + 1;
  HYX_ReturnStatus status = InsertInt(list, length, false);
  for (uint64_t done = 0; status == HYX_OK && done < length;) {
    uint32_t piece =
        static_cast<uint32_t>(length - done < HSI_PARAM_MAX_STRING ? length - done : HSI_PARAM_MAX_STRING);
    status = InsertBytes(list, text + done, piece, false);
    done += piece;
  }
  if (status != HYX_OK)
    while (list->record->count > before) HsiParamList_RemoveLast(list);
  return status;
}

HYX_ReturnStatus HsiParamList_Remove(HsiParamList list, uint32_t index) {
  HsiParamListRecord *rec = RecordOf(list);
  if (!rec || index >= rec->count) return HYX_BAD_PARAM;
  HsiParam *slots = Slots(rec);
  HsiParam gone = slots[index];
  if (gone.type == HSI_PARAM_STRING) {
    rec->dataUsed -= gone.length < rec->dataUsed ? gone.length : rec->dataUsed;
    if (IsSpilled(gone)) {
      free(reinterpret_cast<void *>(gone.value));
    } else if (gone.offset >= rec->headerSize && gone.offset + gone.length <= rec->nextDataOffset) {
      // Close up the data area behind the string.
      uint64_t end = gone.offset + gone.length;
      memmove(Bytes(rec) + gone.offset, Bytes(rec) + end, rec->nextDataOffset - end);
      rec->nextDataOffset -= gone.length;
      for (uint32_t i = 0; i < rec->count; i++)
        if (IsInline(slots[i]) && slots[i].offset > gone.offset) slots[i].offset -= gone.length;
    }
  }
  memmove(slots + index, slots + index + 1, static_cast<size_t>(kSlotBytes) * (rec->count - index - 1));
  memset(&slots[rec->count - 1], 0, sizeof slots[0]);
  rec->count--;
  if (rec->listType == HSI_PARAMLIST_INSTANCE && rec->totalCount) rec->totalCount--;
  return HYX_OK;
}

HYX_ReturnStatus HsiParamList_RemoveLast(HsiParamList list) {
  HsiParamListRecord *rec = RecordOf(list);
  if (rec && rec->count == 0) return HYX_LIMIT_EXCEEDED;
  return HsiParamList_Remove(list, rec ? rec->count - 1 : 0);
}

uint32_t HsiParamList_Count(HsiParamList list) { return RecordOf(list) ? list->record->count : 0; }

uint32_t HsiParamList_TotalCount(HsiParamList list) { return RecordOf(list) ? list->record->totalCount : 0; }

uint32_t HsiParamList_Capacity(HsiParamList list) { return RecordOf(list) ? list->record->capacity : 0; }

uint32_t HsiParamList_WireSize(HsiParamList list) {
  HsiParamListRecord *rec = RecordOf(list);
  return rec ? rec->headerSize + rec->dataUsed : 0;
}

// What the kernel may write into is the record as allocated: spilled bytes
// counted in data used are not part of it.
uint32_t HsiParamList_BufferSize(HsiParamList list) {
  HsiParamListRecord *rec = RecordOf(list);
  return rec ? rec->headerSize + rec->dataCapacity : 0;
}

bool HsiParamList_IsPacked(HsiParamList list) {
  HsiParamListRecord *rec = RecordOf(list);
  if (!rec) return false;
  return rec->dataUsed == 0 || static_cast<uint64_t>(rec->headerSize) + rec->dataUsed == rec->nextDataOffset;
}

HsiParam *HsiParamList_GetParam(HsiParamList list, uint32_t index) { return &Slots(list->record)[index]; }

HsiParamListRecord *HsiParamList_Record(HsiParamList list) { return RecordOf(list); }

namespace {

bool FilledSlotValid(const HsiParamListRecord &rec, const HsiParam &p) {
  if (p.type == HSI_PARAM_INT || p.type == HSI_PARAM_EMPTY) return true;
  if (p.type != HSI_PARAM_STRING) return false;
  // Only the library makes spilled strings: a kernel string is inline.
  return p.value == rec.base && p.length != 0 && p.length <= HSI_PARAM_MAX_STRING &&
         p.offset >= rec.headerSize &&
         p.offset + p.length <= static_cast<uint64_t>(rec.headerSize) + rec.dataCapacity;
}

bool FilledRecordValid(const HsiParamListRecord &rec, const HsiParamListRecord &sent) {
  if (rec.listType != sent.listType || rec.capacity != sent.capacity || rec.headerSize != sent.headerSize ||
      rec.dataCapacity != sent.dataCapacity || rec.base != sent.base)
    return false;
  if (rec.count > rec.capacity || rec.dataUsed > rec.dataCapacity) return false;
  if (rec.nextDataOffset != 0 &&
      (rec.nextDataOffset < rec.headerSize ||
       rec.nextDataOffset > static_cast<uint64_t>(rec.headerSize) + rec.dataCapacity))
    return false;
  const HsiParam *slots =
      reinterpret_cast<const HsiParam *>(reinterpret_cast<const char *>(&rec) + kHeaderBytes);
  for (uint32_t i = 0; i < rec.count; i++)
    if (!FilledSlotValid(rec, slots[i])) return false;
  return true;
}

}  // namespace

bool HsiParamList_AcceptFilled(HsiParamList list, const HsiParamListRecord &sent) {
  HsiParamListRecord *rec = RecordOf(list);
  if (!rec) return false;
  if (FilledRecordValid(*rec, sent)) return true;
  // Back to the empty list that was sent: nothing left to read or to free.
  memcpy(rec, &sent, sizeof sent);
  rec->count = rec->totalCount = rec->dataUsed = 0;
  rec->nextDataOffset = rec->dataCapacity ? rec->headerSize : 0;
  memset(Slots(rec), 0, static_cast<size_t>(kSlotBytes) * rec->capacity);
  return false;
}

uint64_t HsiParam_GetInt(const HsiParam *param) { return param->value; }

const char *HsiParam_GetString(const HsiParam *param) {
  return reinterpret_cast<const char *>(static_cast<uintptr_t>(param->value + param->offset));
}

bool HsiParam_Equal(const HsiParam *a, const HsiParam *b) {
  if (a->type != b->type) return false;
  if (a->type == HSI_PARAM_INT) return a->value == b->value;
  if (a->type != HSI_PARAM_STRING || a->length != b->length) return false;
  return memcmp(HsiParam_GetString(a), HsiParam_GetString(b), a->length) == 0;
}

// A string is read only when its bytes lie where the slot says (inside the
// record's data area, or in a spilled buffer) and end in a NUL; lists the
// kernel filled are checked the same way.
HYX_ReturnStatus HsiParamList_GetString(HsiParamList list, uint32_t index, const char **text) {
  HsiParamListRecord *rec = RecordOf(list);
  if (!rec) return HYX_BAD_PARAM;
  if (index >= rec->count) return HYX_BAD_PARAM_COUNT;
  const HsiParam *p = &Slots(rec)[index];
  if (p->type != HSI_PARAM_STRING) return HYX_BAD_PARAM_TYPE;
  if (!text) return HYX_BAD_PARAM;
  if (p->length == 0) return HYX_BAD_PARAM_TYPE;
  if (p->offset != 0) {
    // Inline: [offset, offset + length) inside the data area, in one
    // unsigned comparison of the offset past the header.
    uint64_t room = rec->dataCapacity;
    if (p->value != rec->base || p->offset - rec->headerSize > room ||
        p->length > room - (p->offset - rec->headerSize))
      return HYX_BAD_PARAM_TYPE;
  } else if (p->value == 0) {
    return HYX_BAD_PARAM_TYPE;
  }
  const char *s = HsiParam_GetString(p);
  if (s[p->length - 1] != '\0') return HYX_BAD_PARAM_TYPE;
  *text = s;
  return HYX_OK;
}

HYX_ReturnStatus HsiParamList_GetInt(HsiParamList list, uint32_t index, uint64_t *value) {
  HYX_ReturnStatus status;
  const HsiParam *p = CheckedSlot(list, index, HSI_PARAM_INT, &status);
  if (!p) return status;
  if (!value) return HYX_BAD_PARAM;
  *value = p->value;
  return HYX_OK;
}

namespace {

template <typename T>
HYX_ReturnStatus GetNarrow(HsiParamList list, uint32_t index, T *value, bool truncate) {
  uint64_t wide;
  HYX_ReturnStatus status = HsiParamList_GetInt(list, index, &wide);
  if (status != HYX_OK) return status;
  if (!value) return HYX_BAD_PARAM;
  if (!truncate && wide > static_cast<T>(~T{0})) return HYX_BAD_PARAM;
  *value = static_cast<T>(wide);
  return HYX_OK;
}

}  // namespace

HYX_ReturnStatus HsiParamList_GetUint32(HsiParamList list, uint32_t index, uint32_t *value) {
  return GetNarrow(list, index, value, false);
}

HYX_ReturnStatus HsiParamList_GetUint16(HsiParamList list, uint32_t index, uint16_t *value) {
  return GetNarrow(list, index, value, false);
}

HYX_ReturnStatus HsiParamList_GetUint8(HsiParamList list, uint32_t index, uint8_t *value) {
  return GetNarrow(list, index, value, false);
}

HYX_ReturnStatus HsiParamList_GetLow32(HsiParamList list, uint32_t index, uint32_t *value) {
  return GetNarrow(list, index, value, true);
}

HYX_ReturnStatus HsiParamList_SetInt(HsiParamList list, uint32_t index, uint64_t value) {
  HYX_ReturnStatus status;
  const HsiParam *p = CheckedSlot(list, index, HSI_PARAM_INT, &status);
  if (!p) return status;
  Slots(list->record)[index].value = value;
  return HYX_OK;
}

bool HsiParamList_FindInt(HsiParamList list, uint64_t value) {
  HsiParamListRecord *rec = RecordOf(list);
  for (uint32_t i = 0; rec && i < rec->count; i++)
    if (Slots(rec)[i].type == HSI_PARAM_INT && Slots(rec)[i].value == value) return true;
  return false;
}

// A slot matches when its length bytes equal the text's; the text is never
// read past its NUL, so a text shorter than the slot does not match.
bool HsiParamList_FindString(HsiParamList list, const char *text) {
  HsiParamListRecord *rec = RecordOf(list);
  if (!text) return false;
  for (uint32_t i = 0; rec && i < rec->count; i++) {
    const HsiParam &p = Slots(rec)[i];
    if (p.type != HSI_PARAM_STRING || p.length == 0) continue;
    if (strnlen(text, p.length) + 1 < p.length) continue;
    if (memcmp(HsiParam_GetString(&p), text, p.length) == 0) return true;
  }
  return false;
}
