// The HXFS on-disk records the volume reader understands: the volume
// descriptor, the heartbeat slots and the iterator that keeps a copy of
// them.  Nothing here opens a file: the heartbeat region is read through a
// reader the caller supplies (pread on the device, or bytes in memory), so
// the same code serves the library and the fuzzer.
#pragma once

#include <sys/types.h>

#include <cstddef>
#include <cstdint>

#include "hyxuser/hyxuser.h"

// Where the records sit, from the start of the volume on its device.
constexpr uint64_t kHxfsDescriptorOffset = 0x200000;
constexpr uint64_t kHxfsHeartbeatOffset = 0x300000;
constexpr size_t kHxfsDescriptorSize = 512;

// The volume descriptor's fields.
constexpr uint32_t HXFS_VOLUME_MAGIC = 0x2FABF15E;
constexpr size_t kHxfsDescriptorMagic = 0;
constexpr size_t kHxfsDescriptorMajor = 4;
constexpr size_t kHxfsDescriptorSlotSize = 0x134;
// From this major version on the descriptor gives the slot size.
constexpr uint32_t kHxfsFirstSizedMajor = 24;

// Geometries: the old fixed one, and the slot count of the sized one.
constexpr uint32_t kHxfsFixedSlotCount = 2048;
constexpr uint32_t kHxfsFixedSlotSize = 512;
constexpr uint32_t kHxfsSizedSlotCount = 1024;
// Device reads are sector multiples; a slot larger than this is not a
// heartbeat slot but a damaged descriptor.
constexpr uint32_t kHxfsSectorSize = 512;
constexpr uint32_t kHxfsMaxSlotSize = 64 * 1024;
// The heartbeat region is read this many slots at a time.
constexpr uint32_t kHxfsSlotsPerRead = 64;

// A heartbeat slot's fields; only its first kHxfsCopiedBytes are kept.
constexpr uint32_t HXFS_HB_SLOT_FREE = 0xABCDEF01;
constexpr size_t kHxfsSlotState = 0;
constexpr size_t kHxfsSlotMac = 10;
constexpr size_t kHxfsSlotStamp = 20;
constexpr size_t kHxfsSlotUuid = 28;
constexpr size_t kHxfsCopiedBytes = 164;
constexpr size_t kHxfsMacSize = 6;
constexpr size_t kHxfsUuidSize = 16;

constexpr uint32_t kHxfsMaxSlots = 2048;
constexpr size_t kHxfsEntrySize = 512;
constexpr uint32_t kHxfsIterLive = 1;

// One slot's copy; callers hold pointers to entries inside an iterator.
struct HxfsHostInfo {
  uint8_t bytes[kHxfsEntrySize];
};

struct HxfsHostIter {
  HxfsHostInfo entries[kHxfsMaxSlots];  // entry i: the first bytes of slot i
  int32_t current;                      // -1 before the first Next
  uint32_t valid;                       // kHxfsIterLive while the iterator lives
  uint32_t count;                       // entries filled: the slot count
};

struct HxfsGeometry {
  uint32_t slotCount;
  uint32_t slotSize;
};

// n bytes (n > 0) at a 512-byte boundary, as direct reads need; null (with
// a line on stderr) when memory runs out, null for n = 0.  Released with
// Hxfs_AlignedFree.
void *Hxfs_AlignedAlloc(size_t n);
void Hxfs_AlignedFree(void *p);

// Reads one descriptor block (kHxfsDescriptorSize bytes): *isHxfs from the
// magic and, for an HXFS volume, the heartbeat geometry it gives.
void HxfsVolume_ParseDescriptor(const uint8_t *block, uint32_t *isHxfs, HxfsGeometry *geometry);

// HYX_OK when a geometry can be read into an iterator; HYX_NOT_SUPPORTED
// for a slot count above the iterator's or a slot size that is 0, not a
// sector multiple, or above kHxfsMaxSlotSize.
HYX_ReturnStatus HxfsGeometry_Check(const HxfsGeometry &geometry);

// pread's contract: bytes read, or -1 with errno.
using HxfsReader = ssize_t (*)(void *context, void *buffer, size_t length, uint64_t offset);

// Reads the heartbeat region (a checked geometry) from `offset` on, in
// chunks of kHxfsSlotsPerRead slots, into a new live iterator (*iterOut,
// released with Hxfs_AlignedFree).  A read that fails gives its errno's
// status, one that comes back short HYX_READ_ERROR; HYX_NO_MEMORY.  No
// iterator is handed out on failure.
HYX_ReturnStatus HxfsVolume_ReadHeartbeats(HxfsReader read, void *context, uint64_t offset,
                                           const HxfsGeometry &geometry, HxfsHostIter **iterOut);

// The next held slot after the current one; HYX_NOT_FOUND past the last.
HYX_ReturnStatus HxfsHostIter_Next(HxfsHostIter *iter, HxfsHostInfo **infoOut);
// The newest entry carrying uuid (free ones included; on equal stamps the
// later slot).
HYX_ReturnStatus HxfsHostIter_Find(HxfsHostIter *iter, const uint8_t *uuid, HxfsHostInfo **infoOut);
