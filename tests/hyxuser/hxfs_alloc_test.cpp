// Every allocation of a volume read fails in turn: the call succeeds or
// says HYX_NO_MEMORY, hands nothing out and leaves no descriptor open.
#include <dirent.h>
#include <gtest/gtest.h>

#include "alloc_fail.h"
#include "hyxuser/hyxuser.h"

namespace {

constexpr char kFixed[] = "/hxfs/volumes/datastore1";

int OpenDescriptors() {
  int count = 0;
  DIR *dir = opendir("/proc/self/fd");
  while (dirent *entry = readdir(dir)) count += entry->d_name[0] != '.';
  closedir(dir);
  return count - 1;
}

TEST(HxfsAlloc, EveryAllocationOfAVolumeReadMayFail) {
  int before = OpenDescriptors();
  bool begun = false, asked = false;
  int refused = 0;
  for (uint64_t nth = 1; nth < 64 && !(begun && asked); ++nth) {
    SCOPED_TRACE(nth);
    HxfsHostIter *iter = nullptr;
    testing::internal::CaptureStderr();
    AllocFail_Arm(nth);
    HYX_ReturnStatus status = HyxuserHXFS_ActiveHostIterBegin(kFixed, &iter);
    AllocFail_Arm(0);
    std::string said = testing::internal::GetCapturedStderr();
    if (status == HYX_OK) {
      begun = true;
      EXPECT_EQ(HyxuserHXFS_ActiveHostIterEnd(&iter), HYX_OK);
    } else {
      EXPECT_EQ(status, HYX_NO_MEMORY);
      EXPECT_EQ(iter, nullptr);
      ++refused;
      // The aligned buffers say so; the attribute reply and name do not.
      if (!said.empty()) {
        EXPECT_EQ(said, "Falied to allocate memory\n");
      }
    }
    uint32_t isHxfs = 7;
    testing::internal::CaptureStderr();
    AllocFail_Arm(nth);
    status = HyxuserHXFS_IsHXFSVolume(kFixed, &isHxfs);
    AllocFail_Arm(0);
    testing::internal::GetCapturedStderr();
    if (status == HYX_OK) {
      asked = true;
      EXPECT_EQ(isHxfs, 1u);
    } else {
      EXPECT_EQ(status, HYX_NO_MEMORY);
      EXPECT_EQ(isHxfs, 7u);
    }
    EXPECT_EQ(OpenDescriptors(), before);
  }
  EXPECT_TRUE(begun && asked);
  // The attribute reply, the device name, the descriptor block, the
  // iterator and the read buffer.
  EXPECT_EQ(refused, 5);
}

}  // namespace
