// Reading and listing the simulated host's nodes through the call layer, as
// the exports will: with the kernel's own numbering, translation makes the
// same calls work although the load-time check reports the mismatch.
#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "hyxsim/hyxsim.h"
#include "hyxsysinfo/hsiCallsUser.h"
#include "hyxsysinfo/hsiLoad.h"
#include "hyxsysinfo/hsiTables.h"
#include "test_host.h"

namespace {

bool Renumbered() { return OnProfile("renumbered"); }

TEST(HsiEndToEnd, TheLoadTimeCheckSaysWhetherTheNumberingsAgree) {
  EXPECT_EQ(hsiLoadStatus, Renumbered() ? static_cast<HYX_ReturnStatus>(HYX_CHECKSUM_MISMATCH)
                                        : static_cast<HYX_ReturnStatus>(HYX_OK));
}

TEST(HsiEndToEnd, AGetReadsTheHostsValue) {
  std::vector<char> version(hsiTables.nodes[HSI_NODE_system_version].getSize);
  ASSERT_EQ(Hsi_Get(HSI_NODE_system_version, nullptr, version.data(), version.size()),
            static_cast<HYX_ReturnStatus>(HYX_OK));
  EXPECT_STREQ(version.data(), "Hyxkernel");  // the product name leads the record
}

TEST(HsiEndToEnd, AListNamesTheHostsNicsAndEachReadsBack) {
  HsiParamList nics = nullptr;
  ASSERT_EQ(Hsi_GetList(HSI_NODE_net_pNics, nullptr, 0, &nics), static_cast<HYX_ReturnStatus>(HYX_OK));
  ASSERT_GE(HsiParamList_Count(nics), 1u);
  std::vector<char> properties(hsiTables.nodes[HSI_NODE_net_pNics_properties].getSize);
  for (uint32_t i = 0; i < HsiParamList_Count(nics); i++) {
    const char *name = nullptr;
    ASSERT_EQ(HsiParamList_GetString(nics, i, &name), static_cast<HYX_ReturnStatus>(HYX_OK));
    HsiParamList one = HsiParamList_Alloc(HSI_PARAMLIST_VALUES, 1);
    HsiParamList_AddString(one, name);
    EXPECT_EQ(Hsi_Get(HSI_NODE_net_pNics_properties, one, properties.data(), properties.size()),
              static_cast<HYX_ReturnStatus>(HYX_OK))
        << name;
    HsiParamList_Free(one);
  }
  HsiParamList_Free(nics);
}

TEST(HsiEndToEnd, AMissingInstanceIsNotFound) {
  HsiParamList one = HsiParamList_Alloc(HSI_PARAMLIST_VALUES, 1);
  HsiParamList_AddString(one, "vmnic99");
  std::vector<char> properties(hsiTables.nodes[HSI_NODE_net_pNics_properties].getSize);
  EXPECT_EQ(Hsi_Get(HSI_NODE_net_pNics_properties, one, properties.data(), properties.size()),
            static_cast<HYX_ReturnStatus>(HYX_NOT_FOUND));
  HsiParamList_Free(one);
}

TEST(HsiEndToEnd, AListOfAModuleNodeTakesTheModuleFromItsFirstValue) {
  HsiParamList params = HsiParamList_Alloc(HSI_PARAMLIST_VALUES, 1);
  HsiParamList_AddString(params, "nfs41client");
  HsiParamList mounts = nullptr;
  ASSERT_EQ(Hsi_GetList(5002, params, 0, &mounts),
            static_cast<HYX_ReturnStatus>(HYX_OK));  // the module's mounts
  EXPECT_EQ(HsiParamList_Count(mounts), 2u);
  EXPECT_TRUE(HsiParamList_FindString(mounts, "/vmfs/volumes/backup"));
  EXPECT_TRUE(HsiParamList_FindString(mounts, "/vmfs/volumes/iso"));
  HsiParamList_Free(mounts);

  HsiParamList unknown = HsiParamList_Alloc(HSI_PARAMLIST_VALUES, 1);
  HsiParamList_AddString(unknown, "nosuchmodule");
  mounts = reinterpret_cast<HsiParamList>(1);
  EXPECT_EQ(Hsi_GetList(5002, unknown, 0, &mounts), static_cast<HYX_ReturnStatus>(HYX_NOT_FOUND));
  EXPECT_EQ(mounts, nullptr);
  HsiParamList_Free(unknown);
  HsiParamList_Free(params);
}

}  // namespace
