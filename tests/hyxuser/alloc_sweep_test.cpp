// Every export that can report HYX_NO_MEMORY, with each of its allocations
// failed in turn (n = 1, 2, ... until the call gets through): each run says
// HYX_NO_MEMORY or succeeds, hands nothing out when it fails, and keeps no
// memory and no descriptor.  Leaks are counted by the injector here and
// found by LeakSanitizer in the asan preset.  Each row is named by the
// exports it calls; with the exports the sweep does not apply to, the rows
// cover the export manifest, or the sweep fails before it starts.  Runs on
// the HXFS host, which is the example host with volumes mounted.
#include <dirent.h>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <iterator>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "alloc_fail.h"
#include "descriptors.h"
#include "export_coverage.h"
#include "hyxuser/hyxuser.h"
#include "status_matchers.h"

namespace {

constexpr char kVolume[] = "/hxfs/volumes/datastore1";

struct Operation {
  // The exports the row calls, space-separated; the first is the one swept.
  const char *exports;
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

// The exports the sweep does not apply to, and why.
std::map<std::string, std::string> NotSwept() {
  return Exempt({
      {"take no memory of their own: they answer from fixed tables or make one kernel or device call "
       "with the caller's buffers",
       {"HyxuserStatus_CodeToString", "HyxuserStatus_CodeToErrno", "HyxuserStatus_CodeToPamReturnValue",
        "HyxuserCompat_SpawnFileActionsAddDup2", "HyxuserCompat_VerifyHSISigniture",
        "HyxuserAcpi_GetTableLengthBySignature", "HyxuserAcpi_GetTableBySignature",
        "HyxuserSMBIOS_GetDataLen", "HyxuserSMBIOS_GetData", "HyxuserMSR_GetValue",
        "HyxuserSocket_NativeSocketFamily", "HyxuserHXFS_ActiveHostIterNext",
        "HyxuserStorage_RescanDeletePathsOnHyxkernelAdapter", "HyxuserNVD_PassthroughCommand",
        "HyxuserCompat_InCOS", "HyxuserCompat_RelinquishSocketOwnership", "HyxuserCompat_RescanHyxkernelHba",
        "HyxuserCompat_MapLinuxHbaToHyxkernelHba"}},
      {kRecordAccessorReason, kRecordAccessorExports},
      {kNotImplementedReason, kNotImplementedExports},
      {"take no memory of their own either: processes are made with fork and exec, observations, "
       "traps and throttles use fixed buffers",
       {"HyxuserCompat_ForkExec", "HyxuserCompat_System", "HyxuserCompat_POpen", "HyxuserCompat_PClose",
        "HyxuserCompat_System_SpawnAttrs", "HyxuserCompat_POpen_SpawnAttrs", "HyxuserCompat_Spawn",
        "HyxuserHob_Notify", "HyxuserSnmp_Configure", "HyxuserSnmp_SendTrap",
        "HyxuserSnmp_GetThrottlingRemaining", "HyxuserSnmp_GetThrottlingPeriod",
        "HyxuserLumEvent_GetThrottlingRemaining", "HyxuserLumEvent_GetThrottlingPeriod"}},
      {"reports a request it could not build, memory included, as HYX_FAILURE", {"HyxuserLumEvent_Send"}},
      {"PAM: what these allocate is libpam's, and its conversation's failures are PAM's to report",
       {"HyxuserPam_Start", "HyxuserPam_End", "HyxuserPam_Authenticate", "HyxuserPam_Acct_Mgmt"}},
  });
}

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
      {"HyxuserVersion_GetSystemVersion", [&] { return HyxuserVersion_GetSystemVersion(&version); }, always,
       nullptr},
      {"HyxuserVersion_GetUniqueSystemVersion",
       [&] { return HyxuserVersion_GetUniqueSystemVersion(&uniqueVersion); }, always, nullptr},
      {"HyxuserUptime_GetUptime", [&] { return HyxuserUptime_GetUptime(&uptime); }, always, nullptr},
      {"HyxuserHXFS_GetHostUUID", [&] { return HyxuserHXFS_GetHostUUID(hostUuid); }, always, nullptr},
      // UEFI variables.
      {"HyxuserUefi_GetVariableList",
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
      {"HyxuserUefi_GetVariable",
       [&] {
         data = nullptr;
         HYX_ReturnStatus status = HyxuserUefi_GetVariable("BootOrder-8be4df61-93ca-11d2-aa0d-00e098032b8c",
                                                           &attributes, &length, &data);
         free(data);
         return status;
       },
       always, nullptr},
      {"HyxuserUefi_SetVariable", [] { return HyxuserUefi_SetVariable("HyxAlloc-0", 7, 5, "bytes"); }, always,
       nullptr},
      {"HyxuserUefi_RemoveVariable", [] { return HyxuserUefi_RemoveVariable("HyxAlloc-0"); }, always,
       [] { HyxuserUefi_SetVariable("HyxAlloc-0", 7, 5, "bytes"); }},
      // NICs and interfaces.
      {"HyxuserNet_GetPnics", [&] { return HyxuserNet_GetPnics(nics, 3, &count); },
       [] { return count == 3 || count == 99; },  // the list's own failure leaves it untouched
       [] { count = 99; }},
      {"HyxuserTcpip_GetInterfaces", [&] { return HyxuserTcpip_GetInterfaces(interfaces, 2, &count); },
       [] { return count == 0; }, [] { count = 99; }},
      // Storage.
      {"HyxuserStorage_GetBusSlotFunctionForHyxkernelAdapterIdentifier",
       [&] {
         return HyxuserStorage_GetBusSlotFunctionForHyxkernelAdapterIdentifier("vmhba2", &bus, &slot,
                                                                               &function);
       },
       always, nullptr},
      {"HyxuserStorage_MapBusSlotFuncToHyxkernelAdapterIdentifier",
       [&] { return HyxuserStorage_MapBusSlotFuncToHyxkernelAdapterIdentifier(59, 0, 0, name, sizeof name); },
       always, nullptr},
      {"HyxuserStorage_GetActiveDeviceUIDsFromHyxkernelAdapterIdentifier",
       [] {
         return HyxuserStorage_GetActiveDeviceUIDsFromHyxkernelAdapterIdentifier("vmhba2", names, 8, &count);
       },
       // The path list's own failure leaves the count untouched.
       [] { return (count == 0 || count == 99) && names[0] == nullptr; }, [] { count = 99; }},
      {"HyxuserStorage_GetAllChannelsTargetsLunsForHyxkernelDeviceUID",
       [] {
         return HyxuserStorage_GetAllChannelsTargetsLunsForHyxkernelDeviceUID(
             "naa.600a098038314d6a2b5d4f7a6c2f6b42", adapters, slots, slots, slots, 4, &entryCount);
       },
       // Entries filled before the failure are the caller's, up to the index.
       [] { return entryCount >= -1 && (entryCount == -1 || adapters[entryCount] != nullptr); }, nullptr},
      {"HyxuserStorage_GetVPD83ForHyxkernelDeviceUID",
       [&] {
         return HyxuserStorage_GetVPD83ForHyxkernelDeviceUID("naa.600a098038314d6a2b5d4f7a6c2f6b41", &pageRef,
                                                             8);
       },
       always, nullptr},
      {"HyxuserStorage_IsNextgenNvmeHyxkernelDeviceUID",
       [&] { return HyxuserStorage_IsNextgenNvmeHyxkernelDeviceUID("eui.0025385b71b0a1e4", &flag); }, always,
       nullptr},
      // NVDIMM and VM mapping.
      {"HyxuserNVD_GetDriverCapabilities", [&] { return HyxuserNVD_GetDriverCapabilities(&capabilities); },
       always, nullptr},
      {"HyxuserVM_MapWorldIdToUUIDAndPath",
       [&] { return HyxuserVM_MapWorldIdToUUIDAndPath(526441, uuid, path); }, always, nullptr},
      {"HyxuserVM_MapWorldIdToUUIDAndPath_0_24",
       [&] { return HyxuserVM_MapWorldIdToUUIDAndPath_0_24(526441, uuid, path); }, always, nullptr},
      {"HyxuserVM_MapWorldIdToInstanceUUIDAndPath",
       [&] { return HyxuserVM_MapWorldIdToInstanceUUIDAndPath(526441, uuid, path); }, always, nullptr},
      {"HyxuserVM_MapWorldIdToInstanceUUIDAndPath_0_24",
       [&] { return HyxuserVM_MapWorldIdToInstanceUUIDAndPath_0_24(526441, uuid, path); }, always, nullptr},
      // HXFS volumes.
      {"HyxuserHXFS_IsHXFSVolume", [&] { return HyxuserHXFS_IsHXFSVolume(kVolume, &isHxfs); }, always,
       nullptr},
      {"HyxuserHXFS_ActiveHostIterBegin HyxuserHXFS_ActiveHostIterEnd",
       [] {
         HxfsHostIter *iter = nullptr;
         HYX_ReturnStatus status = HyxuserHXFS_ActiveHostIterBegin(kVolume, &iter);
         if (status == HYX_OK) HyxuserHXFS_ActiveHostIterEnd(&iter);
         return status;
       },
       always, nullptr},
      {"HyxuserHXFS_VerifyLock", [&] { return HyxuserHXFS_VerifyLock(volumeFd, 0x5a, &remaining); }, always,
       nullptr},
      // Spawn attributes and file actions.
      {"HyxuserCompat_SpawnAttrInit HyxuserCompat_SpawnAttrDestroy",
       [] {
         HYX_ReturnStatus status = HyxuserCompat_SpawnAttrInit(&attr);
         if (status == HYX_OK) HyxuserCompat_SpawnAttrDestroy(attr);
         return status;
       },
       [] { return attr == nullptr; }, [] { attr = reinterpret_cast<HyxuserSpawnAttr *>(&attr); }},
      {"HyxuserCompat_SpawnAttrSetRP",
       [] {
         HyxuserSpawnAttr *fresh = nullptr;
         HYX_ReturnStatus status = HyxuserCompat_SpawnAttrInit(&fresh);
         if (status == HYX_OK) status = HyxuserCompat_SpawnAttrSetRP(fresh, "host/user/pool");
         HyxuserCompat_SpawnAttrDestroy(fresh);
         return status;
       },
       always, nullptr},
      {"HyxuserCompat_SpawnAttrGetRP",
       [&] {
         char *group = nullptr;
         HYX_ReturnStatus status = HyxuserCompat_SpawnAttrGetRP(grouped, &group);
         free(group);
         return status;
       },
       always, nullptr},
      {"HyxuserCompat_SpawnFileActionsInit HyxuserCompat_SpawnFileActionsDestroy",
       [] {
         HYX_ReturnStatus status = HyxuserCompat_SpawnFileActionsInit(&actions, 16);
         if (status == HYX_OK) HyxuserCompat_SpawnFileActionsDestroy(actions);
         return status;
       },
       [] { return actions == reinterpret_cast<HyxuserSpawnFileActions *>(&actions); },
       [] { actions = reinterpret_cast<HyxuserSpawnFileActions *>(&actions); }},
      {"HyxuserCompat_SpawnFileActionsAddOpen",
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

  std::vector<std::string> rows;
  for (const Operation &op : operations) rows.push_back(op.exports);
  ASSERT_THAT(CoverageFaults(ManifestExports(HYX_MANIFEST_FILE), rows, NotSwept()), testing::IsEmpty());

  uint64_t points = 0;
  for (const Operation &op : operations) {
    SCOPED_TRACE(op.exports);
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
