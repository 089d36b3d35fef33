// Every export that can report HYX_NO_MEMORY, with each of its allocations
// failed in turn (n = 1, 2, ... until the call gets through): each run says
// HYX_NO_MEMORY or succeeds, hands nothing out when it fails, and keeps no
// memory and no descriptor.  Leaks are counted by the injector here and
// found by LeakSanitizer in the asan preset.  Runs on the HXFS host, which is
// the example host with volumes mounted.
#include <dirent.h>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <iterator>
#include <set>
#include <string>

#include "alloc_fail.h"
#include "descriptors.h"
#include "hyxuser/hyxuser.h"
#include "status_matchers.h"

namespace {

constexpr char kVolume[] = "/hxfs/volumes/datastore1";

struct Operation {
  const char *what;
  // Makes the call and frees whatever a successful one handed out.
  std::function<HYX_ReturnStatus()> call;
  // After a failed run: what the call documents for its outputs.
  std::function<bool()> nothingHandedOut;
  // Before every run, outside the count.
  std::function<void()> prepare;
};

// Outputs the cases share, reset before each run.
char *names[8];
char **nameList;
uint32_t count;
char *adapters[4];
uint32_t slotValues[4];
uint32_t *slots[4] = {&slotValues[0], &slotValues[1], &slotValues[2], &slotValues[3]};
int entryCount;
HyxuserSpawnAttr *attr;
HyxuserSpawnFileActions *actions;

void Release() {
  for (char *&name : names) free(name), name = nullptr;
  for (char *&name : adapters) free(name), name = nullptr;
}

TEST(AllocationSweep, EveryExportSaysNoMemoryOrSucceedsAndKeepsNothing) {
  uint32_t bus, slot, function, attributes, isHxfs;
  uint64_t length, uptime;
  void *data;
  char name[32], uuid[128], path[1984];
  uint8_t page[32], *pageRef = page, flag, hostUuid[16];
  int64_t remaining;
  HyxuserSystemVersion version;
  HyxuserUniqueSystemVersion uniqueVersion;
  HyxuserPnicInfo nics[3];
  HyxuserTcpipInterface interfaces[2];
  HyxuserNvdDriverCapabilities capabilities;
  auto always = [] { return true; };
  int volumeFd = open(kVolume, O_RDONLY | O_CLOEXEC);
  ASSERT_GE(volumeFd, 0);
  HyxuserSpawnAttr *grouped = nullptr;
  ASSERT_THAT(HyxuserCompat_SpawnAttrInit(&grouped), IsOk());
  ASSERT_THAT(HyxuserCompat_SpawnAttrSetRP(grouped, "host/user/pool"), IsOk());

  const Operation operations[] = {
      // Version, uptime and the host's UUID: one node read each.
      {"system version", [&] { return HyxuserVersion_GetSystemVersion(&version); }, always, nullptr},
      {"unique system version", [&] { return HyxuserVersion_GetUniqueSystemVersion(&uniqueVersion); }, always,
       nullptr},
      {"uptime", [&] { return HyxuserUptime_GetUptime(&uptime); }, always, nullptr},
      {"host uuid", [&] { return HyxuserHXFS_GetHostUUID(hostUuid); }, always, nullptr},
      // UEFI variables.
      {"uefi list",
       [] {
         HYX_ReturnStatus status = HyxuserUefi_GetVariableList(&nameList, &count);
         if (status == HYX_OK) {
           for (uint32_t i = 0; i < count; i++) free(nameList[i]);
           free(nameList);
         }
         return status;
       },
       [] { return nameList == nullptr && count == 0; },
       [] {
         nameList = reinterpret_cast<char **>(&count);
         count = 99;
       }},
      {"uefi get",
       [&] {
         data = nullptr;
         HYX_ReturnStatus status = HyxuserUefi_GetVariable("BootOrder-8be4df61-93ca-11d2-aa0d-00e098032b8c",
                                                           &attributes, &length, &data);
         free(data);
         return status;
       },
       always, nullptr},
      {"uefi set", [] { return HyxuserUefi_SetVariable("HyxAlloc-0", 7, 5, "bytes"); }, always, nullptr},
      {"uefi remove", [] { return HyxuserUefi_RemoveVariable("HyxAlloc-0"); }, always,
       [] { HyxuserUefi_SetVariable("HyxAlloc-0", 7, 5, "bytes"); }},
      // NICs and interfaces.
      {"nics", [&] { return HyxuserNet_GetPnics(nics, 3, &count); },
       [] { return count == 3 || count == 99; },  // the list's own failure leaves it untouched
       [] { count = 99; }},
      {"interfaces", [&] { return HyxuserTcpip_GetInterfaces(interfaces, 2, &count); },
       [] { return count == 0; }, [] { count = 99; }},
      // Storage.
      {"bus/slot/function",
       [&] {
         return HyxuserStorage_GetBusSlotFunctionForHyxkernelAdapterIdentifier("vmhba2", &bus, &slot,
                                                                               &function);
       },
       always, nullptr},
      {"adapter at a PCI location",
       [&] { return HyxuserStorage_MapBusSlotFuncToHyxkernelAdapterIdentifier(59, 0, 0, name, sizeof name); },
       always, nullptr},
      {"active device uids",
       [] {
         return HyxuserStorage_GetActiveDeviceUIDsFromHyxkernelAdapterIdentifier("vmhba2", names, 8, &count);
       },
       // The path list's own failure leaves the count untouched.
       [] { return (count == 0 || count == 99) && names[0] == nullptr; }, [] { count = 99; }},
      {"channels, targets and luns",
       [] {
         return HyxuserStorage_GetAllChannelsTargetsLunsForHyxkernelDeviceUID(
             "naa.600a098038314d6a2b5d4f7a6c2f6b42", adapters, slots, slots, slots, 4, &entryCount);
       },
       // Entries filled before the failure are the caller's, up to the index.
       [] { return entryCount >= -1 && (entryCount == -1 || adapters[entryCount] != nullptr); }, nullptr},
      {"page 0x83",
       [&] {
         return HyxuserStorage_GetVPD83ForHyxkernelDeviceUID("naa.600a098038314d6a2b5d4f7a6c2f6b41", &pageRef,
                                                             8);
       },
       always, nullptr},
      {"next-generation NVMe",
       [&] { return HyxuserStorage_IsNextgenNvmeHyxkernelDeviceUID("eui.0025385b71b0a1e4", &flag); }, always,
       nullptr},
      // NVDIMM and VM mapping.
      {"nvd capabilities", [&] { return HyxuserNVD_GetDriverCapabilities(&capabilities); }, always, nullptr},
      {"vm mapping", [&] { return HyxuserVM_MapWorldIdToUUIDAndPath(526441, uuid, path); }, always, nullptr},
      {"vm mapping, whole path", [&] { return HyxuserVM_MapWorldIdToUUIDAndPath_0_24(526441, uuid, path); },
       always, nullptr},
      {"vm instance mapping", [&] { return HyxuserVM_MapWorldIdToInstanceUUIDAndPath(526441, uuid, path); },
       always, nullptr},
      {"vm instance mapping, whole path",
       [&] { return HyxuserVM_MapWorldIdToInstanceUUIDAndPath_0_24(526441, uuid, path); }, always, nullptr},
      // HXFS volumes.
      {"is an HXFS volume", [&] { return HyxuserHXFS_IsHXFSVolume(kVolume, &isHxfs); }, always, nullptr},
      {"heartbeat iterator",
       [] {
         HxfsHostIter *iter = nullptr;
         HYX_ReturnStatus status = HyxuserHXFS_ActiveHostIterBegin(kVolume, &iter);
         if (status == HYX_OK) HyxuserHXFS_ActiveHostIterEnd(&iter);
         return status;
       },
       always, nullptr},
      {"lock check", [&] { return HyxuserHXFS_VerifyLock(volumeFd, 0x5a, &remaining); }, always, nullptr},
      // Spawn attributes and file actions.
      {"spawn attributes",
       [] {
         HYX_ReturnStatus status = HyxuserCompat_SpawnAttrInit(&attr);
         if (status == HYX_OK) HyxuserCompat_SpawnAttrDestroy(attr);
         return status;
       },
       [] { return attr == nullptr; }, [] { attr = reinterpret_cast<HyxuserSpawnAttr *>(&attr); }},
      {"resource group set",
       [] {
         HyxuserSpawnAttr *fresh = nullptr;
         HYX_ReturnStatus status = HyxuserCompat_SpawnAttrInit(&fresh);
         if (status == HYX_OK) status = HyxuserCompat_SpawnAttrSetRP(fresh, "host/user/pool");
         HyxuserCompat_SpawnAttrDestroy(fresh);
         return status;
       },
       always, nullptr},
      {"resource group get",
       [&] {
         char *group = nullptr;
         HYX_ReturnStatus status = HyxuserCompat_SpawnAttrGetRP(grouped, &group);
         free(group);
         return status;
       },
       always, nullptr},
      {"file actions",
       [] {
         HYX_ReturnStatus status = HyxuserCompat_SpawnFileActionsInit(&actions, 16);
         if (status == HYX_OK) HyxuserCompat_SpawnFileActionsDestroy(actions);
         return status;
       },
       [] { return actions == reinterpret_cast<HyxuserSpawnFileActions *>(&actions); },
       [] { actions = reinterpret_cast<HyxuserSpawnFileActions *>(&actions); }},
      {"file action open",
       [] {
         HyxuserSpawnFileActions *fresh = nullptr;
         HYX_ReturnStatus status = HyxuserCompat_SpawnFileActionsInit(&fresh, 4);
         if (status == HYX_OK)
           status = HyxuserCompat_SpawnFileActionsAddOpen(fresh, 3, "/etc/hostname", O_RDONLY, 0);
         HyxuserCompat_SpawnFileActionsDestroy(fresh);
         return status;
       },
       always, nullptr},
  };

  uint64_t points = 0;
  for (const Operation &op : operations) {
    SCOPED_TRACE(op.what);
    auto run = [&] {
      if (op.prepare) op.prepare();
      HYX_ReturnStatus status = op.call();
      Release();
      return status;
    };
    // The first calls pay for one-time set-up (the simulated host's, the
    // library's node translation).
    run();
    ASSERT_THAT(run(), IsOk());
    if (op.prepare) op.prepare();
    const int64_t kept = AllocFail_Outstanding();
    const std::set<std::string> descriptors = OpenDescriptors();
    bool completed = false;
    uint64_t nth = 1;
    for (; nth < 500 && !completed; nth++) {
      if (op.prepare) op.prepare();
      uint64_t before = AllocFail_Count();
      AllocFail_Arm(nth);
      HYX_ReturnStatus status = op.call();
      bool reached = AllocFail_Count() - before >= nth;
      AllocFail_Arm(0);
      if (reached) {
        EXPECT_THAT(status, IsStatus(HYX_NO_MEMORY)) << "allocation " << nth;
        EXPECT_TRUE(op.nothingHandedOut()) << "allocation " << nth;
      } else {
        EXPECT_THAT(status, IsOk());
        completed = true;
      }
      Release();
      if (op.prepare) op.prepare();
      EXPECT_EQ(AllocFail_Outstanding(), kept) << "allocation " << nth;
      EXPECT_EQ(OpenDescriptors(), descriptors) << "allocation " << nth;
    }
    EXPECT_TRUE(completed);
    EXPECT_GT(nth, 2u) << "made no allocation the injector saw";
    points += nth - 2;
  }
  close(volumeFd);
  HyxuserCompat_SpawnAttrDestroy(grouped);
  printf("allocation sweep: %zu operations, %llu injection points\n", std::size(operations),
         static_cast<unsigned long long>(points));
}

}  // namespace
