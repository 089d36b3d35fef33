// Each allocation the storage and VM exports make, failed in turn: the call
// reports HYX_NO_MEMORY, hands nothing out and leaves no descriptor open
// (the asan preset checks for leaks).  Through the static archive, whose
// mallocs the injector sees.
#include <dirent.h>
#include <gtest/gtest.h>

#include <cstdlib>
#include <functional>

#include "alloc_fail.h"
#include "hyxuser/hyxuser.h"
#include "status_matchers.h"

namespace {

int OpenDescriptors() {
  int n = 0;
  DIR *dir = opendir("/proc/self/fd");
  while (readdir(dir) != nullptr) n++;
  closedir(dir);
  return n;
}

struct Case {
  const char *what;
  std::function<HYX_ReturnStatus()> call;
  std::function<bool()> nothingHandedOut;
};

char *uids[8];
uint32_t uidCount;
char *adapters[4];
uint32_t values[4];
uint32_t *slots[4] = {&values[0], &values[1], &values[2], &values[3]};
int entryCount;

void Release() {
  for (char *&uid : uids) free(uid), uid = nullptr;
  for (char *&name : adapters) free(name), name = nullptr;
}

TEST(HostinfoAllocation, EveryFailedAllocationIsReportedAndNothingIsHandedOut) {
  uint32_t bus, slot, function;
  char name[32];
  uint8_t page[32], *buffer = page, flag;
  char uuid[128], path[1984];
  const Case cases[] = {
      {"bus/slot/function",
       [&] {
         return HyxuserStorage_GetBusSlotFunctionForHyxkernelAdapterIdentifier("vmhba2", &bus, &slot,
                                                                               &function);
       },
       [] { return true; }},
      {"adapter at a PCI location",
       [&] { return HyxuserStorage_MapBusSlotFuncToHyxkernelAdapterIdentifier(59, 0, 0, name, sizeof name); },
       [] { return true; }},
      {"active device uids",
       [] {
         return HyxuserStorage_GetActiveDeviceUIDsFromHyxkernelAdapterIdentifier("vmhba2", uids, 8,
                                                                                 &uidCount);
       },
       [] { return uidCount == 0 && uids[0] == nullptr; }},
      {"channels, targets and luns",
       [] {
         return HyxuserStorage_GetAllChannelsTargetsLunsForHyxkernelDeviceUID(
             "naa.600a098038314d6a2b5d4f7a6c2f6b42", adapters, slots, slots, slots, 4, &entryCount);
       },
       // Entries filled before the failure are the caller's, up to the index.
       [] { return entryCount >= -1 && (entryCount == -1 || adapters[entryCount] != nullptr); }},
      {"page 0x83",
       [&] {
         return HyxuserStorage_GetVPD83ForHyxkernelDeviceUID("naa.600a098038314d6a2b5d4f7a6c2f6b41", &buffer,
                                                             8);
       },
       [] { return true; }},
      {"next-generation NVMe",
       [&] { return HyxuserStorage_IsNextgenNvmeHyxkernelDeviceUID("eui.0025385b71b0a1e4", &flag); },
       [] { return true; }},
      {"vm mapping", [&] { return HyxuserVM_MapWorldIdToUUIDAndPath_0_24(526441, uuid, path); },
       [] { return true; }},
  };
  for (const Case &c : cases) {
    int descriptors = OpenDescriptors();
    bool completed = false;
    uint64_t nth = 1;
    for (; nth < 200 && !completed; nth++) {
      uint64_t before = AllocFail_Count();
      AllocFail_Arm(nth);
      HYX_ReturnStatus status = c.call();
      bool failed = AllocFail_Count() - before >= nth;
      AllocFail_Arm(0);
      if (!failed) {
        EXPECT_THAT(status, IsStatus(HYX_OK)) << c.what;
        completed = true;
      } else {
        EXPECT_THAT(status, IsStatus(HYX_NO_MEMORY)) << c.what << ", allocation " << nth;
        EXPECT_TRUE(c.nothingHandedOut()) << c.what << ", allocation " << nth;
      }
      Release();
    }
    EXPECT_TRUE(completed) << c.what;
    EXPECT_GT(nth, 2u) << c.what << " made no allocation the injector saw";
    EXPECT_EQ(OpenDescriptors(), descriptors) << c.what;
  }
}

}  // namespace
