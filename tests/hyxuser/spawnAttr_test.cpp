// Spawn attribute records and file-action lists, through the shipped
// library.  The kernel reads both records by address, so the tests look at
// their bytes, not only at what the getters say.
#include <fcntl.h>
#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>

#include "alloc_fail.h"
#include "bytes.h"
#include "hyxuser/hyxuser.h"
#include "status_matchers.h"

namespace {

struct Attr {
  Attr() { EXPECT_THAT(HyxuserCompat_SpawnAttrInit(&attr), IsOk()); }
  ~Attr() { EXPECT_THAT(HyxuserCompat_SpawnAttrDestroy(attr), IsOk()); }
  HyxuserSpawnAttr *attr = nullptr;
};

TEST(SpawnAttr, InitGivesTheDocumentedDefaults) {
  Attr a;
  ASSERT_NE(a.attr, nullptr);
  uint32_t flags = 1, uid = 0, gid = 0, domain = 1;
  pid_t pgid = 1;
  int32_t dirFd = 0;
  uint64_t mem = 1;
  EXPECT_THAT(HyxuserCompat_SpawnAttrGetFlags(a.attr, &flags), IsOk());
  EXPECT_THAT(HyxuserCompat_SpawnAttrGetPGID(a.attr, &pgid), IsOk());
  EXPECT_THAT(HyxuserCompat_SpawnAttrGetWorkingDirFd(a.attr, &dirFd), IsOk());
  EXPECT_THAT(HyxuserCompat_SpawnAttrGetUID(a.attr, &uid), IsOk());
  EXPECT_THAT(HyxuserCompat_SpawnAttrGetGID(a.attr, &gid), IsOk());
  EXPECT_THAT(HyxuserCompat_SpawnAttrGetSecurityDomain(a.attr, &domain), IsOk());
  EXPECT_THAT(HyxuserCompat_SpawnAttrGetMemMB(a.attr, &mem), IsOk());
  EXPECT_EQ(flags, 0u);
  EXPECT_EQ(pgid, 0);
  EXPECT_EQ(dirFd, -1);
  EXPECT_EQ(uid, 0xFFFFFFFFu);
  EXPECT_EQ(gid, 0xFFFFFFFFu);
  EXPECT_EQ(domain, 0u);
  EXPECT_EQ(mem, 0u);
  sigset_t set;
  for (auto get : {HyxuserCompat_SpawnAttrGetSigMask, HyxuserCompat_SpawnAttrGetSigDefault}) {
    memset(&set, 0xA5, sizeof set);
    EXPECT_THAT(get(a.attr, &set), IsOk());
    EXPECT_TRUE(sigisemptyset(&set));
  }
  char *group = reinterpret_cast<char *>(&set);
  EXPECT_THAT(HyxuserCompat_SpawnAttrGetRP(a.attr, &group), IsStatus(HYX_FAILURE));
  EXPECT_EQ(group, reinterpret_cast<char *>(&set));  // untouched

  // The bytes the kernel reads: 64 of them, reserved ones zero.
  const unsigned char expected[64] = {0,    0,    0,    0,    0,    0,    0,    0,    0xff, 0xff,
                                      0xff, 0xff, 0xff, 0xff, 0xff, 0xff, 0xff, 0xff, 0xff, 0xff};
  EXPECT_EQ(memcmp(a.attr, expected, sizeof expected), 0);
}

TEST(SpawnAttr, SettersLandAtTheirOffsets) {
  Attr a;
  EXPECT_THAT(HyxuserCompat_SpawnAttrSetFlags(a.attr, 0x80000301), IsOk());
  EXPECT_THAT(HyxuserCompat_SpawnAttrSetPGID(a.attr, -7), IsOk());  // stored unchecked
  EXPECT_THAT(HyxuserCompat_SpawnAttrSetWorkingDirFd(a.attr, 42), IsOk());
  EXPECT_THAT(HyxuserCompat_SpawnAttrSetUID(a.attr, 1000), IsOk());
  EXPECT_THAT(HyxuserCompat_SpawnAttrSetGID(a.attr, 1001), IsOk());
  EXPECT_THAT(HyxuserCompat_SpawnAttrSetSecurityDomain(a.attr, 0xDEADBEEF), IsOk());
  EXPECT_THAT(HyxuserCompat_SpawnAttrSetMemMB(a.attr, 0x123456789ull), IsOk());
  EXPECT_THAT(HyxuserCompat_SpawnAttrSetRP(a.attr, "pool/a"), IsOk());
  EXPECT_EQ(At<uint32_t>(a.attr, 0), 0x80000301u);
  EXPECT_EQ(At<int32_t>(a.attr, 4), -7);
  EXPECT_EQ(At<int32_t>(a.attr, 8), 42);
  EXPECT_EQ(At<uint32_t>(a.attr, 12), 1000u);
  EXPECT_EQ(At<uint32_t>(a.attr, 16), 1001u);
  EXPECT_EQ(At<uint32_t>(a.attr, 20), 0u);
  EXPECT_EQ(At<uint32_t>(a.attr, 24), 0xDEADBEEFu);
  EXPECT_EQ(At<uint32_t>(a.attr, 28), 0u);
  EXPECT_STREQ(At<const char *>(a.attr, 48), "pool/a");
  EXPECT_EQ(At<uint64_t>(a.attr, 56), 0x123456789ull);

  pid_t pgid = 0;
  uint64_t mem = 0;
  EXPECT_THAT(HyxuserCompat_SpawnAttrGetPGID(a.attr, &pgid), IsOk());
  EXPECT_THAT(HyxuserCompat_SpawnAttrGetMemMB(a.attr, &mem), IsOk());
  EXPECT_EQ(pgid, -7);
  EXPECT_EQ(mem, 0x123456789ull);
}

TEST(SpawnAttr, MissingPointersAreBadParameters) {
  Attr a;
  sigset_t set;
  sigemptyset(&set);
  char *group = nullptr;
  EXPECT_THAT(HyxuserCompat_SpawnAttrInit(nullptr), IsStatus(HYX_BAD_PARAM));
  EXPECT_THAT(HyxuserCompat_SpawnAttrDestroy(nullptr), IsOk());
  EXPECT_THAT(HyxuserCompat_SpawnAttrSetFlags(nullptr, 1), IsStatus(HYX_BAD_PARAM));
  EXPECT_THAT(HyxuserCompat_SpawnAttrGetFlags(a.attr, nullptr), IsStatus(HYX_BAD_PARAM));
  EXPECT_THAT(HyxuserCompat_SpawnAttrGetUID(nullptr, nullptr), IsStatus(HYX_BAD_PARAM));
  EXPECT_THAT(HyxuserCompat_SpawnAttrSetMemMB(nullptr, 1), IsStatus(HYX_BAD_PARAM));
  EXPECT_THAT(HyxuserCompat_SpawnAttrSetSigMask(a.attr, nullptr), IsStatus(HYX_BAD_PARAM));
  EXPECT_THAT(HyxuserCompat_SpawnAttrSetSigDefault(nullptr, &set), IsStatus(HYX_BAD_PARAM));
  EXPECT_THAT(HyxuserCompat_SpawnAttrGetSigMask(nullptr, &set), IsStatus(HYX_BAD_PARAM));
  EXPECT_THAT(HyxuserCompat_SpawnAttrSetRP(a.attr, nullptr), IsStatus(HYX_BAD_PARAM));
  EXPECT_THAT(HyxuserCompat_SpawnAttrSetRP(nullptr, "g"), IsStatus(HYX_BAD_PARAM));
  EXPECT_THAT(HyxuserCompat_SpawnAttrGetRP(a.attr, nullptr), IsStatus(HYX_BAD_PARAM));
  EXPECT_THAT(HyxuserCompat_SpawnAttrGetRP(nullptr, &group), IsStatus(HYX_BAD_PARAM));
  // Nothing changed on the way.
  const unsigned char expected[24] = {0,    0,    0,    0,    0,    0,    0,    0,    0xff, 0xff,
                                      0xff, 0xff, 0xff, 0xff, 0xff, 0xff, 0xff, 0xff, 0xff, 0xff};
  EXPECT_EQ(memcmp(a.attr, expected, sizeof expected), 0);
  EXPECT_EQ(At<const char *>(a.attr, 48), nullptr);
}

TEST(SpawnAttr, TheResourceGroupIsSetOnceAndHandedOutAsFreshCopies) {
  Attr a;
  EXPECT_THAT(HyxuserCompat_SpawnAttrSetRP(a.attr, "pool/a"), IsOk());
  EXPECT_THAT(HyxuserCompat_SpawnAttrSetRP(a.attr, "pool/b"), IsStatus(HYX_FAILURE));
  char *first = nullptr, *second = nullptr;
  ASSERT_THAT(HyxuserCompat_SpawnAttrGetRP(a.attr, &first), IsOk());
  ASSERT_THAT(HyxuserCompat_SpawnAttrGetRP(a.attr, &second), IsOk());
  EXPECT_STREQ(first, "pool/a");
  EXPECT_STREQ(second, "pool/a");
  EXPECT_NE(first, second);
  EXPECT_NE(first, At<const char *>(a.attr, 48));
  free(first);
  free(second);
  // Setting the group does not set the flag that makes it count.
  uint32_t flags = 1;
  EXPECT_THAT(HyxuserCompat_SpawnAttrGetFlags(a.attr, &flags), IsOk());
  EXPECT_EQ(flags, 0u);
}

TEST(SpawnAttr, SignalSetsKeepSignalsOneToSixtyFourOnly) {
  Attr a;
  sigset_t in, out;
  sigemptyset(&in);
  sigaddset(&in, 2);
  sigaddset(&in, 64);
  EXPECT_THAT(HyxuserCompat_SpawnAttrSetSigMask(a.attr, &in), IsOk());
  memset(&out, 0xFF, sizeof out);
  EXPECT_THAT(HyxuserCompat_SpawnAttrGetSigMask(a.attr, &out), IsOk());
  for (int sig = 1; sig <= 64; ++sig) EXPECT_EQ(sigismember(&out, sig), sig == 2 || sig == 64) << sig;
  const unsigned char *bytes = reinterpret_cast<const unsigned char *>(&out);
  for (size_t i = 8; i < sizeof out; ++i) ASSERT_EQ(bytes[i], 0) << "byte " << i;
  EXPECT_EQ(At<uint64_t>(a.attr, 40), (uint64_t{1} << 1) | (uint64_t{1} << 63));
  EXPECT_EQ(At<uint64_t>(a.attr, 32), 0u);  // the other set is its own

  // Bits beyond the first 64 of the caller's set are dropped.
  memset(&in, 0xFF, sizeof in);
  EXPECT_THAT(HyxuserCompat_SpawnAttrSetSigDefault(a.attr, &in), IsOk());
  EXPECT_EQ(At<uint64_t>(a.attr, 32), ~uint64_t{0});
  memset(&out, 0xFF, sizeof out);
  EXPECT_THAT(HyxuserCompat_SpawnAttrGetSigDefault(a.attr, &out), IsOk());
  for (size_t i = 0; i < sizeof out; ++i) ASSERT_EQ(bytes[i], i < 8 ? 0xFF : 0) << "byte " << i;
}

struct Actions {
  explicit Actions(int32_t capacity) {
    EXPECT_THAT(HyxuserCompat_SpawnFileActionsInit(&list, capacity), IsOk());
  }
  ~Actions() { EXPECT_THAT(HyxuserCompat_SpawnFileActionsDestroy(list), IsOk()); }
  HyxuserSpawnFileActions *list = nullptr;
};

TEST(SpawnFileActions, CapacityIsOneTo8192) {
  for (int32_t capacity : {0, -1, 8193, INT32_MIN}) {
    HyxuserSpawnFileActions *list = reinterpret_cast<HyxuserSpawnFileActions *>(&capacity);
    EXPECT_THAT(HyxuserCompat_SpawnFileActionsInit(&list, capacity), IsStatus(HYX_BAD_PARAM)) << capacity;
    EXPECT_EQ(list, reinterpret_cast<HyxuserSpawnFileActions *>(&capacity)) << "written on failure";
  }
  EXPECT_THAT(HyxuserCompat_SpawnFileActionsInit(nullptr, 1), IsStatus(HYX_BAD_PARAM));
  Actions big(8192);
  ASSERT_NE(big.list, nullptr);
  EXPECT_EQ(At<uint32_t>(big.list, 0), 8192u);
  EXPECT_EQ(At<uint32_t>(big.list, 4), 0u);
  for (int i = 0; i < 8192; ++i) ASSERT_THAT(HyxuserCompat_SpawnFileActionsAddDup2(big.list, 1, i), IsOk());
  EXPECT_THAT(HyxuserCompat_SpawnFileActionsAddDup2(big.list, 1, 0), IsStatus(HYX_FAILURE));
  EXPECT_THAT(HyxuserCompat_SpawnFileActionsDestroy(nullptr), IsOk());
}

TEST(SpawnFileActions, AFullListRefusesAndCountsNothing) {
  for (bool openFirst : {true, false}) {
    Actions a(1);
    if (openFirst)
      EXPECT_THAT(HyxuserCompat_SpawnFileActionsAddOpen(a.list, 3, "/dev/null", O_RDONLY, 0), IsOk());
    else
      EXPECT_THAT(HyxuserCompat_SpawnFileActionsAddDup2(a.list, 1, 2), IsOk());
    EXPECT_THAT(HyxuserCompat_SpawnFileActionsAddOpen(a.list, 4, "/x", O_RDONLY, 0), IsStatus(HYX_FAILURE));
    EXPECT_THAT(HyxuserCompat_SpawnFileActionsAddDup2(a.list, 1, 2), IsStatus(HYX_FAILURE));
    EXPECT_EQ(a.list->count, 1u);
  }
}

TEST(SpawnFileActions, EntriesAreLaidOutAsTheKernelReadsThem) {
  Actions a(4);
  char path[] = "/tmp/out";
  EXPECT_THAT(HyxuserCompat_SpawnFileActionsAddDup2(a.list, 5, 1), IsOk());
  EXPECT_THAT(HyxuserCompat_SpawnFileActionsAddOpen(a.list, 0, path, O_WRONLY | O_CREAT, 0640), IsOk());
  path[1] = 'X';  // the list keeps its own copy
  EXPECT_EQ(At<uint32_t>(a.list, 4), 2u);
  const HyxuserSpawnFileAction *entries = At<const HyxuserSpawnFileAction *>(a.list, 8);
  const unsigned char dup2Bytes[24] = {2, 0, 0, 0, 1, 0, 0, 0, 5, 0, 0, 0};
  EXPECT_EQ(memcmp(&entries[0], dup2Bytes, sizeof dup2Bytes), 0);
  EXPECT_EQ(At<uint32_t>(&entries[1], 0), 1u);
  EXPECT_EQ(At<int32_t>(&entries[1], 4), 0);
  EXPECT_STREQ(At<const char *>(&entries[1], 8), "/tmp/out");
  EXPECT_EQ(At<uint32_t>(&entries[1], 16), static_cast<uint32_t>(O_WRONLY | O_CREAT));
  EXPECT_EQ(At<uint32_t>(&entries[1], 20), 0640u);
  const unsigned char empty[24] = {};
  EXPECT_EQ(memcmp(&entries[2], empty, sizeof empty), 0);
}

TEST(SpawnFileActions, NegativeDescriptorsAndMissingPointersAreRefused) {
  Actions a(8);
  EXPECT_THAT(HyxuserCompat_SpawnFileActionsAddOpen(a.list, -1, "/x", 0, 0), IsStatus(HYX_BAD_PARAM));
  EXPECT_THAT(HyxuserCompat_SpawnFileActionsAddOpen(a.list, 1, nullptr, 0, 0), IsStatus(HYX_BAD_PARAM));
  EXPECT_THAT(HyxuserCompat_SpawnFileActionsAddOpen(nullptr, 1, "/x", 0, 0), IsStatus(HYX_BAD_PARAM));
  EXPECT_THAT(HyxuserCompat_SpawnFileActionsAddDup2(a.list, -1, 1), IsStatus(HYX_BAD_PARAM));
  EXPECT_THAT(HyxuserCompat_SpawnFileActionsAddDup2(a.list, 1, -1), IsStatus(HYX_BAD_PARAM));
  EXPECT_THAT(HyxuserCompat_SpawnFileActionsAddDup2(nullptr, 1, 1), IsStatus(HYX_BAD_PARAM));
  EXPECT_EQ(a.list->count, 0u);
  EXPECT_THAT(HyxuserCompat_SpawnFileActionsAddOpen(a.list, 0, "/x", 0, 0), IsOk());
  EXPECT_THAT(HyxuserCompat_SpawnFileActionsAddDup2(a.list, 0, 0), IsOk());
  EXPECT_EQ(a.list->count, 2u);
}

// ---- allocation failures ---------------------------------------------------
// Each allocation the records make is failed in turn: the call says
// HYX_NO_MEMORY, leaves its output as documented and keeps nothing (the
// asan preset checks the last).

TEST(SpawnAllocation, AFailedInitStoresNullOrNothing) {
  HyxuserSpawnAttr *attr = nullptr;
  uint64_t allocations = AllocFail_Sweep(
      [&] {
        attr = reinterpret_cast<HyxuserSpawnAttr *>(&attr);
        HYX_ReturnStatus status = HyxuserCompat_SpawnAttrInit(&attr);
        if (status == HYX_OK) HyxuserCompat_SpawnAttrDestroy(attr);
        return status;
      },
      [&](HYX_ReturnStatus status, uint64_t) {
        EXPECT_THAT(status, IsStatus(HYX_NO_MEMORY));
        EXPECT_EQ(attr, nullptr);
      });
  EXPECT_EQ(allocations, 1u);

  HyxuserSpawnFileActions *list = nullptr;
  allocations = AllocFail_Sweep(
      [&] {
        list = reinterpret_cast<HyxuserSpawnFileActions *>(&list);
        HYX_ReturnStatus status = HyxuserCompat_SpawnFileActionsInit(&list, 16);
        if (status == HYX_OK) HyxuserCompat_SpawnFileActionsDestroy(list);
        return status;
      },
      [&](HYX_ReturnStatus status, uint64_t nth) {
        EXPECT_THAT(status, IsStatus(HYX_NO_MEMORY)) << "allocation " << nth;
        EXPECT_EQ(list, reinterpret_cast<HyxuserSpawnFileActions *>(&list)) << "allocation " << nth;
      });
  EXPECT_EQ(allocations, 2u);
}

TEST(SpawnAllocation, AFailedCopyLeavesTheRecordAndTheListAsTheyWere) {
  Attr a;
  AllocFail_Arm(1);
  HYX_ReturnStatus status = HyxuserCompat_SpawnAttrSetRP(a.attr, "pool/a");
  AllocFail_Arm(0);
  EXPECT_THAT(status, IsStatus(HYX_NO_MEMORY));
  EXPECT_EQ(At<const char *>(a.attr, 48), nullptr);
  ASSERT_THAT(HyxuserCompat_SpawnAttrSetRP(a.attr, "pool/a"), IsOk()) << "still unset";

  char *group = reinterpret_cast<char *>(&group);
  AllocFail_Arm(1);
  status = HyxuserCompat_SpawnAttrGetRP(a.attr, &group);
  AllocFail_Arm(0);
  EXPECT_THAT(status, IsStatus(HYX_NO_MEMORY));
  EXPECT_EQ(group, nullptr);

  Actions list(2);
  AllocFail_Arm(1);
  status = HyxuserCompat_SpawnFileActionsAddOpen(list.list, 3, "/dev/null", O_RDONLY, 0);
  AllocFail_Arm(0);
  EXPECT_THAT(status, IsStatus(HYX_NO_MEMORY));
  EXPECT_EQ(list.list->count, 0u);
  EXPECT_EQ(At<uint32_t>(&list.list->entries[0], 0), 0u) << "the entry stays empty";
  EXPECT_THAT(HyxuserCompat_SpawnFileActionsAddOpen(list.list, 3, "/dev/null", O_RDONLY, 0), IsOk());
  EXPECT_EQ(list.list->count, 1u);
}

// The setters and getters that copy nothing allocate nothing.
TEST(SpawnAllocation, OnlyTheCopiesAllocate) {
  Attr a;
  Actions list(2);
  sigset_t set;
  sigemptyset(&set);
  uint32_t flags;
  uint64_t before = AllocFail_Count();
  HyxuserCompat_SpawnAttrSetFlags(a.attr, 1);
  HyxuserCompat_SpawnAttrGetFlags(a.attr, &flags);
  HyxuserCompat_SpawnAttrSetSigMask(a.attr, &set);
  HyxuserCompat_SpawnAttrGetSigDefault(a.attr, &set);
  HyxuserCompat_SpawnFileActionsAddDup2(list.list, 1, 2);
  EXPECT_EQ(AllocFail_Count() - before, 0u);
}

}  // namespace
