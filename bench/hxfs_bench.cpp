// Reading a volume's hosts: Begin, Next over every held slot and End on
// the 2048 x 512 geometry, beside what `dd iflag=direct` does for the same
// heartbeat region (open the device for direct reads, 32 reads of 32 KiB,
// close), in the same process; beside those reads plus filling the record
// the iteration must hand out (the floor of its work); beside that floor
// plus resolving the volume as the iteration must; and beside dd itself,
// run as a program.
// Runs inside hyxsim on the hxfs host, whose datastore1 has that geometry:
//   hyxsim --profile examples/hosts/hxfs.json -- build/default/bench/hxfs_bench
#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "hyxuser/hxfsVolume.h"
#include "hyxuser/hyxuser.h"

namespace {

constexpr char kVolume[] = "/hxfs/volumes/datastore1";
constexpr char kDevice[] = "/hxfs/devices/disks/hyx.5000c500a1b2c3d4:1";
constexpr uint64_t kVolumeStart = 1 << 20;  // the profile's default
constexpr size_t kChunk = size_t{kHxfsSlotsPerRead} * kHxfsFixedSlotSize;
constexpr int kChunks = kHxfsFixedSlotCount / kHxfsSlotsPerRead;

void Iterate(benchmark::State &state) {
  for (auto _ : state) {
    HxfsHostIter *iter = nullptr;
    if (HyxuserHXFS_ActiveHostIterBegin(kVolume, &iter) != HYX_OK) return state.SkipWithError("Begin failed");
    HxfsHostInfo *info = nullptr;
    int held = 0;
    while (HyxuserHXFS_ActiveHostIterNext(iter, &info) == HYX_OK) ++held;
    benchmark::DoNotOptimize(held);
    HyxuserHXFS_ActiveHostIterEnd(&iter);
  }
}

// dd iflag=direct bs=32k count=32 of the region, without starting a process.
void DirectReads(benchmark::State &state) {
  void *buffer = aligned_alloc(kHxfsSectorSize, kChunk);
  for (auto _ : state) {
    int fd = open(kDevice, O_RDONLY | O_DIRECT | O_CLOEXEC);
    if (fd < 0) return state.SkipWithError("open failed");
    off_t at = static_cast<off_t>(kVolumeStart + kHxfsHeartbeatOffset);
    for (int i = 0; i < kChunks; ++i, at += kChunk)
      if (pread(fd, buffer, kChunk, at) != static_cast<ssize_t>(kChunk)) state.SkipWithError("short read");
    close(fd);
  }
  free(buffer);
}

// The least the iteration may do: the same reads, each into a chunk from
// which every slot's 164 bytes go to a record of 2048 entries of 512 bytes
// handed out zero-filled (allocated and cleared once, then the copies).
// False when a step fails.
bool ReadIntoRecord(void *buffer) {
  auto *record = static_cast<uint8_t *>(malloc(size_t{kHxfsFixedSlotCount} * kHxfsEntrySize));
  if (record == nullptr) return false;
  memset(record, 0, size_t{kHxfsFixedSlotCount} * kHxfsEntrySize);
  int fd = open(kDevice, O_RDONLY | O_DIRECT | O_CLOEXEC);
  bool read = fd >= 0;
  off_t at = static_cast<off_t>(kVolumeStart + kHxfsHeartbeatOffset);
  uint8_t *entry = record;
  for (int i = 0; read && i < kChunks; ++i, at += kChunk) {
    read = pread(fd, buffer, kChunk, at) == static_cast<ssize_t>(kChunk);
    for (uint32_t slot = 0; slot < kHxfsSlotsPerRead; ++slot, entry += kHxfsEntrySize)
      memcpy(entry, static_cast<uint8_t *>(buffer) + size_t{slot} * kHxfsFixedSlotSize, kHxfsCopiedBytes);
  }
  if (fd >= 0) close(fd);
  benchmark::DoNotOptimize(record);
  free(record);
  return read;
}

void DirectReadsFilled(benchmark::State &state) {
  void *buffer = aligned_alloc(kHxfsSectorSize, kChunk);
  for (auto _ : state)
    if (!ReadIntoRecord(buffer)) {
      state.SkipWithError("direct reads failed");
      break;
    }
  free(buffer);
}

// That floor with what the iteration must also do before its reads: find
// the volume's device through the file system's attribute request and the
// device directories, and read its descriptor (HyxuserHXFS_IsHXFSVolume
// does all of it).  What the iteration spends beyond this is its own.
void ResolvedAndFilled(benchmark::State &state) {
  void *buffer = aligned_alloc(kHxfsSectorSize, kChunk);
  for (auto _ : state) {
    uint32_t isHxfs = 0;
    if (HyxuserHXFS_IsHXFSVolume(kVolume, &isHxfs) != HYX_OK || !isHxfs || !ReadIntoRecord(buffer)) {
      state.SkipWithError("resolving or direct reads failed");
      break;
    }
  }
  free(buffer);
}

// The dd program itself, process start included.
void DdProgram(benchmark::State &state) {
  std::string command =
      std::string("dd if=") + kDevice + " of=/dev/null iflag=direct bs=32k count=" + std::to_string(kChunks) +
      " skip=" + std::to_string((kVolumeStart + kHxfsHeartbeatOffset) / kChunk) + " status=none";
  for (auto _ : state)
    if (system(command.c_str()) != 0) return state.SkipWithError("dd failed");
}

BENCHMARK(Iterate)->Name("HxfsHosts2048x512/library");
BENCHMARK(DirectReads)->Name("HxfsHosts2048x512/baseline");
BENCHMARK(DirectReadsFilled)->Name("HxfsHosts2048x512/filled");
BENCHMARK(ResolvedAndFilled)->Name("HxfsHosts2048x512/resolved");
BENCHMARK(DdProgram)->Name("HxfsHosts2048x512/dd")->UseRealTime();

}  // namespace
