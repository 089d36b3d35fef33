// Holds a table of test rows, each named by the exports it calls, to the
// export manifest: every export the manifest lists has a row or a reasoned
// exemption, never both, and every name a row or an exemption gives is an
// export.  A suite built with HYX_MANIFEST_FILE reads the manifest there.
#pragma once

#include <fstream>
#include <initializer_list>
#include <map>
#include <set>
#include <sstream>
#include <string>
#include <utility>
#include <vector>

// The exports that read or write only a record the caller holds: no sweep
// of what the library takes applies to them.
inline const char kRecordAccessorReason[] =
    "read or write only a record the caller holds (spawn attributes, a host's heartbeat record)";
inline const std::vector<const char *> kRecordAccessorExports = {
    "HyxuserCompat_SpawnAttrSetFlags",
    "HyxuserCompat_SpawnAttrGetFlags",
    "HyxuserCompat_SpawnAttrSetPGID",
    "HyxuserCompat_SpawnAttrGetPGID",
    "HyxuserCompat_SpawnAttrSetWorkingDirFd",
    "HyxuserCompat_SpawnAttrGetWorkingDirFd",
    "HyxuserCompat_SpawnAttrSetUID",
    "HyxuserCompat_SpawnAttrGetUID",
    "HyxuserCompat_SpawnAttrSetGID",
    "HyxuserCompat_SpawnAttrGetGID",
    "HyxuserCompat_SpawnAttrSetSecurityDomain",
    "HyxuserCompat_SpawnAttrGetSecurityDomain",
    "HyxuserCompat_SpawnAttrSetMemMB",
    "HyxuserCompat_SpawnAttrGetMemMB",
    "HyxuserCompat_SpawnAttrSetSigDefault",
    "HyxuserCompat_SpawnAttrGetSigDefault",
    "HyxuserCompat_SpawnAttrSetSigMask",
    "HyxuserCompat_SpawnAttrGetSigMask",
    "HyxuserHXFS_GetHostInfo",
    "HyxuserHXFS_GetMacAddr",
    "HyxuserHXFS_GetHostInfoTimeStamp",
    "HyxuserHXFS_GetHostInfoState",
    "HyxuserHXFS_GetHostInfoUUID",
};

// The exports that answer with a fixed status on every host: no sweep
// applies to them.
inline const char kNotImplementedReason[] = "fixed answers: the I/O resource calls are not implemented";
inline const std::vector<const char *> kNotImplementedExports = {
    "HyxuserIORM_SCSIGetWorldStats",
    "HyxuserIORM_SCSIGetWorldShares",
    "HyxuserIORM_SCSIGetDeviceInfo",
    "HyxuserIORM_SCSIGetMaxQueueDepth",
    "HyxuserIORM_SCSISetMaxQueueDepth",
    "HyxuserIORM_SCSISetActiveState",
    "HyxuserIORM_SCSIGetParams",
    "HyxuserIORM_SCSISetParams",
    "HyxuserIORM_SCSISaveStatsInKernel",
    "HyxuserIORM_SCSISetClusterWideStats",
    "HyxuserIORM_SCSIGetDeviceListAlloc",
    "HyxuserIORM_DeviceListFree",
    "HyxuserIORM_NFSGetVolumeListAlloc",
    "HyxuserIORM_NFSGetMaxQueueDepth",
    "HyxuserIORM_NFSSetMaxQueueDepth",
    "HyxuserIORM_NFSSetActiveState",
    "HyxuserIORM_NFSGetParams",
    "HyxuserIORM_NFSSetParams",
    "HyxuserIORM_NFSSetLatencyThreshold",
    "HyxuserIORM_NFSSetClusterWideStats",
    "HyxuserIORM_NFSGetStats",
    "HyxuserIORM_NFSGetWorldIdsForVolume",
    "HyxuserIORM_NFSGetWorldInfo",
};

// The names the manifest exports, each once whatever its versions.
inline std::set<std::string> ManifestExports(const char *manifest) {
  std::set<std::string> names;
  std::ifstream in(manifest);
  for (std::string line; std::getline(in, line);) {
    std::istringstream fields(line);
    std::string kind, name;
    if (fields >> kind >> name && kind == "export") names.insert(name);
  }
  return names;
}

// What keeps rows (each a space-separated list of exports) and exemptions
// (export to reason) from covering exports, one complaint per fault; empty
// when they cover them.
inline std::vector<std::string> CoverageFaults(const std::set<std::string> &exports,
                                               const std::vector<std::string> &rows,
                                               const std::map<std::string, std::string> &exempt) {
  std::vector<std::string> faults;
  if (exports.empty()) faults.push_back("the manifest lists no export");
  std::set<std::string> covered;
  for (const std::string &row : rows) {
    std::istringstream names(row);
    std::string name;
    bool any = false;
    while (names >> name) {
      any = true;
      covered.insert(name);
      if (!exports.count(name)) faults.push_back("row names no export: " + name);
      if (exempt.count(name)) faults.push_back("exempted export has a row: " + name);
    }
    if (!any) faults.push_back("row names no export at all");
  }
  for (const auto &[name, reason] : exempt) {
    if (!exports.count(name)) faults.push_back("exemption names no export: " + name);
    if (reason.empty()) faults.push_back("exemption without a reason: " + name);
  }
  for (const std::string &name : exports)
    if (!covered.count(name) && !exempt.count(name)) faults.push_back("export without a row: " + name);
  return faults;
}

// Exemptions grouped under the reason they share.
inline std::map<std::string, std::string> Exempt(
    std::initializer_list<std::pair<const char *, std::vector<const char *>>> groups) {
  std::map<std::string, std::string> exempt;
  for (const auto &[reason, names] : groups)
    for (const char *name : names) exempt[name] = reason;
  return exempt;
}
