// hyxhsi storage: the host's storage adapters, devices and paths.  The
// names come from the kernel's lists, which no export gives, read through
// the library's client; what is known of each name comes from the exports.
// A look-up the library refuses is an error, never a blank in the table.
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "hyxhsi.h"
#include "hyxsysinfo/hsiCallsUser.h"
#include "hyxsysinfo/hsiTables.h"
#include "json.h"

namespace hyxhsi {
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
  for (int i = 0; i < count && i < static_cast<int>(kMaxEntries); i++)
    paths.push_back({adapters[i] ? adapters[i] : "", channels[i], targets[i], luns[i]});
  for (char *name : adapters) free(name);
  return status;
}

struct Adapter {
  std::string name;
  bool pci = false;
  uint32_t bus = 0, slot = 0, function = 0;
  std::vector<std::string> active;
};

// Everything is read before anything is printed: a refusal half way
// leaves no half a table and no half a JSON value.
HYX_ReturnStatus ReadAdapter(const std::string &name, Adapter &adapter, std::string &what) {
  adapter.name = name;
  what = name + ": PCI location";
  HYX_ReturnStatus status = HyxuserStorage_GetBusSlotFunctionForHyxkernelAdapterIdentifier(
      name.c_str(), &adapter.bus, &adapter.slot, &adapter.function);
  // A virtual port has no PCI location: the library says so with
  // HYX_FAILURE.  Anything else is a refusal.
  if (status != HYX_OK && status != HYX_FAILURE) return status;
  adapter.pci = status == HYX_OK;
  char *uids[kMaxEntries] = {};
  uint32_t count = 0;
  what = name + ": active devices";
  status = HyxuserStorage_GetActiveDeviceUIDsFromHyxkernelAdapterIdentifier(name.c_str(), uids, kMaxEntries,
                                                                            &count);
  for (uint32_t i = 0; i < count && i < kMaxEntries; i++) adapter.active.emplace_back(uids[i] ? uids[i] : "");
  for (char *uid : uids) free(uid);
  return status;
}

int Adapters() {
  std::vector<std::string> names;
  HYX_ReturnStatus status = Names(HSI_NODE_storage_scsifw_adapters, names);
  if (status != HYX_OK) return Fail("adapters", status);
  std::vector<Adapter> adapters(names.size());
  std::string what;
  for (size_t i = 0; i < names.size(); i++)
    if ((status = ReadAdapter(names[i], adapters[i], what)) != HYX_OK) return Fail(what, status);
  if (JsonOutput()) {
    JsonWriter json(Out());
    json.BeginArray();
    for (const Adapter &a : adapters) {
      json.BeginObject();
      json.Field("name", a.name.c_str());
      json.Key("pci");
      if (a.pci) {
        json.BeginObject();
        json.Field("bus", a.bus), json.Field("slot", a.slot), json.Field("function", a.function);
        json.EndObject();
      } else {
        json.Null();
      }
      json.Key("activeDevices");
      json.BeginArray();
      for (const std::string &uid : a.active) json.String(uid.c_str());
      json.EndArray();
      json.EndObject();
    }
    json.EndArray();
    return 0;
  }
  printf("%-12s %-14s %s\n", "ADAPTER", "PCI", "ACTIVE DEVICES");
  for (const Adapter &a : adapters) {
    char location[32] = "none";
    if (a.pci) snprintf(location, sizeof location, "0000:%02x:%02x.%x", a.bus, a.slot, a.function);
    printf("%-12s %-14s", a.name.c_str(), location);
    for (size_t i = 0; i < a.active.size(); i++) printf("%s%s", i ? ", " : " ", a.active[i].c_str());
    printf("\n");
  }
  return 0;
}

struct Device {
  std::string uid;
  bool nextgen = false;
  size_t paths = 0;
  std::string vpd83;
};

HYX_ReturnStatus ReadDevice(const std::string &uid, Device &device, std::string &what) {
  device.uid = uid;
  uint8_t nextgen = 0;
  what = uid + ": NVMe generation";
  HYX_ReturnStatus status = HyxuserStorage_IsNextgenNvmeHyxkernelDeviceUID(uid.c_str(), &nextgen);
  if (status != HYX_OK) return status;
  device.nextgen = nextgen != 0;
  std::vector<Path> paths;
  what = uid + ": paths";
  if ((status = PathsOf(uid, paths)) != HYX_OK) return status;
  device.paths = paths.size();
  uint8_t page[kVpdBytes] = {};
  uint8_t *buffer = page;
  what = uid + ": inquiry page 0x83";
  if ((status = HyxuserStorage_GetVPD83ForHyxkernelDeviceUID(uid.c_str(), &buffer, kVpdBytes)) != HYX_OK)
    return status;
  int shown = 4 + page[3] < kVpdBytes ? 4 + page[3] : kVpdBytes;
  for (int i = 0; i < shown; i++) {
    char byte[3];
    snprintf(byte, sizeof byte, "%02x", page[i]);
    device.vpd83 += byte;
  }
  return HYX_OK;
}

int Devices() {
  std::vector<std::string> uids;
  HYX_ReturnStatus status = Names(HSI_NODE_storage_scsifw_devices, uids);
  if (status != HYX_OK) return Fail("devices", status);
  std::vector<Device> devices(uids.size());
  std::string what;
  for (size_t i = 0; i < uids.size(); i++)
    if ((status = ReadDevice(uids[i], devices[i], what)) != HYX_OK) return Fail(what, status);
  if (JsonOutput()) {
    JsonWriter json(Out());
    json.BeginArray();
    for (const Device &d : devices) {
      json.BeginObject();
      json.Field("uid", d.uid.c_str());
      json.Field("nextgenNvme", d.nextgen);
      json.Field("paths", static_cast<uint32_t>(d.paths));
      json.Field("vpd83", d.vpd83.c_str());
      json.EndObject();
    }
    json.EndArray();
    return 0;
  }
  printf("%-40s %-13s %-5s %s\n", "DEVICE", "NEXTGEN NVME", "PATHS", "PAGE 0x83");
  for (const Device &d : devices)
    printf("%-40s %-13s %-5zu %s\n", d.uid.c_str(), d.nextgen ? "yes" : "no", d.paths, d.vpd83.c_str());
  return 0;
}

int Paths() {
  std::vector<std::string> uids;
  HYX_ReturnStatus status = Names(HSI_NODE_storage_scsifw_devices, uids);
  if (status != HYX_OK) return Fail("paths", status);
  std::vector<std::pair<std::string, Path>> rows;
  for (const std::string &uid : uids) {
    std::vector<Path> paths;
    if ((status = PathsOf(uid, paths)) != HYX_OK) return Fail(uid + ": paths", status);
    for (const Path &p : paths) rows.emplace_back(uid, p);
  }
  if (JsonOutput()) {
    JsonWriter json(Out());
    json.BeginArray();
    for (const auto &[uid, p] : rows) {
      json.BeginObject();
      json.Field("device", uid.c_str());
      json.Field("adapter", p.adapter.c_str());
      json.Field("channel", p.channel), json.Field("target", p.target), json.Field("lun", p.lun);
      json.EndObject();
    }
    json.EndArray();
    return 0;
  }
  printf("%-12s %-7s %-6s %-4s %s\n", "ADAPTER", "CHANNEL", "TARGET", "LUN", "DEVICE");
  for (const auto &[uid, p] : rows)
    printf("%-12s %-7u %-6u %-4u %s\n", p.adapter.c_str(), p.channel, p.target, p.lun, uid.c_str());
  return 0;
}

int RunStorage(int argc, char **argv) {
  if (argc < 1) return UsageError("which list: adapters, devices or paths");
  if (argc > 1) return UsageError(std::string("one list at a time; not expected: ") + Shown(argv[1]));
  if (strcmp(argv[0], "adapters") == 0) return Adapters();
  if (strcmp(argv[0], "devices") == 0) return Devices();
  if (strcmp(argv[0], "paths") == 0) return Paths();
  return UsageError(std::string("no list ") + Shown(argv[0]));
}

constexpr Form kStorageForms[] = {
    {"adapters", "", "adapters, their PCI location (null for a virtual port) and the devices on active paths",
     "[{\"name\": text, \"pci\": {\"bus\", \"slot\", \"function\": number} or null, \"activeDevices\": "
     "[text, ...]}, ...]"},
    {"devices", "", "devices: next-generation NVMe, paths, inquiry page 0x83",
     "[{\"uid\": text, \"nextgenNvme\": bool, \"paths\": number, \"vpd83\": hex text}, ...]"},
    {"paths", "", "every path: adapter, channel, target, LUN and device",
     "[{\"device\": text, \"adapter\": text, \"channel\", \"target\", \"lun\": number}, ...]"},
};

}  // namespace

extern const Command kStorageCommand = MakeCommand("storage", kStorageForms, RunStorage);

}  // namespace hyxhsi
