// HXFS volumes inside the sandbox of examples/hosts/hxfs.json: hyxsim lays
// out each volume's directory and device image, the simulated kernel answers
// the file system's attribute and lock requests, and the library reads the
// images with direct reads, as it would read a host's devices.
#include <dirent.h>
#include <dlfcn.h>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <array>
#include <cstdarg>
#include <cstring>
#include <functional>
#include <nlohmann/json.hpp>
#include <string>
#include <vector>

#include "alloc_fail.h"
#include "hyxsim/hyxsim.h"
#include "hyxsysinfo/kernelCall.h"
#include "hyxsysinfo/kernelWire.h"
#include "hyxuser/hyxuser.h"
#include "run_command.h"
#include "status_matchers.h"

namespace {

using Bytes16 = std::array<uint8_t, 16>;
using Mac = std::array<uint8_t, 6>;

constexpr char kFixed[] = "/hxfs/volumes/datastore1";  // 2048 slots of 512 bytes, in "disks"
constexpr char kSized[] = "/hxfs/volumes/datastore2";  // 1024 slots of 4096 bytes, in "cdrom"
constexpr char kOtherFs[] = "/hxfs/volumes/otherfs";
constexpr uint32_t kSlotFree = 0xABCDEF01;

constexpr Bytes16 kSelf = {0x65, 0x2f, 0x1a, 0x9c, 0x3e, 0x7d, 0x4b, 0x21,
                           0xa8, 0x0c, 0x5e, 0x11, 0xd2, 0x44, 0x90, 0xb7};
constexpr Bytes16 kTwins = {0xc0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0x08};
constexpr Bytes16 kParked = {0xd0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0x0c};
constexpr Bytes16 kStranger = {0x99};

Mac MacOf(uint8_t a, uint8_t b, uint8_t c) { return {0x00, 0x50, 0x56, a, b, c}; }

int OpenDescriptors() {
  int count = 0;
  DIR *dir = opendir("/proc/self/fd");
  while (dirent *entry = readdir(dir)) count += entry->d_name[0] != '.';
  closedir(dir);
  return count - 1;  // the directory's own
}

// Opens the library makes under the host's HXFS paths, with their flags.
struct OpenSeen {
  std::string path;
  int flags;
};
std::vector<OpenSeen> hxfsOpens;

Mac MacOfInfo(const HxfsHostInfo *info) {
  Mac mac{};
  EXPECT_THAT(HyxuserHXFS_GetMacAddr(info, mac.data()), IsOk());
  return mac;
}

std::vector<Mac> HeldSlots(HxfsHostIter *iter) {
  std::vector<Mac> macs;
  HxfsHostInfo *info = nullptr;
  while (HyxuserHXFS_ActiveHostIterNext(iter, &info) == HYX_OK) macs.push_back(MacOfInfo(info));
  return macs;
}

class Hxfs : public ::testing::Test {
 protected:
  void SetUp() override { before_ = OpenDescriptors(); }
  void TearDown() override {
    HyxSim_ClearHandlers();
    EXPECT_EQ(OpenDescriptors(), before_) << "a descriptor was left open";
  }
  int before_ = 0;
};

}  // namespace

// Watches the opens the library makes; everything goes to libc's own.
extern "C" int open(const char *path, int flags, ...) {
  using OpenFn = int (*)(const char *, int, ...);
  static OpenFn real = reinterpret_cast<OpenFn>(dlsym(RTLD_NEXT, "open"));
  mode_t mode = 0;
  if (flags & (O_CREAT | O_TMPFILE)) {
    va_list args;
    va_start(args, flags);
    mode = static_cast<mode_t>(va_arg(args, int));
    va_end(args);
  }
  if (strncmp(path, "/hxfs/", 6) == 0) hxfsOpens.push_back({path, flags});
  return real(path, flags, mode);
}

TEST_F(Hxfs, IteratesTheHeldSlotsOfBothGeometriesInSlotOrder) {
  struct Case {
    const char *volume;
    std::vector<Mac> held;
  };
  const Case cases[] = {
      // Slots 0 and 2 are free, so is 12 (a free slot that names a host).
      {kFixed,
       {MacOf(0xaa, 0xbb, 0x01), MacOf(0xaa, 0xbb, 0x03), MacOf(0xaa, 0xbb, 0x06), MacOf(0xaa, 0xbb, 0x08),
        MacOf(0xaa, 0xbb, 0x0b), MacOf(0xaa, 0xb7, 0xff)}},
      {kSized, {MacOf(0xcc, 0x00, 0x00), MacOf(0xcc, 0x03, 0xff)}},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.volume);
    HxfsHostIter *iter = nullptr;
    ASSERT_THAT(HyxuserHXFS_ActiveHostIterBegin(c.volume, &iter), IsOk());
    EXPECT_EQ(HeldSlots(iter), c.held);
    HxfsHostInfo *info = nullptr;
    EXPECT_THAT(HyxuserHXFS_ActiveHostIterNext(iter, &info), IsStatus(HYX_NOT_FOUND))
        << "past the end stays past the end";
    EXPECT_THAT(HyxuserHXFS_ActiveHostIterEnd(&iter), IsOk());
    EXPECT_EQ(iter, nullptr);
    EXPECT_THAT(HyxuserHXFS_ActiveHostIterEnd(&iter), IsStatus(HYX_BAD_PARAM));
  }
}

TEST_F(Hxfs, ReadsEachFieldOfASlot) {
  HxfsHostIter *iter = nullptr;
  ASSERT_THAT(HyxuserHXFS_ActiveHostIterBegin(kFixed, &iter), IsOk());
  HxfsHostInfo *info = nullptr;
  ASSERT_THAT(HyxuserHXFS_ActiveHostIterNext(iter, &info), IsOk());
  Bytes16 uuid{};
  uint64_t stamp = 0;
  uint32_t state = 0;
  EXPECT_THAT(HyxuserHXFS_GetHostInfoUUID(info, uuid.data()), IsOk());
  EXPECT_EQ(uuid, kSelf);
  EXPECT_THAT(HyxuserHXFS_GetHostInfoTimeStamp(info, &stamp), IsOk());
  EXPECT_EQ(stamp, 5u);
  EXPECT_THAT(HyxuserHXFS_GetHostInfoState(info, &state), IsOk());
  EXPECT_EQ(state, 1u);
  EXPECT_EQ(MacOfInfo(info), MacOf(0xaa, 0xbb, 0x01));

  EXPECT_THAT(HyxuserHXFS_GetMacAddr(info, nullptr), IsStatus(HYX_BAD_PARAM));
  EXPECT_THAT(HyxuserHXFS_GetHostInfoTimeStamp(nullptr, &stamp), IsStatus(HYX_BAD_PARAM));
  EXPECT_THAT(HyxuserHXFS_GetHostInfoState(info, nullptr), IsStatus(HYX_BAD_PARAM));
  EXPECT_THAT(HyxuserHXFS_GetHostInfoUUID(nullptr, uuid.data()), IsStatus(HYX_BAD_PARAM));
  EXPECT_THAT(HyxuserHXFS_ActiveHostIterNext(iter, nullptr), IsStatus(HYX_BAD_PARAM));
  EXPECT_THAT(HyxuserHXFS_ActiveHostIterNext(nullptr, &info), IsStatus(HYX_BAD_PARAM));
  EXPECT_THAT(HyxuserHXFS_ActiveHostIterEnd(nullptr), IsStatus(HYX_BAD_PARAM));
  EXPECT_THAT(HyxuserHXFS_ActiveHostIterEnd(&iter), IsOk());
}

TEST_F(Hxfs, FindsTheNewestSlotOfAUuidFreeSlotsIncluded) {
  struct Case {
    const char *what;
    Bytes16 uuid;
    HYX_ReturnStatus status;
    Mac mac;
    uint32_t state;
  };
  const Case cases[] = {
      {"stamps 5 and 9: the 9", kSelf, HYX_OK, MacOf(0xaa, 0xbb, 0x06), 1},
      {"equal stamps: the later slot", kTwins, HYX_OK, MacOf(0xaa, 0xbb, 0x0b), 1},
      {"only in a free slot", kParked, HYX_OK, MacOf(0xaa, 0xbb, 0x0c), kSlotFree},
      {"nowhere", kStranger, HYX_NOT_FOUND, {}, 0},
  };
  HxfsHostIter *iter = nullptr;
  ASSERT_THAT(HyxuserHXFS_ActiveHostIterBegin(kFixed, &iter), IsOk());
  HxfsHostInfo *first = nullptr;
  ASSERT_THAT(HyxuserHXFS_ActiveHostIterNext(iter, &first), IsOk());
  for (const Case &c : cases) {
    SCOPED_TRACE(c.what);
    HxfsHostInfo *info = nullptr;
    ASSERT_THAT(HyxuserHXFS_GetHostInfo(iter, c.uuid.data(), &info), IsStatus(c.status));
    if (c.status != HYX_OK) continue;
    EXPECT_EQ(MacOfInfo(info), c.mac);
    uint32_t state = 0;
    EXPECT_THAT(HyxuserHXFS_GetHostInfoState(info, &state), IsOk());
    EXPECT_EQ(state, c.state);
  }
  // The look-ups leave the cursor where it was: slot 3 comes next.
  HxfsHostInfo *next = nullptr;
  ASSERT_THAT(HyxuserHXFS_ActiveHostIterNext(iter, &next), IsOk());
  EXPECT_EQ(MacOfInfo(next), MacOf(0xaa, 0xbb, 0x03));
  HxfsHostInfo *info = nullptr;
  EXPECT_THAT(HyxuserHXFS_GetHostInfo(iter, nullptr, &info), IsStatus(HYX_BAD_PARAM));
  EXPECT_THAT(HyxuserHXFS_GetHostInfo(nullptr, kSelf.data(), &info), IsStatus(HYX_BAD_PARAM));
  EXPECT_THAT(HyxuserHXFS_ActiveHostIterEnd(&iter), IsOk());
}

TEST_F(Hxfs, TellsHxfsVolumesFromOthers) {
  struct Case {
    const char *volume;
    uint32_t isHxfs;
  };
  // datastore2's device lies only in the fifth device directory.
  for (const Case &c : {Case{kFixed, 1}, Case{kSized, 1}, Case{kOtherFs, 0}}) {
    SCOPED_TRACE(c.volume);
    uint32_t isHxfs = 7;
    EXPECT_THAT(HyxuserHXFS_IsHXFSVolume(c.volume, &isHxfs), IsOk());
    EXPECT_EQ(isHxfs, c.isHxfs);
  }
  HxfsHostIter *iter = nullptr;
  testing::internal::CaptureStderr();
  EXPECT_THAT(HyxuserHXFS_ActiveHostIterBegin(kOtherFs, &iter), IsStatus(HYX_BAD_PARAM));
  EXPECT_EQ(testing::internal::GetCapturedStderr(),
            std::string("Volume ") + kOtherFs + " is not a HXFS volume\n");
  EXPECT_EQ(iter, nullptr);
  uint32_t isHxfs = 0;
  EXPECT_THAT(HyxuserHXFS_IsHXFSVolume(nullptr, &isHxfs), IsStatus(HYX_BAD_PARAM));
  EXPECT_THAT(HyxuserHXFS_IsHXFSVolume(kFixed, nullptr), IsStatus(HYX_BAD_PARAM));
  EXPECT_THAT(HyxuserHXFS_ActiveHostIterBegin(kFixed, nullptr), IsStatus(HYX_BAD_PARAM));
}

// Volumes whose records cannot be read, and paths that lead to no volume:
// a clear status, nothing handed out, every descriptor closed.
TEST_F(Hxfs, RefusesDamagedVolumesAndPathsWithoutOne) {
  struct Case {
    const char *path;
    HYX_ReturnStatus begin;
    HYX_ReturnStatus is;  // of IsHXFSVolume, which reads only the descriptor
    const char *said;     // on standard error, by each call that fails before the region
  };
  const Case cases[] = {
      {"/hxfs/volumes/slots0", HYX_NOT_SUPPORTED, HYX_OK, ""},
      {"/hxfs/volumes/slots100", HYX_NOT_SUPPORTED, HYX_OK, ""},
      {"/hxfs/volumes/slots1000", HYX_NOT_SUPPORTED, HYX_OK, ""},
      {"/hxfs/volumes/slots1m", HYX_NOT_SUPPORTED, HYX_OK, ""},
      {"/hxfs/volumes/slots4g", HYX_NOT_SUPPORTED, HYX_OK, ""},
      {"/hxfs/volumes/shortregion", HYX_READ_ERROR, HYX_OK, ""},
      // A device that ends inside the descriptor: pread returns short, no errno.
      {"/hxfs/volumes/cutdescriptor", HYX_READ_ERROR, HYX_READ_ERROR,
       "pread failed for volume descriptor 0\n"},
      {"/hxfs/volumes/startzero", HYX_BAD_PARAM, HYX_BAD_PARAM, ""},
      {"/hxfs/volumes/nodevice", HYX_BAD_PARAM, HYX_BAD_PARAM, ""},
      {"/hxfs/volumes/missing", HYX_ERRNO_STATUS_BASE + ENOENT, HYX_ERRNO_STATUS_BASE + ENOENT,
       "Could not open /hxfs/volumes/missing\n"},
      {"/tmp", HYX_ERRNO_STATUS_BASE + ENOTTY, HYX_ERRNO_STATUS_BASE + ENOTTY,
       "IOCTLCMD_HXFS_FS_GET_ATTR failed on /tmp\n"},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.path);
    auto *sentinel = reinterpret_cast<HxfsHostIter *>(0x1);
    HxfsHostIter *iter = sentinel;
    testing::internal::CaptureStderr();
    EXPECT_THAT(HyxuserHXFS_ActiveHostIterBegin(c.path, &iter), IsStatus(c.begin));
    EXPECT_EQ(iter, sentinel);
    uint32_t isHxfs = 7;
    EXPECT_THAT(HyxuserHXFS_IsHXFSVolume(c.path, &isHxfs), IsStatus(c.is));
    EXPECT_EQ(isHxfs, c.is == HYX_OK ? 1u : 7u);
    EXPECT_EQ(testing::internal::GetCapturedStderr(), std::string(c.said) + c.said);
    EXPECT_EQ(OpenDescriptors(), before_);
  }
}

namespace {

// Answers the attribute request with a reply whose device name is `name`
// (`length` bytes, no NUL added) on the real volume's start.
struct ScriptedName {
  std::string name;
};

void AnswerWithName(HyxSimCall *call, void *context) {
  if (call->args[1] != IOCTLCMD_HXFS_FS_GET_ATTR) return HyxSim_RunModel(call);
  HyxSim_RunModel(call);  // the real start and name first
  auto *scripted = static_cast<ScriptedName *>(context);
  auto *reply = reinterpret_cast<uint8_t *>(call->args[2]);
  memset(reply + HXFS_ATTR_DEVICE_NAME, 0, HXFS_ATTR_REPLY_SIZE - HXFS_ATTR_DEVICE_NAME);
  memcpy(reply + HXFS_ATTR_DEVICE_NAME, scripted->name.data(), scripted->name.size());
}

}  // namespace

TEST_F(Hxfs, TakesTheDeviceNameOnlyAsOneFileNameInsideTheReply) {
  const std::string fullReply(HXFS_ATTR_REPLY_SIZE - HXFS_ATTR_DEVICE_NAME, 'a');
  struct Case {
    const char *what;
    std::string name;
    HYX_ReturnStatus status;
  };
  const Case cases[] = {
      {"the volume's own device", "hyx.5000c500a1b2c3d4:1", HYX_OK},
      {"a path that reaches the same device", "../disks/hyx.5000c500a1b2c3d4:1", HYX_BAD_PARAM},
      {"no terminator inside the reply", fullReply, HYX_BAD_PARAM},
      {"empty: the directory itself", "", HYX_BAD_PARAM},
      {"the directory", ".", HYX_BAD_PARAM},
      {"its parent", "..", HYX_BAD_PARAM},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.what);
    ScriptedName scripted{c.name};
    HyxSim_SetHandler(__NR_ioctl, AnswerWithName, &scripted);
    uint32_t isHxfs = 7;
    EXPECT_THAT(HyxuserHXFS_IsHXFSVolume(kFixed, &isHxfs), IsStatus(c.status));
    EXPECT_EQ(isHxfs, c.status == HYX_OK ? 1u : 7u);
    HyxSim_ClearHandlers();
  }
}

namespace {

int attrDescriptorFlags = -1;
void WatchAttrDescriptor(HyxSimCall *call, void *) {
  if (call->args[1] == IOCTLCMD_HXFS_FS_GET_ATTR)
    attrDescriptorFlags = fcntl(static_cast<int>(call->args[0]), F_GETFD);
  HyxSim_RunModel(call);
}

}  // namespace

TEST_F(Hxfs, OpensEveryDescriptorCloseOnExecAndTheDeviceForDirectReads) {
  HyxSim_SetHandler(__NR_ioctl, WatchAttrDescriptor, nullptr);
  hxfsOpens.clear();
  HxfsHostIter *iter = nullptr;
  ASSERT_THAT(HyxuserHXFS_ActiveHostIterBegin(kSized, &iter), IsOk());
  EXPECT_THAT(HyxuserHXFS_ActiveHostIterEnd(&iter), IsOk());
  ASSERT_NE(attrDescriptorFlags, -1);
  EXPECT_TRUE(attrDescriptorFlags & FD_CLOEXEC);
  ASSERT_EQ(hxfsOpens.size(), 2u) << "the volume's path, then its device";
  EXPECT_EQ(hxfsOpens[0].path, kSized);
  EXPECT_EQ(hxfsOpens[1].path, "/hxfs/devices/cdrom/hyx.cd0:1");
  for (const OpenSeen &seen : hxfsOpens) EXPECT_TRUE(seen.flags & O_CLOEXEC) << seen.path;
  EXPECT_TRUE(hxfsOpens[1].flags & O_DIRECT);
}

namespace {

// Answers the attribute request as the file system would for a volume on
// `device` that starts at `start`, writing the reply at the byte offsets the
// file system uses, and notes what the request carried at byte 1633.
struct LiteralVolume {
  uint64_t start;
  const char *device;
  uint64_t sent = 0;
  static void Answer(HyxSimCall *call, void *context) {
    if (call->args[1] != IOCTLCMD_HXFS_FS_GET_ATTR) return HyxSim_RunModel(call);
    auto *self = static_cast<LiteralVolume *>(context);
    auto *reply = reinterpret_cast<uint8_t *>(call->args[2]);
    memcpy(&self->sent, reply + 1633, sizeof self->sent);
    for (int i = 0; i < 8; ++i) reply[1470 + i] = static_cast<uint8_t>(self->start >> (8 * i));
    memset(reply + 1642, 0, 5770 - 1642);
    memcpy(reply + 1642, self->device, strlen(self->device));
    call->status = 0;
  }
};

// n little-endian bytes of value at data[offset].
void Put(std::vector<uint8_t> &data, size_t offset, uint64_t value, size_t n) {
  for (size_t i = 0; i < n; ++i) data[offset + i] = static_cast<uint8_t>(value >> (8 * i));
}

}  // namespace

// A device image written byte by byte at the offsets of the on-disk layout
// (not through the records the library and the simulator share): the
// descriptor at 2 MiB into the volume, the heartbeat region at 3 MiB.
TEST_F(Hxfs, ReadsAVolumeLaidOutByteByByte) {
  struct Case {
    uint32_t major;
    uint32_t slots;
    uint32_t slotSize;
  };
  // Both descriptors carry 1024 at 0x134: only major 24 and later read it.
  for (const Case &c : {Case{24, 1024, 1024}, Case{23, 2048, 512}}) {
    SCOPED_TRACE(c.major);
    const uint64_t start = 0x10000;
    std::vector<uint8_t> descriptor(512, 0);
    const uint8_t magic[] = {0x5e, 0xf1, 0xab, 0x2f};
    memcpy(descriptor.data(), magic, sizeof magic);
    Put(descriptor, 4, c.major, 4);
    Put(descriptor, 0x134, 1024, 4);

    std::vector<uint8_t> region(size_t{c.slots} * c.slotSize, 0);
    const uint8_t freeSlot[] = {0x01, 0xef, 0xcd, 0xab};
    for (uint32_t i = 0; i < c.slots; ++i) memcpy(&region[size_t{i} * c.slotSize], freeSlot, 4);
    const uint32_t held[] = {1, c.slots - 1};
    for (uint32_t slot : held) {
      size_t at = size_t{slot} * c.slotSize;
      Put(region, at + 0, 0x100 + slot, 4);  // state
      for (size_t i = 4; i < 10; ++i) region[at + i] = 0xa0;
      const uint8_t mac[] = {0x00, 0x50, 0x56, 0x12, 0x34, static_cast<uint8_t>(slot)};
      memcpy(&region[at + 10], mac, sizeof mac);
      Put(region, at + 20, 0x0102030405060700 + (slot & 0xff), 8);  // time stamp
      for (size_t i = 0; i < 16; ++i) region[at + 28 + i] = static_cast<uint8_t>(0x10 + i);
      region[at + 43] = static_cast<uint8_t>(slot);
    }
    const char *image = "/hxfs/devices/genscsi/literal:1";
    int fd = ::open(image, O_CREAT | O_TRUNC | O_WRONLY | O_CLOEXEC, 0600);
    ASSERT_GE(fd, 0);
    ASSERT_EQ(pwrite(fd, descriptor.data(), descriptor.size(), start + 0x200000), 512);
    ASSERT_EQ(pwrite(fd, region.data(), region.size(), start + 0x300000),
              static_cast<ssize_t>(region.size()));
    close(fd);

    LiteralVolume volume{start, "literal:1"};
    HyxSim_SetHandler(__NR_ioctl, LiteralVolume::Answer, &volume);
    uint32_t isHxfs = 7;
    EXPECT_THAT(HyxuserHXFS_IsHXFSVolume("/tmp", &isHxfs), IsOk());
    EXPECT_EQ(isHxfs, 1u);
    EXPECT_EQ(volume.sent, 32u);
    HxfsHostIter *iter = nullptr;
    ASSERT_THAT(HyxuserHXFS_ActiveHostIterBegin("/tmp", &iter), IsOk());
    for (uint32_t slot : held) {
      HxfsHostInfo *info = nullptr;
      ASSERT_THAT(HyxuserHXFS_ActiveHostIterNext(iter, &info), IsOk());
      uint32_t state = 0;
      uint64_t stamp = 0;
      Bytes16 uuid{};
      EXPECT_THAT(HyxuserHXFS_GetHostInfoState(info, &state), IsOk());
      EXPECT_EQ(state, 0x100 + slot);
      EXPECT_EQ(MacOfInfo(info), MacOf(0x12, 0x34, static_cast<uint8_t>(slot)));
      EXPECT_THAT(HyxuserHXFS_GetHostInfoTimeStamp(info, &stamp), IsOk());
      EXPECT_EQ(stamp, 0x0102030405060700u + (slot & 0xff));
      EXPECT_THAT(HyxuserHXFS_GetHostInfoUUID(info, uuid.data()), IsOk());
      Bytes16 expected = {0x10, 0x11, 0x12, 0x13, 0x14, 0x15, 0x16, 0x17,
                          0x18, 0x19, 0x1a, 0x1b, 0x1c, 0x1d, 0x1e, static_cast<uint8_t>(slot)};
      EXPECT_EQ(uuid, expected);
      HxfsHostInfo *found = nullptr;
      EXPECT_THAT(HyxuserHXFS_GetHostInfo(iter, expected.data(), &found), IsOk());
      EXPECT_EQ(found, info);
    }
    HxfsHostInfo *info = nullptr;
    EXPECT_THAT(HyxuserHXFS_ActiveHostIterNext(iter, &info), IsStatus(HYX_NOT_FOUND));
    EXPECT_THAT(HyxuserHXFS_ActiveHostIterEnd(&iter), IsOk());
    HyxSim_ClearHandlers();
    unlink(image);
  }
}

// A FIFO named as the volume's path: with no writer, a plain open would wait
// for ever.  The calls run in a child that a watchdog ends should they block.
TEST_F(Hxfs, AFifoIsRefusedWithoutBlocking) {
  const char *fifo = "/tmp/hxfs-fifo";
  unlink(fifo);
  ASSERT_EQ(mkfifo(fifo, 0600), 0);
  pid_t child = fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    alarm(30);  // a watchdog only: the calls either return or hang
    uint32_t isHxfs = 7;
    HxfsHostIter *iter = nullptr;
    bool refused = HyxuserHXFS_IsHXFSVolume(fifo, &isHxfs) == HYX_BAD_PARAM && isHxfs == 7 &&
                   HyxuserHXFS_ActiveHostIterBegin(fifo, &iter) == HYX_BAD_PARAM && iter == nullptr;
    _exit(refused ? 0 : 1);
  }
  int status = 0;
  ASSERT_EQ(waitpid(child, &status, 0), child);
  unlink(fifo);
  ASSERT_FALSE(WIFSIGNALED(status)) << "the call blocked on the FIFO (signal " << WTERMSIG(status) << ")";
  EXPECT_EQ(WEXITSTATUS(status), 0) << "the FIFO was not refused with HYX_BAD_PARAM";
}

namespace {

// Answers the attribute request with a result other than 0 or -1, which
// carries no errno.
void AnswerOne(HyxSimCall *call, void *) {
  if (call->args[1] != IOCTLCMD_HXFS_FS_GET_ATTR) return HyxSim_RunModel(call);
  call->status = 1;
}

}  // namespace

TEST_F(Hxfs, ARefusalWithoutAnErrnoIsNotReadFromAStaleOne) {
  HyxSim_SetHandler(__NR_ioctl, AnswerOne, nullptr);
  testing::internal::CaptureStderr();
  errno = EACCES;
  uint32_t isHxfs = 7;
  EXPECT_THAT(HyxuserHXFS_IsHXFSVolume(kFixed, &isHxfs), IsStatus(HYX_FAILURE));
  errno = EACCES;
  HxfsHostIter *iter = nullptr;
  EXPECT_THAT(HyxuserHXFS_ActiveHostIterBegin(kFixed, &iter), IsStatus(HYX_FAILURE));
  EXPECT_EQ(testing::internal::GetCapturedStderr(),
            std::string("IOCTLCMD_HXFS_FS_GET_ATTR failed on ") + kFixed + "\n" +
                "IOCTLCMD_HXFS_FS_GET_ATTR failed on " + kFixed + "\n");
  EXPECT_EQ(isHxfs, 7u);
  EXPECT_EQ(iter, nullptr);
}

TEST_F(Hxfs, VerifyLockGivesTheMillisecondsLeftOrTheFileSystemsAnswer) {
  // The host's uptime is 1,000,000 us; datastore1's lock time 2,500,000 us,
  // datastore2's 500,000 us; otherfs answers HYX_LOCK_NOT_FREE.
  struct Case {
    const char *volume;
    HYX_ReturnStatus status;
    int64_t remaining;
  };
  const Case cases[] = {
      {kFixed, HYX_OK, 1500},
      {kSized, HYX_TIMEOUT, -1},
      {kOtherFs, HYX_LOCK_NOT_FREE, -1},
      {"/tmp", HYX_FAILURE, -1},  // not the file system's descriptor
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.volume);
    int fd = ::open(c.volume, O_RDONLY | O_CLOEXEC);
    ASSERT_GE(fd, 0);
    int64_t remaining = -1;
    EXPECT_THAT(HyxuserHXFS_VerifyLock(fd, 0x5a, &remaining), IsStatus(c.status));
    EXPECT_EQ(remaining, c.remaining);
    EXPECT_THAT(HyxuserHXFS_VerifyLock(fd, 0x5a, nullptr), IsStatus(HYX_BAD_PARAM));
    close(fd);
  }
}

TEST_F(Hxfs, GetHostUuidIsTheUuidThisHostsHeartbeatsCarry) {
  Bytes16 uuid{};
  ASSERT_THAT(HyxuserHXFS_GetHostUUID(uuid.data()), IsOk());
  EXPECT_EQ(uuid, kSelf);
  EXPECT_THAT(HyxuserHXFS_GetHostUUID(nullptr), IsStatus(HYX_BAD_PARAM));
}

// Every allocation of a volume read fails in turn: the call says
// HYX_NO_MEMORY, hands nothing out and leaves no descriptor open; the
// aligned buffers (descriptor block, iterator, read buffer) say so.
TEST_F(Hxfs, EveryAllocationOfAVolumeReadMayFail) {
  auto begin = [] {
    HxfsHostIter *iter = nullptr;
    HYX_ReturnStatus status = HyxuserHXFS_ActiveHostIterBegin(kFixed, &iter);
    if (status == HYX_OK) {
      EXPECT_THAT(HyxuserHXFS_ActiveHostIterEnd(&iter), IsOk());
    }
    EXPECT_EQ(iter, nullptr);
    return status;
  };
  uint32_t isHxfs = 7;
  auto is = [&] { return HyxuserHXFS_IsHXFSVolume(kFixed, &isHxfs); };
  struct Case {
    const char *what;
    std::function<HYX_ReturnStatus()> call;
    uint64_t allocations;  // attribute reply, device name, then the aligned buffers
    int said;
  };
  const Case cases[] = {{"Begin", begin, 5, 3}, {"IsHXFSVolume", is, 3, 1}};
  for (const Case &c : cases) {
    SCOPED_TRACE(c.what);
    testing::internal::CaptureStderr();
    int open = OpenDescriptors();  // the capture's file among them
    uint64_t allocations = AllocFail_Sweep(c.call, [&](HYX_ReturnStatus status, uint64_t nth) {
      EXPECT_THAT(status, IsStatus(HYX_NO_MEMORY)) << "allocation " << nth;
      EXPECT_EQ(OpenDescriptors(), open) << "allocation " << nth;
    });
    std::string said = testing::internal::GetCapturedStderr();
    EXPECT_EQ(allocations, c.allocations);
    std::string expected;
    for (int i = 0; i < c.said; ++i) expected += "Falied to allocate memory\n";
    EXPECT_EQ(said, expected);
  }
  EXPECT_EQ(isHxfs, 1u);
}

TEST(HxfsInfo, ListsTheHostsOfAVolumeAsJson) {
  CommandOutcome run = RunCommand(std::string(HYX_HYXINFO " hxfs hosts --json ") + kFixed);
  ASSERT_EQ(run.status, 0) << run.output;
  nlohmann::json document = nlohmann::json::parse(run.output);
  EXPECT_EQ(document["volume"], kFixed);
  const nlohmann::json &hosts = document["hosts"];
  ASSERT_EQ(hosts.size(), 6u);
  EXPECT_EQ(hosts[0]["slot"], 1);
  EXPECT_EQ(hosts[0]["uuid"], "652f1a9c-3e7d-4b21-a80c-5e11d24490b7");
  EXPECT_EQ(hosts[0]["mac"], "00:50:56:aa:bb:01");
  EXPECT_EQ(hosts[0]["state"], 1);
  EXPECT_EQ(hosts[0]["timestamp"], 5);
  EXPECT_EQ(hosts[0]["thisHost"], true);
  EXPECT_EQ(hosts[1]["slot"], 3);
  EXPECT_EQ(hosts[1]["thisHost"], false);
  EXPECT_EQ(hosts[5]["slot"], 2047);
}

TEST(HxfsInfo, SaysWhetherAPathIsOnAnHxfsVolume) {
  struct Case {
    const char *path;
    int exit;
    const char *json;
  };
  const Case cases[] = {
      {kSized, 0, R"({"path":"/hxfs/volumes/datastore2","hxfs":true})"},
      {kOtherFs, 0, R"({"path":"/hxfs/volumes/otherfs","hxfs":false})"},
  };
  for (const Case &c : cases) {
    CommandOutcome run = RunCommand(std::string(HYX_HYXINFO " --json hxfs is ") + c.path);
    EXPECT_EQ(WEXITSTATUS(run.status), c.exit) << run.output;
    EXPECT_EQ(nlohmann::json::parse(run.output), nlohmann::json::parse(c.json));
  }
  CommandOutcome text = RunCommand(std::string(HYX_HYXINFO " hxfs is ") + kFixed);
  EXPECT_EQ(text.output, std::string(kFixed) + ": HXFS volume\n");
  CommandOutcome failed = RunCommand(HYX_HYXINFO " hxfs hosts /hxfs/volumes/slots0 2>&1");
  EXPECT_EQ(WEXITSTATUS(failed.status), 1);
  EXPECT_NE(failed.output.find("HYX_NOT_SUPPORTED"), std::string::npos) << failed.output;
}
