// Each allocation the get and list paths make is failed in turn: the call
// reports HYX_NO_MEMORY and keeps nothing (the asan preset checks for leaks).
#include <gtest/gtest.h>

#include <functional>
#include <vector>

#include "alloc_fail.h"
#include "hyxsysinfo/hsiCallsUser.h"
#include "hyxsysinfo/hsiTables.h"

namespace {

struct Path {
  const char *what;
  bool allocates;
  std::function<HYX_ReturnStatus()> call;
};

HsiParamList NicList(bool packed) {
  // Without a data area the name spills and the list is no longer packed.
  HsiParamList list = packed ? HsiParamList_AllocSized(HSI_PARAMLIST_VALUES, 1, 64, 0)
                             : HsiParamList_Alloc(HSI_PARAMLIST_VALUES, 1);
  HsiParamList_AddString(list, "vmnic0");
  return list;
}

TEST(HsiAllocation, EveryFailedAllocationIsReportedAsNoMemory) {
  static std::vector<char> buffer(4096);
  HsiParamList packed = NicList(true), unpacked = NicList(false);
  HsiParamList module = HsiParamList_Alloc(HSI_PARAMLIST_VALUES, 2);
  HsiParamList_AddString(module, "nfs41client");
  HsiParamList_AddString(module, "x");
  ASSERT_TRUE(HsiParamList_IsPacked(packed));
  ASSERT_FALSE(HsiParamList_IsPacked(unpacked));
  const uint32_t propertiesSize = hsiTables.nodes[HSI_NODE_net_pNics_properties].getSize;
  const Path paths[] = {
      {"get, no list", true, [] { return Hsi_Get(HSI_NODE_system_version, nullptr, buffer.data(), 368); }},
      {"get, packed list", false,
       [&] { return Hsi_Get(HSI_NODE_net_pNics_properties, packed, buffer.data(), propertiesSize); }},
      {"get, unpacked list", true,
       [&] { return Hsi_Get(HSI_NODE_net_pNics_properties, unpacked, buffer.data(), propertiesSize); }},
      {"module node get", true, [&] { return Hsi_Get(5001, module, buffer.data(), 8); }},
      {"list", true,
       [] {
         HsiParamList out = nullptr;
         HYX_ReturnStatus status = Hsi_GetList(HSI_NODE_net_pNics, nullptr, 1, &out);
         HsiParamList_Free(out);
         return status;
       }},
  };
  for (const Path &path : paths) {
    uint64_t before = AllocFail_Count();
    HYX_ReturnStatus expected = path.call();
    uint64_t allocations = AllocFail_Count() - before;
    EXPECT_EQ(allocations > 0, path.allocates) << path.what;
    for (uint64_t nth = 1; nth <= allocations; nth++) {
      AllocFail_Arm(nth);
      HYX_ReturnStatus status = path.call();
      AllocFail_Arm(0);
      EXPECT_EQ(status, static_cast<HYX_ReturnStatus>(HYX_NO_MEMORY)) << path.what << ", allocation " << nth;
    }
    EXPECT_EQ(path.call(), expected) << path.what;
  }
  HsiParamList_Free(packed);
  HsiParamList_Free(unpacked);
  HsiParamList_Free(module);
}

TEST(HsiAllocation, AGetWithAPackedListAllocatesNothing) {
  HsiParamList packed = NicList(true);
  std::vector<char> buffer(hsiTables.nodes[HSI_NODE_net_pNics_properties].getSize);
  uint64_t before = AllocFail_Count();
  EXPECT_EQ(Hsi_Get(HSI_NODE_net_pNics_properties, packed, buffer.data(), buffer.size()),
            static_cast<HYX_ReturnStatus>(HYX_OK));
  EXPECT_EQ(AllocFail_Count() - before, 0u);
  HsiParamList_Free(packed);
}

}  // namespace
