// Every allocation the UEFI, NIC and interface exports make is failed in
// turn: the call says HYX_NO_MEMORY, its list outputs are empty, and it
// keeps nothing.
#include <gtest/gtest.h>
#include <malloc.h>

#include <cstdlib>
#include <cstring>
#include <functional>
#include <string>

#include "alloc_fail.h"
#include "hyxuser/hyxuser.h"

namespace {

struct Path {
  const char *what;
  std::function<HYX_ReturnStatus()> call;
  std::function<void()> checkFailed;  // outputs after a failed allocation
  std::function<void()> prepare;      // before each call, outside the count
};

constexpr HYX_ReturnStatus kNoMemory = HYX_NO_MEMORY;

size_t HeapInUse() { return mallinfo2().uordblks; }

TEST(HostinfoAllocation, EveryFailedAllocationIsReportedAndNothingIsKept) {
  const char *name = "BootOrder-8be4df61-93ca-11d2-aa0d-00e098032b8c";
  char **names = nullptr;
  uint32_t count = 0, attributes = 0;
  uint64_t length = 0;
  void *data = nullptr;
  HyxuserPnicInfo nics[3];
  HyxuserTcpipInterface interfaces[2];
  const Path paths[] = {
      {"uefi list",
       [&] {
         HYX_ReturnStatus status = HyxuserUefi_GetVariableList(&names, &count);
         if (status == HYX_OK) {
           for (uint32_t i = 0; i < count; i++) free(names[i]);
           free(names);
         }
         return status;
       },
       [&] {
         EXPECT_EQ(names, nullptr);
         EXPECT_EQ(count, 0u);
       },
       nullptr},
      {"uefi get",
       [&] {
         data = nullptr;
         HYX_ReturnStatus status = HyxuserUefi_GetVariable(name, &attributes, &length, &data);
         free(data);
         return status;
       },
       nullptr, nullptr},
      {"uefi set", [&] { return HyxuserUefi_SetVariable("HyxAlloc-0", 7, 5, "bytes"); }, nullptr, nullptr},
      {"uefi remove", [&] { return HyxuserUefi_RemoveVariable("HyxAlloc-0"); }, nullptr,
       [&] { HyxuserUefi_SetVariable("HyxAlloc-0", 7, 5, "bytes"); }},
      {"nics", [&] { return HyxuserNet_GetPnics(nics, 3, &count); },
       [&] { EXPECT_TRUE(count == 3 || count == 99) << count; },  // the list's own failure: untouched
       nullptr},
      {"interfaces", [&] { return HyxuserTcpip_GetInterfaces(interfaces, 2, &count); },
       [&] { EXPECT_EQ(count, 0u); }, nullptr},
  };
  for (const Path &path : paths) {
    // The first calls pay for the simulated host's one-time set-up.
    if (path.prepare) path.prepare();
    HYX_ReturnStatus expected = path.call();
    if (path.prepare) path.prepare();
    path.call();
    if (path.prepare) path.prepare();
    uint64_t before = AllocFail_Count();
    ASSERT_EQ(path.call(), expected) << path.what;
    uint64_t allocations = AllocFail_Count() - before;
    // What the simulated host keeps for a successful call is its own.
    if (path.prepare) path.prepare();
    size_t heap = HeapInUse();
    EXPECT_GT(allocations, 0u) << path.what;
    for (uint64_t nth = 1; nth <= allocations; nth++) {
      names = reinterpret_cast<char **>(&count);
      count = 99;
      if (path.prepare) path.prepare();
      AllocFail_Arm(nth);
      HYX_ReturnStatus status = path.call();
      AllocFail_Arm(0);
      EXPECT_EQ(status, kNoMemory) << path.what << ", allocation " << nth;
      if (path.checkFailed) path.checkFailed();
    }
    EXPECT_EQ(HeapInUse(), heap) << path.what;
  }
}

}  // namespace
