// hyxinfo storage: the host's storage adapters, devices and paths.
//
// The library answers questions about named adapters and devices; the
// names themselves come from the kernel's lists, read here through the
// library's system-information client (linked from its internal archive,
// since no export lists them).
//
// --json shapes: the command table in hyxinfo.cpp.
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "hyxinfo.h"
#include "hyxsysinfo/hsiCallsUser.h"
#include "hyxsysinfo/hsiTables.h"
#include "json.h"

namespace hyxinfo {
namespace {

constexpr uint32_t kMaxEntries = 64;
constexpr int kVpdBytes = 24;

// The string instances of a kernel list node.
HYX_ReturnStatus Names(HsiNodeID node, std::vector<std::string> &names) {
  HsiParamList list = nullptr;
  HYX_ReturnStatus status = Hsi_GetList(node, nullptr, 0, &list);
  if (status != HYX_OK) return status;
  for (uint32_t i = 0; i < HsiParamList_Count(list); i++) {
    const HsiParam *param = HsiParamList_GetParam(list, i);
    if (param->type == HSI_PARAM_STRING) names.emplace_back(HsiParam_GetString(param));
  }
  HsiParamList_Free(list);
  return HYX_OK;
}

struct Path {
  std::string adapter;
  uint32_t channel, target, lun;
};

HYX_ReturnStatus PathsOf(const std::string &device, std::vector<Path> &paths) {
  char *adapters[kMaxEntries] = {};
  uint32_t channels[kMaxEntries], targets[kMaxEntries], luns[kMaxEntries];
  uint32_t *c[kMaxEntries], *t[kMaxEntries], *l[kMaxEntries];
  for (uint32_t i = 0; i < kMaxEntries; i++) c[i] = &channels[i], t[i] = &targets[i], l[i] = &luns[i];
  int count = -1;
  HYX_ReturnStatus status = HyxuserStorage_GetAllChannelsTargetsLunsForHyxkernelDeviceUID(
      device.c_str(), adapters, c, t, l, kMaxEntries, &count);
  for (int i = 0; i < count; i++) paths.push_back({adapters[i], channels[i], targets[i], luns[i]});
  for (char *name : adapters) free(name);
  return status;
}

int Adapters() {
  std::vector<std::string> names;
  HYX_ReturnStatus status = Names(HSI_NODE_storage_scsifw_adapters, names);
  if (status != HYX_OK) return Fail("adapters", status);
  JsonWriter *json = JsonOutput() ? new JsonWriter(stdout) : nullptr;
  if (json)
    json->BeginArray();
  else
    printf("%-12s %-14s %s\n", "ADAPTER", "PCI", "ACTIVE DEVICES");
  for (const std::string &name : names) {
    uint32_t bus = 0, slot = 0, function = 0;
    bool pci = HyxuserStorage_GetBusSlotFunctionForHyxkernelAdapterIdentifier(name.c_str(), &bus, &slot,
                                                                              &function) == HYX_OK;
    char *uids[kMaxEntries] = {};
    uint32_t count = 0;
    HyxuserStorage_GetActiveDeviceUIDsFromHyxkernelAdapterIdentifier(name.c_str(), uids, kMaxEntries, &count);
    if (json) {
      json->BeginObject();
      json->Field("name", name.c_str());
      json->Key("pci");
      if (pci) {
        json->BeginObject();
        json->Field("bus", bus), json->Field("slot", slot), json->Field("function", function);
        json->EndObject();
      } else {
        json->Null();
      }
      json->Key("activeDevices");
      json->BeginArray();
      for (uint32_t i = 0; i < count; i++) json->String(uids[i]);
      json->EndArray();
      json->EndObject();
    } else {
      char location[32] = "-";
      if (pci) snprintf(location, sizeof location, "0000:%02x:%02x.%x", bus, slot, function);
      printf("%-12s %-14s", name.c_str(), location);
      for (uint32_t i = 0; i < count; i++) printf("%s%s", i ? ", " : " ", uids[i]);
      printf("\n");
    }
    for (uint32_t i = 0; i < count; i++) free(uids[i]);
  }
  if (json) json->EndArray();
  delete json;
  return 0;
}

int Devices() {
  std::vector<std::string> uids;
  HYX_ReturnStatus status = Names(HSI_NODE_storage_scsifw_devices, uids);
  if (status != HYX_OK) return Fail("devices", status);
  JsonWriter *json = JsonOutput() ? new JsonWriter(stdout) : nullptr;
  if (json)
    json->BeginArray();
  else
    printf("%-40s %-13s %-5s %s\n", "DEVICE", "NEXTGEN NVME", "PATHS", "PAGE 0x83");
  for (const std::string &uid : uids) {
    uint8_t nextgen = 0;
    HyxuserStorage_IsNextgenNvmeHyxkernelDeviceUID(uid.c_str(), &nextgen);
    std::vector<Path> paths;
    PathsOf(uid, paths);
    uint8_t page[kVpdBytes] = {};
    uint8_t *buffer = page;
    HyxuserStorage_GetVPD83ForHyxkernelDeviceUID(uid.c_str(), &buffer, kVpdBytes);
    std::string hex;
    int shown = 4 + page[3] < kVpdBytes ? 4 + page[3] : kVpdBytes;
    for (int i = 0; i < shown; i++) {
      char byte[3];
      snprintf(byte, sizeof byte, "%02x", page[i]);
      hex += byte;
    }
    if (json) {
      json->BeginObject();
      json->Field("uid", uid.c_str());
      json->Field("nextgenNvme", nextgen != 0);
      json->Field("paths", static_cast<uint32_t>(paths.size()));
      json->Field("vpd83", hex.c_str());
      json->EndObject();
    } else {
      printf("%-40s %-13s %-5zu %s\n", uid.c_str(), nextgen ? "yes" : "no", paths.size(), hex.c_str());
    }
  }
  if (json) json->EndArray();
  delete json;
  return 0;
}

int Paths() {
  std::vector<std::string> uids;
  HYX_ReturnStatus status = Names(HSI_NODE_storage_scsifw_devices, uids);
  if (status != HYX_OK) return Fail("paths", status);
  JsonWriter *json = JsonOutput() ? new JsonWriter(stdout) : nullptr;
  if (json)
    json->BeginArray();
  else
    printf("%-12s %-7s %-6s %-4s %s\n", "ADAPTER", "CHANNEL", "TARGET", "LUN", "DEVICE");
  for (const std::string &uid : uids) {
    std::vector<Path> paths;
    status = PathsOf(uid, paths);
    if (status != HYX_OK) {
      delete json;
      return Fail(uid.c_str(), status);
    }
    for (const Path &p : paths) {
      if (json) {
        json->BeginObject();
        json->Field("device", uid.c_str());
        json->Field("adapter", p.adapter.c_str());
        json->Field("channel", p.channel), json->Field("target", p.target), json->Field("lun", p.lun);
        json->EndObject();
      } else {
        printf("%-12s %-7u %-6u %-4u %s\n", p.adapter.c_str(), p.channel, p.target, p.lun, uid.c_str());
      }
    }
  }
  if (json) json->EndArray();
  delete json;
  return 0;
}

int Pci(const char *adapter) {
  uint32_t bus = 0, slot = 0, function = 0;
  HYX_ReturnStatus status =
      HyxuserStorage_GetBusSlotFunctionForHyxkernelAdapterIdentifier(adapter, &bus, &slot, &function);
  if (status != HYX_OK) return Fail(adapter, status);
  if (JsonOutput()) {
    JsonWriter json(stdout);
    json.BeginObject();
    json.Field("adapter", adapter);
    json.Field("bus", bus), json.Field("slot", slot), json.Field("function", function);
    json.EndObject();
  } else {
    printf("%s 0000:%02x:%02x.%x\n", adapter, bus, slot, function);
  }
  return 0;
}

}  // namespace

int RunStorage(int argc, char **argv) {
  FollowTranslation();
  if (argc == 1 && strcmp(argv[0], "adapters") == 0) return Adapters();
  if (argc == 1 && strcmp(argv[0], "devices") == 0) return Devices();
  if (argc == 1 && strcmp(argv[0], "paths") == 0) return Paths();
  if (argc == 2 && strcmp(argv[0], "pci") == 0) return Pci(argv[1]);
  return kUsage;
}

}  // namespace hyxinfo
