// The descriptors the exports leave behind.  Every export, on success and on
// the failures a test can provoke, leaves the process's descriptors as they
// were, except the two the library documents keeping: the NVDIMM management
// device and the management daemon's session.  And every descriptor the
// library keeps is close-on-exec: a real program exec'd meanwhile sees only
// the standard three.  Each case is named by the exports it calls; with the
// exports the sweep does not apply to, the cases cover the export manifest.
// On the HXFS host with the host's daemons running.
#include <arpa/inet.h>
#include <dirent.h>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <functional>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "common/hostPaths.h"
#include "export_coverage.h"
#include "hyxsim/daemons.h"
#include "hyxsim/hyxsim.h"
#include "hyxuser/hyxuser.h"
#include "status_matchers.h"

namespace {

constexpr uint64_t kMs = 1000000;
constexpr char kVolume[] = "/hxfs/volumes/datastore1";
constexpr char kOtherFs[] = "/hxfs/volumes/otherfs";

// Whether fd is one of the descriptors the library documents keeping.
bool Documented(int fd, const std::string &target) {
  if (target == hostPaths::kNvdManagementDevice) return true;
  struct sockaddr_in peer {};
  socklen_t length = sizeof peer;
  return getpeername(fd, reinterpret_cast<sockaddr *>(&peer), &length) == 0 && peer.sin_family == AF_INET &&
         ntohs(peer.sin_port) == hostPaths::kMgmtdPort;
}

// The open descriptors and what each is open on, the documented ones left
// out.
std::map<int, std::string> Descriptors() {
  std::map<int, std::string> open;
  DIR *dir = opendir("/proc/self/fd");
  while (struct dirent *entry = readdir(dir)) {
    int fd = atoi(entry->d_name);
    if (entry->d_name[0] == '.' || fd == dirfd(dir)) continue;
    char link[64], target[512] = {};
    snprintf(link, sizeof link, "/proc/self/fd/%d", fd);
    if (readlink(link, target, sizeof target - 1) < 0) continue;
    if (!Documented(fd, target)) open[fd] = target;
  }
  closedir(dir);
  return open;
}

struct Case {
  const char *exports;  // the exports the row calls, space-separated
  const char *what;
  std::function<HYX_ReturnStatus()> call;
  bool succeeds;
};

HyxuserHobContext Observation(uint32_t severity) {
  HyxuserHobContext context;
  memset(&context, 0, sizeof context);
  context.severity = severity;
  strcpy(context.component, "sweep");
  strcpy(context.kb, "KB-1");
  return context;
}

// Runs fn with path moved out of the way.
HYX_ReturnStatus Without(const char *path, const std::function<HYX_ReturnStatus()> &fn) {
  std::string away = std::string(path) + ".away";
  EXPECT_EQ(rename(path, away.c_str()), 0) << path;
  HYX_ReturnStatus status = fn();
  EXPECT_EQ(rename(away.c_str(), path), 0) << path;
  return status;
}

void SetMgmtdFaults(const char *lines) { std::ofstream(HYXSIM_MGMTD_FAULTS, std::ios::trunc) << lines; }

// The exports the sweep does not apply to, and why.
std::map<std::string, std::string> NotSwept() {
  return Exempt({
      {kRecordAccessorReason, kRecordAccessorExports},
      {"hands out a copy of a record the caller holds: no descriptor involved",
       {"HyxuserCompat_SpawnAttrGetRP"}},
      {kNotImplementedReason, kNotImplementedExports},
  });
}

class Descriptors_ : public testing::Test {
 protected:
  // The throttles of traps and events are moved by the simulator's clock.
  static void SetUpTestSuite() { HyxSim_PinMonotonicClock(1000000000 * kMs); }
  void SetUp() override { HyxSim_AdvanceMonotonicClock(300000 * kMs); }
};

TEST_F(Descriptors_, EveryExportLeavesTheDescriptorsAsTheyWere) {
  char text[128], uuid[128], path[1984], name[32];
  int number = 0, waitStatus = 0;
  uint32_t u32 = 0, count = 0;
  uint64_t u64 = 0;
  int64_t remaining = 0;
  uint8_t buffer[4096], u8 = 0, *page = buffer;
  void *data = nullptr;
  char **names = nullptr;
  char *uids[8] = {};
  HyxuserSystemVersion version;
  HyxuserPnicInfo nics[4];
  HyxuserTcpipInterface interfaces[4];
  HyxuserNvdDriverCapabilities capabilities;
  HyxuserNvdPassthroughCommand command{};
  HyxuserSpawnAttr *attr = nullptr;
  HyxuserSpawnFileActions *actions = nullptr;
  int32_t fdMap[3] = {0, 1, 2};
  char *const trueArgs[] = {const_cast<char *>("/bin/true"), nullptr};
  auto events = [](const char *faults) {
    SetMgmtdFaults(faults);
    HyxSim_AdvanceMonotonicClock(961000 * kMs);  // past the session's reuse: a login each time
    HYX_ReturnStatus status = HyxuserLumEvent_Send("hyx.test.Sweep", 0, nullptr, 0);
    SetMgmtdFaults("");
    return status;
  };
  auto trap = [](const char *oid) {
    HyxSim_AdvanceMonotonicClock(10000 * kMs);
    return HyxuserSnmp_SendTrap(oid, nullptr, 0);
  };
  auto iterate = [](const char *volume) {
    HxfsHostIter *iter = nullptr;
    HYX_ReturnStatus status = HyxuserHXFS_ActiveHostIterBegin(volume, &iter);
    if (status == HYX_OK) {
      HxfsHostInfo *info = nullptr;
      while (HyxuserHXFS_ActiveHostIterNext(iter, &info) == HYX_OK) {
      }
      HyxuserHXFS_ActiveHostIterEnd(&iter);
    }
    return status;
  };
  auto verifyLock = [&](const char *on) {
    int fd = open(on, O_RDONLY | O_CLOEXEC);
    HYX_ReturnStatus status = HyxuserHXFS_VerifyLock(fd, 0x5a, &remaining);
    close(fd);
    return status;
  };
  auto popen = [&](const char *command, const char *mode) {
    HyxuserPOpenHandle handle{};
    HYX_ReturnStatus status = HyxuserCompat_POpen(command, mode, &handle);
    if (status == HYX_OK) {
      char line[64];
      while (read(handle.fd, line, sizeof line) > 0) {
      }
      status = HyxuserCompat_PClose(&handle, &waitStatus);
    }
    return status;
  };
  auto pam = [](const char *user) {
    struct pam_handle *handle = nullptr;
    HYX_ReturnStatus status = HyxuserPam_Start("hyxsim", user, "secret", &handle);
    if (handle != nullptr) HyxuserPam_End(handle);
    return status;
  };
  auto relinquish = [] {
    int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    HYX_ReturnStatus status = HyxuserCompat_RelinquishSocketOwnership(fd);
    close(fd);
    return status;
  };

  const Case cases[] = {
      {"HyxuserStatus_CodeToString", "status text",
       [&] { return HyxuserStatus_CodeToString(HYX_BAD_PARAM, text, sizeof text, &number); }, true},
      {"HyxuserStatus_CodeToErrno", "status errno",
       [&] { return HyxuserStatus_CodeToErrno(HYX_BAD_PARAM, &number); }, true},
      {"HyxuserCompat_SpawnAttrInit HyxuserCompat_SpawnAttrSetRP HyxuserCompat_SpawnAttrDestroy",
       "spawn attributes",
       [&] {
         HYX_ReturnStatus status = HyxuserCompat_SpawnAttrInit(&attr);
         if (status == HYX_OK) status = HyxuserCompat_SpawnAttrSetRP(attr, "host/user");
         HyxuserCompat_SpawnAttrDestroy(attr);
         return status;
       },
       true},
      {"HyxuserCompat_SpawnFileActionsInit HyxuserCompat_SpawnFileActionsAddOpen "
       "HyxuserCompat_SpawnFileActionsAddDup2 HyxuserCompat_SpawnFileActionsDestroy",
       "file actions",
       [&] {
         HYX_ReturnStatus status = HyxuserCompat_SpawnFileActionsInit(&actions, 4);
         if (status == HYX_OK)
           status = HyxuserCompat_SpawnFileActionsAddOpen(actions, 3, "/etc/hostname", O_RDONLY, 0);
         if (status == HYX_OK) status = HyxuserCompat_SpawnFileActionsAddDup2(actions, 1, 4);
         HyxuserCompat_SpawnFileActionsDestroy(actions);
         return status;
       },
       true},
      {"HyxuserCompat_ForkExec", "fork-exec",
       [&] {
         pid_t pid = 0;
         HYX_ReturnStatus status = HyxuserCompat_ForkExec("/bin/true", trueArgs, nullptr, -1, fdMap, 3,
                                                          0xFFFFFFFF, 0xFFFFFFFF, 0, &pid);
         if (status == HYX_OK) waitpid(pid, &waitStatus, 0);
         return status;
       },
       true},
      {"HyxuserCompat_ForkExec", "fork-exec of a missing program",
       [&] {
         pid_t pid = 0;
         return HyxuserCompat_ForkExec("/nonexistent", trueArgs, nullptr, -1, fdMap, 3, 0xFFFFFFFF,
                                       0xFFFFFFFF, 0, &pid);
       },
       false},
      {"HyxuserCompat_ForkExec", "fork-exec of a script without its interpreter",
       [&] {
         std::ofstream("/tmp/sweep-script") << "#!/nonexistent/interpreter\n";
         chmod("/tmp/sweep-script", 0755);
         pid_t pid = 0;
         char *const args[] = {const_cast<char *>("/tmp/sweep-script"), nullptr};
         HYX_ReturnStatus status = HyxuserCompat_ForkExec("/tmp/sweep-script", args, nullptr, -1, fdMap, 3,
                                                          0xFFFFFFFF, 0xFFFFFFFF, 0, &pid);
         if (status == HYX_OK) waitpid(pid, &waitStatus, 0);
         return status;
       },
       false},
      {"HyxuserCompat_System", "system", [&] { return HyxuserCompat_System("exit 3", &waitStatus); }, true},
      {"HyxuserCompat_POpen HyxuserCompat_PClose", "popen, read", [&] { return popen("echo out", "r"); },
       true},
      {"HyxuserCompat_POpen HyxuserCompat_PClose", "popen, write",
       [&] { return popen("cat >/dev/null", "w"); }, true},
      {"HyxuserCompat_POpen", "popen, bad mode", [&] { return popen("true", "x"); }, false},
      {"HyxuserCompat_Spawn", "spawn",
       [&] {
         pid_t pid = 0;
         HYX_ReturnStatus status =
             HyxuserCompat_Spawn("/bin/true", trueArgs, nullptr, nullptr, nullptr, &pid);
         if (status == HYX_OK) waitpid(pid, &waitStatus, 0);
         return status;
       },
       true},
      {"HyxuserCompat_VerifyHSISigniture", "interface check",
       [] { return HyxuserCompat_VerifyHSISigniture(); }, true},
      {"HyxuserVersion_GetUniqueSystemVersion", "unique version",
       [&] {
         HyxuserUniqueSystemVersion unique;
         return HyxuserVersion_GetUniqueSystemVersion(&unique);
       },
       true},
      {"HyxuserVersion_GetSystemVersion", "version",
       [&] { return HyxuserVersion_GetSystemVersion(&version); }, true},
      {"HyxuserUptime_GetUptime", "uptime", [&] { return HyxuserUptime_GetUptime(&u64); }, true},
      {"HyxuserAcpi_GetTableLengthBySignature", "acpi length",
       [&] { return HyxuserAcpi_GetTableLengthBySignature("APIC", 0, &u32); }, true},
      {"HyxuserAcpi_GetTableBySignature", "acpi table missing",
       [&] { return HyxuserAcpi_GetTableBySignature("APIC", 7, buffer, sizeof buffer); }, false},
      {"HyxuserSMBIOS_GetDataLen", "smbios length", [&] { return HyxuserSMBIOS_GetDataLen(&u32); }, true},
      {"HyxuserSocket_NativeSocketFamily", "socket family",
       [&] { return HyxuserSocket_NativeSocketFamily(&number); }, true},
      {"HyxuserUefi_GetVariableList", "uefi list",
       [&] {
         HYX_ReturnStatus status = HyxuserUefi_GetVariableList(&names, &count);
         for (uint32_t i = 0; status == HYX_OK && i < count; i++) free(names[i]);
         if (status == HYX_OK) free(names);
         return status;
       },
       true},
      {"HyxuserUefi_SetVariable HyxuserUefi_GetVariable", "uefi set and get",
       [&] {
         HYX_ReturnStatus status = HyxuserUefi_SetVariable("HyxSweep-0", 7, 5, "bytes");
         if (status == HYX_OK) status = HyxuserUefi_GetVariable("HyxSweep-0", &u32, &u64, &data);
         free(data);
         data = nullptr;
         return status;
       },
       true},
      {"HyxuserUefi_RemoveVariable", "uefi remove", [] { return HyxuserUefi_RemoveVariable("HyxSweep-0"); },
       true},
      {"HyxuserUefi_GetVariable", "uefi get missing",
       [&] { return HyxuserUefi_GetVariable("HyxSweep-missing", &u32, &u64, &data); }, false},
      {"HyxuserNet_GetPnics", "nics", [&] { return HyxuserNet_GetPnics(nics, 4, &count); }, true},
      {"HyxuserTcpip_GetInterfaces", "interfaces",
       [&] { return HyxuserTcpip_GetInterfaces(interfaces, 4, &count); }, true},
      {"HyxuserHob_Notify", "observation",
       [] {
         HyxuserHobContext c = Observation(2);
         return HyxuserHob_Notify(&c, "x");
       },
       true},
      {"HyxuserHob_Notify", "observation, bad severity",
       [] {
         HyxuserHobContext c = Observation(9);
         return HyxuserHob_Notify(&c, "x");
       },
       false},
      {"HyxuserHob_Notify", "observation, no daemon",
       [] {
         return Without(hostPaths::kObservationSocket, [] {
           HyxuserHobContext c = Observation(1);
           return HyxuserHob_Notify(&c, "x");
         });
       },
       false},
      {"HyxuserSnmp_SendTrap", "trap", [&] { return trap("1.3.6.1.4.1.9.1"); }, true},
      {"HyxuserSnmp_SendTrap", "trap, bad oid", [&] { return trap("1.3.6.1.4.1"); }, false},
      {"HyxuserSnmp_SendTrap", "trap, no agent",
       [&] { return Without(hostPaths::kSnmpControlSocket, [&] { return trap("1.3.6.1.4.1.9.1"); }); },
       false},
      {"HyxuserSnmp_SendTrap", "trap, throttled",
       [] {
         HyxuserSnmp_SendTrap("1.3.6.1.4.1.9.1", nullptr, 0);
         return HyxuserSnmp_SendTrap("1.3.6.1.4.1.9.1", nullptr, 0);
       },
       false},
      {"HyxuserStorage_GetBusSlotFunctionForHyxkernelAdapterIdentifier", "adapter location",
       [&] {
         return HyxuserStorage_GetBusSlotFunctionForHyxkernelAdapterIdentifier("vmhba2", &u32, &u32, &u32);
       },
       true},
      {"HyxuserStorage_GetBusSlotFunctionForHyxkernelAdapterIdentifier", "adapter location, unknown",
       [&] {
         return HyxuserStorage_GetBusSlotFunctionForHyxkernelAdapterIdentifier("vmhba99", &u32, &u32, &u32);
       },
       false},
      {"HyxuserStorage_MapBusSlotFuncToHyxkernelAdapterIdentifier", "adapter at a location",
       [&] { return HyxuserStorage_MapBusSlotFuncToHyxkernelAdapterIdentifier(59, 0, 0, name, sizeof name); },
       true},
      {"HyxuserStorage_GetActiveDeviceUIDsFromHyxkernelAdapterIdentifier", "device uids",
       [&] {
         HYX_ReturnStatus status =
             HyxuserStorage_GetActiveDeviceUIDsFromHyxkernelAdapterIdentifier("vmhba2", uids, 8, &count);
         for (char *&uid : uids) free(uid), uid = nullptr;
         return status;
       },
       true},
      {"HyxuserStorage_GetVPD83ForHyxkernelDeviceUID", "page 0x83",
       [&] {
         return HyxuserStorage_GetVPD83ForHyxkernelDeviceUID("naa.600a098038314d6a2b5d4f7a6c2f6b41", &page,
                                                             64);
       },
       true},
      {"HyxuserStorage_IsNextgenNvmeHyxkernelDeviceUID", "nvme",
       [&] { return HyxuserStorage_IsNextgenNvmeHyxkernelDeviceUID("eui.0025385b71b0a1e4", &u8); }, true},
      {"HyxuserStorage_RescanDeletePathsOnHyxkernelAdapter", "rescan",
       [] { return HyxuserStorage_RescanDeletePathsOnHyxkernelAdapter("vmhba2"); }, true},
      {"HyxuserCompat_RescanHyxkernelHba", "rescan, name too long",
       [] { return HyxuserCompat_RescanHyxkernelHba("vmhba-with-a-name-far-too-long-0"); }, false},
      {"HyxuserNVD_GetDriverCapabilities", "nvd capabilities",
       [&] { return HyxuserNVD_GetDriverCapabilities(&capabilities); }, true},
      {"HyxuserNVD_PassthroughCommand", "nvd passthrough, no buffers",
       [&] { return HyxuserNVD_PassthroughCommand(&command); }, false},
      {"HyxuserVM_MapWorldIdToUUIDAndPath_0_24", "vm",
       [&] { return HyxuserVM_MapWorldIdToUUIDAndPath_0_24(526441, uuid, path); }, true},
      {"HyxuserVM_MapWorldIdToInstanceUUIDAndPath", "vm, unknown world",
       [&] { return HyxuserVM_MapWorldIdToInstanceUUIDAndPath(4242, uuid, path); }, false},
      {"HyxuserCompat_InCOS", "in console", [&] { return HyxuserCompat_InCOS(&number); }, true},
      {"HyxuserCompat_RelinquishSocketOwnership", "relinquish a socket", relinquish, true},
      {"HyxuserCompat_RelinquishSocketOwnership", "relinquish no socket",
       [] { return HyxuserCompat_RelinquishSocketOwnership(-1); }, false},
      {"HyxuserLumEvent_Send", "event", [&] { return events(""); }, true},
      {"HyxuserLumEvent_Send", "event, login refused", [&] { return events("Login fault500\n"); }, false},
      {"HyxuserLumEvent_Send", "event, answer cut short",
       [&] { return events("PostEvent close-mid-response\n"); }, false},
      {"HyxuserLumEvent_Send", "event, throttled",
       [] { return HyxuserLumEvent_Send("hyx.test.Sweep", 0, nullptr, 0); }, false},
      {"HyxuserHXFS_IsHXFSVolume", "is hxfs", [&] { return HyxuserHXFS_IsHXFSVolume(kVolume, &u32); }, true},
      {"HyxuserHXFS_IsHXFSVolume", "is hxfs, no volume",
       [&] { return HyxuserHXFS_IsHXFSVolume("/tmp", &u32); }, false},
      {"HyxuserHXFS_ActiveHostIterBegin HyxuserHXFS_ActiveHostIterNext HyxuserHXFS_ActiveHostIterEnd",
       "heartbeats", [&] { return iterate(kVolume); }, true},
      {"HyxuserHXFS_ActiveHostIterBegin", "heartbeats, other file system", [&] { return iterate(kOtherFs); },
       false},
      {"HyxuserHXFS_VerifyLock", "lock", [&] { return verifyLock(kVolume); }, true},
      {"HyxuserHXFS_VerifyLock", "lock, not the file system's", [&] { return verifyLock("/tmp"); }, false},
      {"HyxuserHXFS_GetHostUUID", "host uuid", [&] { return HyxuserHXFS_GetHostUUID(buffer); }, true},
      {"HyxuserPam_Start HyxuserPam_End", "pam", [&] { return pam("hyxuser"); }, true},
      {"HyxuserPam_Start", "pam, no user", [&] { return pam(nullptr); }, false},
      {"HyxuserPam_Start HyxuserPam_Authenticate HyxuserPam_Acct_Mgmt HyxuserPam_End", "pam checks",
       [] {
         struct pam_handle *handle = nullptr;
         HYX_ReturnStatus status = HyxuserPam_Start("hyxsim", "hyxuser", "hyx-secret", &handle);
         if (status == HYX_OK) status = HyxuserPam_Authenticate(handle, 1);
         if (status == HYX_OK) status = HyxuserPam_Acct_Mgmt(handle, 1);
         if (handle != nullptr) HyxuserPam_End(handle);
         return status;
       },
       true},
      {"HyxuserStatus_CodeToPamReturnValue", "pam value",
       [] { return HyxuserStatus_CodeToPamReturnValue(HYX_FAILURE) > 0 ? HYX_OK : HYX_FAILURE; }, true},
      {"HyxuserCompat_SpawnAttrInit HyxuserCompat_System_SpawnAttrs HyxuserCompat_SpawnAttrDestroy",
       "system with attributes",
       [&] {
         HYX_ReturnStatus status = HyxuserCompat_SpawnAttrInit(&attr);
         if (status == HYX_OK) status = HyxuserCompat_System_SpawnAttrs(attr, "exit 0", &waitStatus);
         HyxuserCompat_SpawnAttrDestroy(attr);
         return status;
       },
       true},
      {"HyxuserCompat_POpen_SpawnAttrs HyxuserCompat_PClose", "popen with no attributes",
       [&] {
         HyxuserPOpenHandle handle{};
         HYX_ReturnStatus status = HyxuserCompat_POpen_SpawnAttrs(nullptr, "echo out", "r", &handle);
         if (status == HYX_OK) status = HyxuserCompat_PClose(&handle, &waitStatus);
         return status;
       },
       true},
      {"HyxuserSMBIOS_GetData", "smbios block",
       [&] {
         uint32_t length = 0;
         HYX_ReturnStatus status = HyxuserSMBIOS_GetDataLen(&length);
         if (status == HYX_OK && length <= sizeof buffer) status = HyxuserSMBIOS_GetData(buffer, length);
         return status;
       },
       true},
      {"HyxuserMSR_GetValue", "msr", [] { return HyxuserMSR_GetValue(); }, false},
      {"HyxuserSnmp_Configure", "trap size", [] { return HyxuserSnmp_Configure(0); }, true},
      {"HyxuserSnmp_GetThrottlingRemaining", "trap throttle",
       [&] { return HyxuserSnmp_GetThrottlingRemaining(&u32); }, true},
      {"HyxuserSnmp_GetThrottlingPeriod", "trap period",
       [&] { return HyxuserSnmp_GetThrottlingPeriod(&u32); }, true},
      {"HyxuserLumEvent_GetThrottlingRemaining", "event throttle",
       [&] { return HyxuserLumEvent_GetThrottlingRemaining(&u32); }, true},
      {"HyxuserLumEvent_GetThrottlingPeriod", "event period",
       [&] { return HyxuserLumEvent_GetThrottlingPeriod(&u32); }, true},
      {"HyxuserStorage_GetAllChannelsTargetsLunsForHyxkernelDeviceUID", "paths to a device",
       [&] {
         char *adapters[4] = {};
         uint32_t values[4] = {}, *slots[4] = {&values[0], &values[1], &values[2], &values[3]};
         HYX_ReturnStatus status = HyxuserStorage_GetAllChannelsTargetsLunsForHyxkernelDeviceUID(
             "naa.600a098038314d6a2b5d4f7a6c2f6b42", adapters, slots, slots, slots, 4, &number);
         for (char *adapter : adapters) free(adapter);
         return status;
       },
       true},
      {"HyxuserVM_MapWorldIdToUUIDAndPath", "vm, short path",
       [&] { return HyxuserVM_MapWorldIdToUUIDAndPath(526441, uuid, path); }, true},
      {"HyxuserVM_MapWorldIdToInstanceUUIDAndPath_0_24", "vm instance",
       [&] { return HyxuserVM_MapWorldIdToInstanceUUIDAndPath_0_24(526441, uuid, path); }, true},
      {"HyxuserCompat_MapLinuxHbaToHyxkernelHba", "linux hba",
       [] { return HyxuserCompat_MapLinuxHbaToHyxkernelHba(); }, false},
  };
  // The documented descriptors are opened once, up front.
  ASSERT_THAT(HyxuserNVD_GetDriverCapabilities(&capabilities), IsOk());
  std::vector<std::string> rows;
  for (const Case &c : cases) rows.push_back(c.exports);
  ASSERT_THAT(CoverageFaults(ManifestExports(HYX_MANIFEST_FILE), rows, NotSwept()), testing::IsEmpty());
  for (const Case &c : cases) {
    SCOPED_TRACE(std::string(c.exports) + ": " + c.what);
    std::map<int, std::string> before = Descriptors();
    HYX_ReturnStatus status = c.call();
    EXPECT_EQ(status == HYX_OK, c.succeeds) << StatusText(status);
    EXPECT_EQ(Descriptors(), before);
  }
}

// The descriptors open in this process that survive an exec.
std::set<int> InheritedDescriptors() {
  std::set<int> open;
  DIR *dir = opendir("/proc/self/fd");
  while (struct dirent *entry = readdir(dir)) {
    int fd = atoi(entry->d_name);
    if (entry->d_name[0] != '.' && fd != dirfd(dir) && (fcntl(fd, F_GETFD) & FD_CLOEXEC) == 0)
      open.insert(fd);
  }
  closedir(dir);
  return open;
}

// What a shell exec'd from here finds open.  The directory its glob reads
// is closed again before the names are tested.
std::set<int> DescriptorsOfAChild() {
  int out[2];
  EXPECT_EQ(pipe2(out, O_CLOEXEC), 0);
  pid_t pid = fork();
  if (pid == 0) {
    dup2(out[1], 1);
    execl("/bin/sh", "sh", "-c",
          "for f in /proc/self/fd/*; do [ -e \"$f\" ] && echo \"${f##*/}\"; done; true",
          static_cast<char *>(nullptr));
    _exit(127);
  }
  close(out[1]);
  std::string listing;
  char chunk[256];
  for (ssize_t n; (n = read(out[0], chunk, sizeof chunk)) > 0;) listing.append(chunk, static_cast<size_t>(n));
  close(out[0]);
  int status = 0;
  waitpid(pid, &status, 0);
  EXPECT_EQ(status, 0) << listing;
  std::set<int> fds;
  for (size_t at = 0; at < listing.size();) {
    size_t end = listing.find_first_of("\n ", at);
    if (end == std::string::npos) end = listing.size();
    if (end > at) fds.insert(atoi(listing.substr(at, end - at).c_str()));
    at = end + 1;
  }
  return fds;
}

TEST_F(Descriptors_, WhatTheLibraryKeepsOpenIsClosedOnExec) {
  std::set<int> passed = InheritedDescriptors();  // the test's own, if any
  passed.insert({0, 1, 2});
  // Everything the library keeps across calls, all open at once: the
  // management device, the event session, a pipe to a child, a heartbeat
  // iterator.
  HyxuserNvdDriverCapabilities capabilities;
  ASSERT_THAT(HyxuserNVD_GetDriverCapabilities(&capabilities), IsOk());
  ASSERT_THAT(HyxuserLumEvent_Send("hyx.test.Exec", 0, nullptr, 0), IsOk());
  HyxuserPOpenHandle handle{};
  ASSERT_THAT(HyxuserCompat_POpen("cat", "w", &handle), IsOk());
  HxfsHostIter *iter = nullptr;
  ASSERT_THAT(HyxuserHXFS_ActiveHostIterBegin(kVolume, &iter), IsOk());

  std::set<int> seen = DescriptorsOfAChild();
  for (int fd : seen) EXPECT_TRUE(passed.count(fd)) << "descriptor " << fd << " reached the child";
  EXPECT_TRUE(seen.count(1)) << "the listing is the child's own";

  HyxuserHXFS_ActiveHostIterEnd(&iter);
  EXPECT_THAT(HyxuserCompat_PClose(&handle, nullptr), IsOk());
}

}  // namespace
