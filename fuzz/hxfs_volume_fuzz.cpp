// Volume descriptors and heartbeat regions as a device could hold them.  The
// first input byte says how the device behaves (and may stamp the magic,
// an old major version or a sector-multiple slot size into the descriptor,
// so that random inputs reach the heartbeat reader too); the next 512 bytes
// are the descriptor block, the rest the heartbeat region, read the way the
// library reads a device (in chunks, short at the end of
// the bytes, optionally failing).  Every status must be one the reader
// documents, every entry must hold the first bytes of its slot, and the
// cursor and look-ups must stay inside the iterator.
#include <cerrno>
#include <cstdint>
#include <cstdlib>
#include <cstring>

#include "hyxuser/hxfsVolume.h"

namespace {

void Check(bool ok) {
  if (!ok) abort();
}

struct Device {
  const uint8_t *region;
  size_t size;
  bool repeat;
  bool failLast;
  uint64_t start;  // device offset of the region
  uint64_t regionEnd;
};

ssize_t ReadFrom(void *context, void *buffer, size_t length, uint64_t offset) {
  auto *device = static_cast<Device *>(context);
  Check(offset >= device->start);
  Check(reinterpret_cast<uintptr_t>(buffer) % kHxfsSectorSize == 0 && length % kHxfsSectorSize == 0);
  uint64_t at = offset - device->start;
  if (device->failLast && at + length >= device->regionEnd) {
    errno = EIO;
    return -1;
  }
  auto *out = static_cast<uint8_t *>(buffer);
  if (device->repeat) {
    if (device->size == 0) return 0;
    for (size_t i = 0; i < length; ++i) out[i] = device->region[(at + i) % device->size];
    return static_cast<ssize_t>(length);
  }
  if (at >= device->size) return 0;
  size_t n = device->size - at < length ? device->size - at : length;
  memcpy(out, device->region + at, n);
  return static_cast<ssize_t>(n);
}

uint8_t ByteAt(const Device &device, uint64_t at) {
  return device.repeat ? device.region[at % device.size] : device.region[at];
}

template <typename T>
void Put(uint8_t *at, T value) {
  memcpy(at, &value, sizeof value);
}

enum : uint8_t {
  kRepeat = 1,          // the region's bytes fill the whole device, over and over
  kFailLast = 2,        // the read reaching the region's end fails with EIO
  kSectorSlots = 0x20,  // major 24 with slots of 512 * (1 + descriptor[8] % 16) bytes
  kOldMajor = 0x40,     // major 23: the fixed geometry
  kMagic = 0x80,        // the HXFS magic
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  if (size == 0) return 0;
  uint8_t mode = data[0];
  ++data, --size;
  uint8_t descriptor[kHxfsDescriptorSize] = {};
  memcpy(descriptor, data, size < sizeof descriptor ? size : sizeof descriptor);
  if (mode & kMagic) Put(descriptor + kHxfsDescriptorMagic, HXFS_VOLUME_MAGIC);
  if (mode & kOldMajor) Put(descriptor + kHxfsDescriptorMajor, kHxfsFirstSizedMajor - 1);
  if (mode & kSectorSlots) {
    Put(descriptor + kHxfsDescriptorMajor, kHxfsFirstSizedMajor);
    Put(descriptor + kHxfsDescriptorSlotSize, kHxfsSectorSize * (1u + descriptor[8] % 16u));
  }
  uint32_t isHxfs = 7;
  HxfsGeometry geometry{};
  HxfsVolume_ParseDescriptor(descriptor, &isHxfs, &geometry);
  Check(isHxfs == 0 || isHxfs == 1);
  if (!isHxfs) return 0;

  HYX_ReturnStatus checked = HxfsGeometry_Check(geometry);
  Check(checked == HYX_OK || checked == HYX_NOT_SUPPORTED);
  Device device{};
  device.region = size > kHxfsDescriptorSize ? data + kHxfsDescriptorSize : nullptr;
  device.size = size > kHxfsDescriptorSize ? size - kHxfsDescriptorSize : 0;
  // A short input repeats its own bytes as the region.
  if ((mode & kRepeat) && device.size == 0 && size > 0) device.region = data, device.size = size;
  device.repeat = (mode & kRepeat) && device.size > 0;
  device.failLast = mode & kFailLast;
  device.start = 0x300000;
  device.regionEnd = uint64_t{geometry.slotCount} * geometry.slotSize;

  HxfsHostIter *iter = nullptr;
  HYX_ReturnStatus status = HxfsVolume_ReadHeartbeats(ReadFrom, &device, device.start, geometry, &iter);
  Check(status == HYX_OK || status == HYX_NOT_SUPPORTED || status == HYX_READ_ERROR ||
        status == HYX_ERRNO_STATUS_BASE + EIO);
  if (checked != HYX_OK) Check(status == HYX_NOT_SUPPORTED);
  if (status != HYX_OK) {
    Check(iter == nullptr);
    return 0;
  }
  Check(iter != nullptr && iter->count == geometry.slotCount && iter->current == -1);
  for (uint32_t slot = 0; slot < iter->count; ++slot) {
    const uint8_t *entry = iter->entries[slot].bytes;
    uint64_t at = uint64_t{slot} * geometry.slotSize;
    for (size_t i = 0; i < kHxfsCopiedBytes; i += 41) Check(entry[i] == ByteAt(device, at + i));
    for (size_t i = kHxfsCopiedBytes; i < kHxfsEntrySize; i += 37) Check(entry[i] == 0);
  }

  uint32_t held = 0;
  int32_t last = -1;
  HxfsHostInfo *info = nullptr;
  while ((status = HxfsHostIter_Next(iter, &info)) == HYX_OK) {
    Check(iter->current > last && static_cast<uint32_t>(iter->current) < iter->count);
    Check(info == &iter->entries[iter->current]);
    last = iter->current;
    ++held;
  }
  Check(status == HYX_NOT_FOUND && held <= iter->count);
  Check(HxfsHostIter_Next(iter, &info) == HYX_NOT_FOUND);

  const uint8_t *uuid = iter->entries[0].bytes + kHxfsSlotUuid;
  status = HxfsHostIter_Find(iter, uuid, &info);
  Check(status == HYX_OK && info >= iter->entries && info < iter->entries + iter->count);
  Hxfs_AlignedFree(iter);
  return 0;
}
