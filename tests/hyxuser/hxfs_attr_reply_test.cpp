// The file system's attribute reply, written byte by byte at the offsets the
// file system defines rather than through the library's own layout: the
// request carries 32 at offset 1633, the reply the volume's start as an
// unaligned little-endian u64 at offset 1470 and the device's file name,
// NUL-terminated, at offset 1642 of 5770 bytes.  Every other byte of the
// reply is noise.  The reply below sends the library asking about
// datastore1 to datastore2's device and start, so the hosts it lists show
// which offsets it read.
#include <gtest/gtest.h>
#include <sys/syscall.h>

#include <array>
#include <cstring>
#include <vector>

#include "hyxsim/hyxsim.h"
#include "hyxsysinfo/kernelCall.h"
#include "hyxuser/hyxuser.h"
#include "status_matchers.h"

namespace {

struct Fixture {
  std::vector<uint64_t> requestWords;  // the u64 at offset 1633 of each request
};

void AnswerByTheBytes(HyxSimCall *call, void *context) {
  if (call->args[1] != IOCTLCMD_HXFS_FS_GET_ATTR) return HyxSim_RunModel(call);
  auto *fixture = static_cast<Fixture *>(context);
  auto *reply = reinterpret_cast<uint8_t *>(call->args[2]);
  uint64_t word = 0;
  for (int i = 7; i >= 0; --i) word = word << 8 | reply[1633 + i];
  fixture->requestWords.push_back(word);
  HyxSim_RunModel(call);  // the model's answer status for a path inside a volume
  memset(reply, 0xee, 5770);
  const uint64_t start = 0x4000000;
  for (int i = 0; i < 8; ++i) reply[1470 + i] = static_cast<uint8_t>(start >> (8 * i));
  static const char kDevice[] = "hyx.cd0:1";  // in /hxfs/devices/cdrom
  memcpy(reply + 1642, kDevice, sizeof kDevice);
}

TEST(HxfsAttributeReply, ReadAtTheOffsetsTheFileSystemWrites) {
  Fixture fixture;
  HyxSim_SetHandler(__NR_ioctl, AnswerByTheBytes, &fixture);
  HxfsHostIter *iter = nullptr;
  ASSERT_THAT(HyxuserHXFS_ActiveHostIterBegin("/hxfs/volumes/datastore1", &iter), IsOk());
  std::vector<std::array<uint8_t, 6>> macs;
  HxfsHostInfo *info = nullptr;
  while (HyxuserHXFS_ActiveHostIterNext(iter, &info) == HYX_OK) {
    std::array<uint8_t, 6> mac{};
    EXPECT_THAT(HyxuserHXFS_GetMacAddr(info, mac.data()), IsOk());
    macs.push_back(mac);
  }
  EXPECT_THAT(HyxuserHXFS_ActiveHostIterEnd(&iter), IsOk());
  uint32_t isHxfs = 0;
  EXPECT_THAT(HyxuserHXFS_IsHXFSVolume("/hxfs/volumes/datastore1", &isHxfs), IsOk());
  EXPECT_EQ(isHxfs, 1u);
  HyxSim_ClearHandlers();

  // datastore2's two hosts, from 1024 slots of 4096 bytes at 0x4000000.
  const std::vector<std::array<uint8_t, 6>> expected = {{0x00, 0x50, 0x56, 0xcc, 0x00, 0x00},
                                                        {0x00, 0x50, 0x56, 0xcc, 0x03, 0xff}};
  EXPECT_EQ(macs, expected);
  EXPECT_EQ(fixture.requestWords, (std::vector<uint64_t>{32, 32}));
}

}  // namespace
