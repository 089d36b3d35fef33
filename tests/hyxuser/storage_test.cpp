// Storage adapters, devices and paths through the shipped library, on the
// example host (two adapters, active, standby and dead paths), on the host
// with an FC-NPIV port listed first, and off the Hyxkernel.
#include <dirent.h>
#include <gtest/gtest.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <iterator>
#include <string>
#include <vector>

#include "hyxsim/hyxsim.h"
#include "hyxsysinfo/kernelCall.h"
#include "hyxuser/hyxuser.h"
#include "status_matchers.h"
#include "test_host.h"

namespace {

constexpr uint64_t kHsiGet = KERNEL_CALL_HSI_GET, kHsiList = KERNEL_CALL_HSI_LIST,
                   kRescan = KERNEL_CALL_RESCAN_ADAPTER;
constexpr char kLocalDisk[] = "naa.614187704e5b3a002a3c5b2e1f0e8d41";
constexpr char kFcLun1[] = "naa.600a098038314d6a2b5d4f7a6c2f6b41";
constexpr char kFcLun2[] = "naa.600a098038314d6a2b5d4f7a6c2f6b42";
constexpr char kNextgenNvme[] = "eui.0025385b71b0a1e4";
constexpr char kNvme[] = "eui.0025385b71b0a1f5";

bool OnPlainLinux() { return OnProfile("plain-linux"); }
bool OnEdges() { return OnProfile("edges"); }

int OpenDescriptors() {
  int n = 0;
  DIR *dir = opendir("/proc/self/fd");
  while (readdir(dir) != nullptr) n++;
  closedir(dir);
  return n;
}

struct Uids {
  char *at[16] = {};
  ~Uids() {
    for (char *uid : at) free(uid);
  }
  std::vector<std::string> List(uint32_t count) const { return std::vector<std::string>(at, at + count); }
};

class Storage : public ::testing::Test {
 protected:
  void SetUp() override {
    descriptors_ = OpenDescriptors();
    if (OnPlainLinux()) GTEST_SKIP();
  }
  void TearDown() override {
    HyxSim_ClearHandlers();
    EXPECT_EQ(OpenDescriptors(), descriptors_) << "a descriptor was left open";
  }
  int descriptors_ = 0;
};

TEST_F(Storage, AnAdaptersPciLocationAndTheAdapterAtALocation) {
  uint32_t bus = 9, slot = 9, function = 9;
  ASSERT_THAT(
      HyxuserStorage_GetBusSlotFunctionForHyxkernelAdapterIdentifier("vmhba2", &bus, &slot, &function),
      IsStatus(HYX_OK));
  EXPECT_EQ(bus, 59u);
  EXPECT_EQ(slot, 0u);
  EXPECT_EQ(function, 0u);
  char name[32] = "untouched";
  ASSERT_THAT(HyxuserStorage_MapBusSlotFuncToHyxkernelAdapterIdentifier(59, 0, 0, name, sizeof name),
              IsStatus(HYX_OK));
  EXPECT_STREQ(name, "vmhba2");
  ASSERT_THAT(HyxuserStorage_MapBusSlotFuncToHyxkernelAdapterIdentifier(2, 0, 0, name, sizeof name),
              IsStatus(HYX_OK));
  EXPECT_STREQ(name, "vmhba0");
  // Nothing there: OK, and the buffer keeps what it held.
  strcpy(name, "untouched");
  EXPECT_THAT(HyxuserStorage_MapBusSlotFuncToHyxkernelAdapterIdentifier(7, 1, 2, name, sizeof name),
              IsStatus(HYX_OK));
  EXPECT_STREQ(name, "untouched");
  EXPECT_THAT(
      HyxuserStorage_GetBusSlotFunctionForHyxkernelAdapterIdentifier("vmhba9", &bus, &slot, &function),
      IsStatus(HYX_NOT_FOUND));
}

TEST_F(Storage, TheAdapterNameMustFitWithItsTerminator) {
  // "vmhba2" has 6 characters.
  struct Case {
    int size;
    HYX_ReturnStatus status;
    const char *name;
  } cases[] = {{6, HYX_NAME_TOO_LONG, "untouched"},
               {7, HYX_OK, "vmhba2"},
               {0, HYX_NAME_TOO_LONG, "untouched"},
               {-1, HYX_NAME_TOO_LONG, "untouched"}};
  for (const Case &c : cases) {
    char name[32] = "untouched";
    EXPECT_THAT(HyxuserStorage_MapBusSlotFuncToHyxkernelAdapterIdentifier(59, 0, 0, name, c.size),
                IsStatus(c.status))
        << c.size;
    EXPECT_STREQ(name, c.name) << c.size;
  }
}

TEST_F(Storage, AnFcNpivPortHasNoPciLocationAndHidesNoAdapterBehindIt) {
  if (!OnEdges()) GTEST_SKIP();
  uint32_t bus = 9, slot = 9, function = 9;
  EXPECT_THAT(
      HyxuserStorage_GetBusSlotFunctionForHyxkernelAdapterIdentifier("vmhba32", &bus, &slot, &function),
      IsStatus(HYX_FAILURE));
  EXPECT_EQ(bus + slot + function, 27u);
  char name[32] = "";
  ASSERT_THAT(HyxuserStorage_MapBusSlotFuncToHyxkernelAdapterIdentifier(59, 0, 0, name, sizeof name),
              IsStatus(HYX_OK));
  EXPECT_STREQ(name, "vmhba2");
}

TEST_F(Storage, ActiveDevicesSkipStandbyAndDeadPathsAndKeepDuplicates) {
  Uids uids;
  uint32_t count = 99;
  ASSERT_THAT(HyxuserStorage_GetActiveDeviceUIDsFromHyxkernelAdapterIdentifier("vmhba2", uids.at, 10, &count),
              IsStatus(HYX_OK));
  // T1:L1 is standby and T2:L4 dead; LUN 2 is reached over two active paths.
  EXPECT_EQ(uids.List(count), (std::vector<std::string>{kFcLun1, kFcLun2, kFcLun2, kNextgenNvme}));
  EXPECT_EQ(uids.at[4], nullptr);

  Uids one;
  ASSERT_THAT(HyxuserStorage_GetActiveDeviceUIDsFromHyxkernelAdapterIdentifier("vmhba2", one.at, 1, &count),
              IsStatus(HYX_OK));
  EXPECT_EQ(one.List(count), std::vector<std::string>{kFcLun1});
  EXPECT_EQ(one.at[1], nullptr);

  Uids none;
  ASSERT_THAT(HyxuserStorage_GetActiveDeviceUIDsFromHyxkernelAdapterIdentifier("vmhba", none.at, 10, &count),
              IsStatus(HYX_OK));
  EXPECT_EQ(count, 0u);
  EXPECT_THAT(HyxuserStorage_GetActiveDeviceUIDsFromHyxkernelAdapterIdentifier("vmhba2", none.at, 0, &count),
              IsStatus(HYX_BAD_PARAM));
  EXPECT_THAT(HyxuserStorage_GetActiveDeviceUIDsFromHyxkernelAdapterIdentifier("vmhba2", nullptr, 10, &count),
              IsStatus(HYX_BAD_PARAM));
  EXPECT_THAT(
      HyxuserStorage_GetActiveDeviceUIDsFromHyxkernelAdapterIdentifier("vmhba2", none.at, 10, nullptr),
      IsStatus(HYX_BAD_PARAM));
}

// Fails the nth get from now with `status`; the others go to the host.
struct FailNthGet {
  int left;
  HYX_ReturnStatus status = HYX_NOT_FOUND;
  static void Handle(HyxSimCall *call, void *context) {
    auto *self = static_cast<FailNthGet *>(context);
    if (--self->left == 0) {
      call->status = self->status;
      call->error = static_cast<uint64_t>(-2);
      return;
    }
    HyxSim_RunModel(call);
  }
};

// Fails every list call with HYX_FAILURE.
void FailList(HyxSimCall *call, void *) {
  call->status = HYX_FAILURE;
  call->error = 0;
}

TEST_F(Storage, AnAdapterTheKernelCannotDescribeEndsTheSearch) {
  // vmhba0 is listed first: its failed read ends the search for vmhba2's
  // location instead of reading as "not there".
  for (HYX_ReturnStatus failure : {HYX_FAILURE, HYX_NO_MEMORY, HYX_NOT_FOUND}) {
    FailNthGet fail{1, failure};
    HyxSim_SetHandler(kHsiGet, FailNthGet::Handle, &fail);
    char name[32] = "untouched";
    EXPECT_THAT(HyxuserStorage_MapBusSlotFuncToHyxkernelAdapterIdentifier(59, 0, 0, name, sizeof name),
                IsStatus(failure));
    HyxSim_ClearHandlers();
    EXPECT_STREQ(name, "untouched");
  }
}

// Path order on the example host, with the gets each costs the active-UID
// walk for vmhba2: vmhba0's path (info: get 1), T0:L1 on (info, state, uid:
// 2-4), T1:L1 standby (info, state: 5-6), T0:L2 on (7-9), T1:L2 on (10-12),
// T2:L3 on (13-15), T2:L4 dead (16-17).
TEST_F(Storage, AFailedInfoOrStateReadEndsTheCallAFailedUidReadSkipsThePath) {
  struct Case {
    int nth;
    HYX_ReturnStatus failure;
    HYX_ReturnStatus status;
    std::vector<std::string> uids;
  } cases[] = {
      {1, HYX_NOT_FOUND, HYX_NOT_FOUND, {}},                          // vmhba0's info
      {3, HYX_NOT_FOUND, HYX_NOT_FOUND, {}},                          // T0:L1's state
      {7, HYX_NOT_FOUND, HYX_NOT_FOUND, {}},                          // T0:L2's info, one UID held
      {8, HYX_NO_MEMORY, HYX_NO_MEMORY, {}},                          // T0:L2's state
      {4, HYX_NOT_FOUND, HYX_OK, {kFcLun2, kFcLun2, kNextgenNvme}},   // T0:L1's uid
      {4, HYX_NO_MEMORY, HYX_OK, {kFcLun2, kFcLun2, kNextgenNvme}},   // the same, out of memory
      {12, HYX_NO_MEMORY, HYX_OK, {kFcLun1, kFcLun2, kNextgenNvme}},  // T1:L2's uid
      {15, HYX_FAILURE, HYX_OK, {kFcLun1, kFcLun2, kFcLun2}},         // T2:L3's uid
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(testing::Message() << "get " << c.nth << " fails with " << std::hex << c.failure);
    FailNthGet fail{c.nth, c.failure};
    HyxSim_SetHandler(kHsiGet, FailNthGet::Handle, &fail);
    Uids uids;
    uint32_t count = 99;
    EXPECT_THAT(
        HyxuserStorage_GetActiveDeviceUIDsFromHyxkernelAdapterIdentifier("vmhba2", uids.at, 10, &count),
        IsStatus(c.status));
    HyxSim_ClearHandlers();
    EXPECT_EQ(count, c.uids.size());
    EXPECT_EQ(uids.List(static_cast<uint32_t>(c.uids.size())), c.uids);
    for (size_t i = c.uids.size(); i < std::size(uids.at); i++) EXPECT_EQ(uids.at[i], nullptr) << i;
  }
}

TEST_F(Storage, AFailedPathListLeavesTheCountsUntouched) {
  HyxSim_SetHandler(kHsiList, FailList, nullptr);
  Uids uids;
  uint32_t count = 99;
  EXPECT_THAT(HyxuserStorage_GetActiveDeviceUIDsFromHyxkernelAdapterIdentifier("vmhba2", uids.at, 10, &count),
              IsStatus(HYX_FAILURE));
  EXPECT_EQ(count, 99u);
  EXPECT_EQ(uids.at[0], nullptr);
}

TEST_F(Storage, AFailedUidReadSkipsThePathToTheDevice) {
  // kFcLun1's paths: gets are uid (vmhba0's path: 1), uid + info (T0:L1:
  // 2-3), uid + info (T1:L1: 4-5); failing a uid read drops that path only.
  struct Case {
    int nth;
    HYX_ReturnStatus failure;
    uint32_t target;
  } cases[] = {{2, HYX_NO_MEMORY, 1}, {4, HYX_NO_MEMORY, 0}, {2, HYX_NOT_FOUND, 1}};
  for (const Case &c : cases) {
    SCOPED_TRACE(c.nth);
    FailNthGet fail{c.nth, c.failure};
    HyxSim_SetHandler(kHsiGet, FailNthGet::Handle, &fail);
    char *adapters[4] = {};
    uint32_t value = 99;
    uint32_t *p[4] = {&value, &value, &value, &value};
    uint32_t target = 99;
    uint32_t *t[4] = {&target, &target, &target, &target};
    int count = 99;
    EXPECT_THAT(
        HyxuserStorage_GetAllChannelsTargetsLunsForHyxkernelDeviceUID(kFcLun1, adapters, p, t, p, 4, &count),
        IsStatus(HYX_OK));
    HyxSim_ClearHandlers();
    EXPECT_EQ(count, 1);
    EXPECT_STREQ(adapters[0], "vmhba2");
    EXPECT_EQ(adapters[1], nullptr);
    EXPECT_EQ(target, c.target);
    free(adapters[0]);
  }
}

TEST_F(Storage, ChannelsTargetsAndLunsOfEveryPathToADevice) {
  char *adapters[4] = {};
  uint32_t channels[4] = {}, targets[4] = {}, luns[4] = {};
  uint32_t *c[4] = {&channels[0], &channels[1], &channels[2], &channels[3]};
  uint32_t *t[4] = {&targets[0], &targets[1], &targets[2], &targets[3]};
  uint32_t *l[4] = {&luns[0], &luns[1], &luns[2], &luns[3]};
  int count = 99;
  // Standby paths count: they are paths to the device.
  ASSERT_THAT(
      HyxuserStorage_GetAllChannelsTargetsLunsForHyxkernelDeviceUID(kFcLun1, adapters, c, t, l, 4, &count),
      IsStatus(HYX_OK));
  ASSERT_EQ(count, 2);
  EXPECT_STREQ(adapters[0], "vmhba2");
  EXPECT_STREQ(adapters[1], "vmhba2");
  EXPECT_EQ(channels[1], 0u);
  EXPECT_EQ(targets[0], 0u);
  EXPECT_EQ(targets[1], 1u);
  EXPECT_EQ(luns[0], 1u);
  EXPECT_EQ(luns[1], 1u);
  free(adapters[0]);
  free(adapters[1]);
  adapters[0] = adapters[1] = nullptr;

  // One entry for two paths: the second is passed over.
  ASSERT_THAT(
      HyxuserStorage_GetAllChannelsTargetsLunsForHyxkernelDeviceUID(kFcLun2, adapters, c, t, l, 1, &count),
      IsStatus(HYX_OK));
  EXPECT_EQ(count, 1);
  EXPECT_EQ(adapters[1], nullptr);
  free(adapters[0]);
  adapters[0] = nullptr;

  // maxEntries 0, and a device without paths: nothing, count 0.
  ASSERT_THAT(HyxuserStorage_GetAllChannelsTargetsLunsForHyxkernelDeviceUID(kFcLun2, nullptr, nullptr,
                                                                            nullptr, nullptr, 0, &count),
              IsStatus(HYX_OK));
  EXPECT_EQ(count, 0);
  ASSERT_THAT(
      HyxuserStorage_GetAllChannelsTargetsLunsForHyxkernelDeviceUID("naa.none", adapters, c, t, l, 4, &count),
      IsStatus(HYX_OK));
  EXPECT_EQ(count, 0);
  EXPECT_EQ(adapters[0], nullptr);
}

TEST_F(Storage, AFailedPathInfoReadLeavesTheIndexOfTheLastEntry) {
  // Path order: vmhba0's, then vmhba2 T0:L1, T1:L1.  Gets: uid (0), uid +
  // info (L1 T0), uid + info (L1 T1): fail the last info.
  FailNthGet fail{5};
  HyxSim_SetHandler(kHsiGet, FailNthGet::Handle, &fail);
  char *adapters[4] = {};
  uint32_t value[4];
  uint32_t *p[4] = {&value[0], &value[1], &value[2], &value[3]};
  int count = 99;
  EXPECT_THAT(
      HyxuserStorage_GetAllChannelsTargetsLunsForHyxkernelDeviceUID(kFcLun1, adapters, p, p, p, 4, &count),
      IsStatus(HYX_NOT_FOUND));
  HyxSim_ClearHandlers();
  EXPECT_EQ(count, 0);
  EXPECT_STREQ(adapters[0], "vmhba2");
  EXPECT_EQ(adapters[1], nullptr);
  free(adapters[0]);
}

TEST_F(Storage, InquiryPage83) {
  uint8_t page[255];
  memset(page, 0xee, sizeof page);
  uint8_t *buffer = page;
  ASSERT_THAT(HyxuserStorage_GetVPD83ForHyxkernelDeviceUID(kFcLun1, &buffer, 24), IsStatus(HYX_OK));
  const uint8_t expected[24] = {0x00, 0x83, 0x00, 0x14, 0x01, 0x03, 0x00, 0x10, 0x60, 0x0a, 0x09, 0x80,
                                0x38, 0x31, 0x4d, 0x6a, 0x2b, 0x5d, 0x4f, 0x7a, 0x6c, 0x2f, 0x6b, 0x41};
  EXPECT_EQ(memcmp(page, expected, sizeof expected), 0);
  EXPECT_EQ(page[24], 0xee);
  ASSERT_THAT(HyxuserStorage_GetVPD83ForHyxkernelDeviceUID(kFcLun1, &buffer, 255), IsStatus(HYX_OK));
  EXPECT_EQ(page[254], 0u);
  // An unknown device: OK and nothing written.
  memset(page, 0xee, sizeof page);
  ASSERT_THAT(HyxuserStorage_GetVPD83ForHyxkernelDeviceUID("naa.none", &buffer, 24), IsStatus(HYX_OK));
  EXPECT_EQ(page[0], 0xee);
}

TEST_F(Storage, InquiryPageLengthsOutsideThePageAreRefused) {
  uint8_t page[512];
  memset(page, 0xee, sizeof page);
  uint8_t *buffer = page;
  HyxSim_ResetCounts();
  for (int length : {-1, 256, 4096, -2147483647 - 1}) {
    EXPECT_THAT(HyxuserStorage_GetVPD83ForHyxkernelDeviceUID(kFcLun1, &buffer, length),
                IsStatus(HYX_BAD_PARAM))
        << length;
  }
  EXPECT_EQ(HyxSim_CallCount(kHsiList) + HyxSim_CallCount(kHsiGet), 0u);
  for (uint8_t byte : page) ASSERT_EQ(byte, 0xee);
  EXPECT_THAT(HyxuserStorage_GetVPD83ForHyxkernelDeviceUID(kFcLun1, &buffer, 0), IsStatus(HYX_OK));
  EXPECT_EQ(page[0], 0xee);
}

TEST_F(Storage, NextGenerationNvme) {
  struct Case {
    const char *uid;
    uint8_t nextgen;
  } cases[] = {{kNextgenNvme, 1}, {kNvme, 0}, {kLocalDisk, 0}, {kFcLun2, 0}};
  for (const Case &c : cases) {
    uint8_t result = 7;
    EXPECT_THAT(HyxuserStorage_IsNextgenNvmeHyxkernelDeviceUID(c.uid, &result), IsStatus(HYX_OK)) << c.uid;
    EXPECT_EQ(result, c.nextgen) << c.uid;
  }
  uint8_t result = 7;
  EXPECT_THAT(HyxuserStorage_IsNextgenNvmeHyxkernelDeviceUID("naa.none", &result), IsStatus(HYX_NOT_FOUND));
  EXPECT_EQ(result, 7u);
}

TEST_F(Storage, RescanNamesUpTo31Characters) {
  std::string name31(31, 'a'), name32(32, 'a');
  HyxSim_ResetCounts();
  EXPECT_THAT(HyxuserStorage_RescanDeletePathsOnHyxkernelAdapter(name32.c_str()), IsStatus(HYX_BAD_PARAM));
  EXPECT_THAT(HyxuserStorage_RescanDeletePathsOnHyxkernelAdapter(""), IsStatus(HYX_BAD_PARAM));
  EXPECT_THAT(HyxuserStorage_RescanDeletePathsOnHyxkernelAdapter(nullptr), IsStatus(HYX_BAD_PARAM));
  EXPECT_EQ(HyxSim_CallCount(kRescan), 0u);
  // 31 characters reach the kernel, which knows no such adapter.
  errno = 0;
  EXPECT_THAT(HyxuserStorage_RescanDeletePathsOnHyxkernelAdapter(name31.c_str()), IsStatus(HYX_NOT_FOUND));
  EXPECT_EQ(errno, ENOENT);
  EXPECT_EQ(HyxSim_CallCount(kRescan), 1u);
  uint64_t before = HyxSim_RescanCount("vmhba2");
  EXPECT_THAT(HyxuserStorage_RescanDeletePathsOnHyxkernelAdapter("vmhba2"), IsStatus(HYX_OK));
  EXPECT_THAT(HyxuserCompat_RescanHyxkernelHba("vmhba2"), IsStatus(HYX_OK));
  EXPECT_EQ(HyxSim_RescanCount("vmhba2"), before + 2);
  EXPECT_THAT(HyxuserCompat_RescanHyxkernelHba(name32.c_str()), IsStatus(HYX_BAD_PARAM));
}

TEST(StorageOffTheHyxkernel, EveryCallButTheRescanAnswersTheGateAtOnce) {
  if (!OnPlainLinux()) GTEST_SKIP();
  HyxSim_ResetCounts();
  uint32_t bus, slot, function, count = 5;
  char name[32];
  char *uids[2] = {};
  uint8_t page[8], *buffer = page, flag = 7;
  int entries = 5;
  const HYX_ReturnStatus gated = HYX_CHECKSUM_MISMATCH;
  EXPECT_THAT(
      HyxuserStorage_GetBusSlotFunctionForHyxkernelAdapterIdentifier("vmhba2", &bus, &slot, &function),
      IsStatus(gated));
  EXPECT_THAT(HyxuserStorage_MapBusSlotFuncToHyxkernelAdapterIdentifier(59, 0, 0, name, sizeof name),
              IsStatus(gated));
  EXPECT_THAT(HyxuserStorage_GetActiveDeviceUIDsFromHyxkernelAdapterIdentifier("vmhba2", uids, 2, &count),
              IsStatus(gated));
  EXPECT_THAT(HyxuserStorage_GetAllChannelsTargetsLunsForHyxkernelDeviceUID(kFcLun1, nullptr, nullptr,
                                                                            nullptr, nullptr, 0, &entries),
              IsStatus(gated));
  EXPECT_THAT(HyxuserStorage_GetVPD83ForHyxkernelDeviceUID(kFcLun1, &buffer, 8), IsStatus(gated));
  EXPECT_THAT(HyxuserStorage_IsNextgenNvmeHyxkernelDeviceUID(kFcLun1, &flag), IsStatus(gated));
  EXPECT_EQ(count, 5u);
  EXPECT_EQ(entries, 5);
  EXPECT_EQ(flag, 7u);
  EXPECT_EQ(HyxSim_CallCount(kHsiGet) + HyxSim_CallCount(kHsiList), 0u);
  // The rescan is not gated: Linux has no such call.
  EXPECT_THAT(HyxuserStorage_RescanDeletePathsOnHyxkernelAdapter("vmhba2"), testing::Not(IsStatus(HYX_OK)));
  EXPECT_EQ(HyxSim_CallCount(kRescan), 1u);
}

}  // namespace
