#include "hyxuser/hxfsVolume.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "common/guard.h"
#include "status/status.h"

namespace {

template <typename T>
T Load(const uint8_t *at) {
  T value;
  memcpy(&value, at, sizeof value);
  return value;
}

// Room below the aligned block for the pointer malloc gave.
constexpr size_t kAlignSlack = kHxfsSectorSize + sizeof(void *);

bool Live(const HxfsHostIter *iter) { return iter != nullptr && iter->valid == kHxfsIterLive; }

}  // namespace

void *Hxfs_AlignedAlloc(size_t n) {
  if (n == 0) return nullptr;
  void *raw = n <= SIZE_MAX - kAlignSlack ? malloc(n + kAlignSlack) : nullptr;
  if (raw == nullptr) {
    fputs("Falied to allocate memory\n", stderr);
    return nullptr;
  }
  uintptr_t base = reinterpret_cast<uintptr_t>(raw) + sizeof(void *);
  auto *p = reinterpret_cast<uint8_t *>((base & ~uintptr_t{kHxfsSectorSize - 1}) + kHxfsSectorSize);
  memcpy(p - sizeof(void *), &raw, sizeof raw);
  return p;
}

void Hxfs_AlignedFree(void *p) {
  if (p == nullptr) return;
  void *raw;
  memcpy(&raw, static_cast<uint8_t *>(p) - sizeof(void *), sizeof raw);
  free(raw);
}

void HxfsVolume_ParseDescriptor(const uint8_t *block, uint32_t *isHxfs, HxfsGeometry *geometry) {
  *isHxfs = Load<uint32_t>(block + kHxfsDescriptorMagic) == HXFS_VOLUME_MAGIC;
  if (!*isHxfs || geometry == nullptr) return;
  if (Load<uint32_t>(block + kHxfsDescriptorMajor) < kHxfsFirstSizedMajor)
    *geometry = {kHxfsFixedSlotCount, kHxfsFixedSlotSize};
  else
    *geometry = {kHxfsSizedSlotCount, Load<uint32_t>(block + kHxfsDescriptorSlotSize)};
}

HYX_ReturnStatus HxfsGeometry_Check(const HxfsGeometry &geometry) {
  // A size read from disk decides how far each slot's copy reaches and how
  // much is read: a size of 0 would never advance, a small one would copy
  // past the chunk, an odd one break direct reads, a huge one exhaust memory.
  if (geometry.slotCount > kHxfsMaxSlots) return HYX_NOT_SUPPORTED;
  if (geometry.slotSize == 0 || geometry.slotSize % kHxfsSectorSize != 0 ||
      geometry.slotSize > kHxfsMaxSlotSize)
    return HYX_NOT_SUPPORTED;
  static_assert(kHxfsSectorSize >= kHxfsCopiedBytes, "every accepted slot holds the bytes copied from it");
  return HYX_OK;
}

HYX_ReturnStatus HxfsVolume_ReadHeartbeats(HxfsReader read, void *context, uint64_t offset,
                                           const HxfsGeometry &geometry, HxfsHostIter **iterOut) {
  HYX_ReturnStatus status = HxfsGeometry_Check(geometry);
  if (status != HYX_OK) return status;
  HxfsHostIter *iter = static_cast<HxfsHostIter *>(Hxfs_AlignedAlloc(sizeof(HxfsHostIter)));
  guard::ScopeExit freeIter([&] { Hxfs_AlignedFree(iter); });
  const size_t chunk = size_t{kHxfsSlotsPerRead} * geometry.slotSize;
  uint8_t *buffer = static_cast<uint8_t *>(Hxfs_AlignedAlloc(chunk));
  guard::ScopeExit freeBuffer([&] { Hxfs_AlignedFree(buffer); });
  if (iter == nullptr || buffer == nullptr) return HYX_NO_MEMORY;
  // The record is zero but for the bytes copied from the slots.  One clear
  // of the whole record, then the copies: clearing each entry's tail apart
  // costs a string store's start-up 2048 times, more than the bytes the
  // copies write twice.
  memset(iter, 0, sizeof *iter);
  iter->count = geometry.slotCount;

  uint32_t filled = 0;
  while (filled < geometry.slotCount) {
    uint32_t slots =
        geometry.slotCount - filled < kHxfsSlotsPerRead ? geometry.slotCount - filled : kHxfsSlotsPerRead;
    size_t want = size_t{slots} * geometry.slotSize;
    ssize_t got = read(context, buffer, want, offset);
    if (got < 0) return StatusFromErrno(errno);
    // A region that ends early would leave slots unread: refused rather
    // than handed out as hosts that were never there.
    if (static_cast<size_t>(got) != want) return HYX_READ_ERROR;
    offset += want;
    for (uint32_t i = 0; i < slots; ++i, ++filled) {
      uint8_t *entry = iter->entries[filled].bytes;
      memcpy(entry, buffer + size_t{i} * geometry.slotSize, kHxfsCopiedBytes);
    }
  }
  iter->current = -1;
  iter->valid = kHxfsIterLive;
  freeIter.dismiss();
  *iterOut = iter;
  return HYX_OK;
}

HYX_ReturnStatus HxfsHostIter_Next(HxfsHostIter *iter, HxfsHostInfo **infoOut) {
  if (!Live(iter) || infoOut == nullptr) return HYX_BAD_PARAM;
  uint32_t count = iter->count < kHxfsMaxSlots ? iter->count : kHxfsMaxSlots;
  for (int64_t i = int64_t{iter->current} + 1; i < count; ++i) {
    if (Load<uint32_t>(iter->entries[i].bytes + kHxfsSlotState) == HXFS_HB_SLOT_FREE) continue;
    iter->current = static_cast<int32_t>(i);
    *infoOut = &iter->entries[i];
    return HYX_OK;
  }
  return HYX_NOT_FOUND;
}

HYX_ReturnStatus HxfsHostIter_Find(HxfsHostIter *iter, const uint8_t *uuid, HxfsHostInfo **infoOut) {
  if (!Live(iter) || uuid == nullptr || infoOut == nullptr) return HYX_BAD_PARAM;
  uint32_t count = iter->count < kHxfsMaxSlots ? iter->count : kHxfsMaxSlots;
  HxfsHostInfo *best = nullptr;
  uint64_t bestStamp = 0;
  for (uint32_t i = 0; i < count; ++i) {
    const uint8_t *entry = iter->entries[i].bytes;
    if (memcmp(entry + kHxfsSlotUuid, uuid, kHxfsUuidSize) != 0) continue;
    uint64_t stamp = Load<uint64_t>(entry + kHxfsSlotStamp);
    if (best == nullptr || stamp >= bestStamp) {
      best = &iter->entries[i];
      bestStamp = stamp;
    }
  }
  if (best == nullptr) return HYX_NOT_FOUND;
  *infoOut = best;
  return HYX_OK;
}
