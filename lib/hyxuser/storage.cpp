// Storage adapters, devices and paths: where an adapter sits on the PCI bus,
// which devices it reaches over working paths, the channel, target and LUN
// of each path to a device, a device's identification page, and the rescan.
// Everything but the rescan is read from the kernel's storage nodes.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "common/export.h"
#include "hyxsysinfo/hsiCallsUser.h"
#include "hyxsysinfo/hsiLoad.h"
#include "hyxsysinfo/hsiTables.h"
#include "hyxsysinfo/hsiTablesRecords.h"
#include "hyxsysinfo/kernelCall.h"

namespace {

// The kernel's storage records are packed; their offsets and sizes come
// from the definitions.  The fields read with U32At are 32-bit words, the
// device's flags single bytes.
static_assert(HSI_SIZEOF_PsaStorHsiAdapterInfo_pciBus == 4 && HSI_SIZEOF_PsaStorHsiAdapterInfo_pciSlot == 4 &&
              HSI_SIZEOF_PsaStorHsiAdapterInfo_pciFunction == 4 &&
              HSI_SIZEOF_PsaStorHsiAdapterInfo_transportType == 4 &&
              HSI_SIZEOF_PsaStorHsiPathInfo_channel == 4 && HSI_SIZEOF_PsaStorHsiPathInfo_targetId == 4 &&
              HSI_SIZEOF_PsaStorHsiPathInfo_lunId == 4 && HSI_SIZEOF_PsaStorHsiDeviceInfo_isNvme == 1 &&
              HSI_SIZEOF_PsaStorHsiDeviceInfo_isNextGen == 1);

constexpr uint64_t kDeviceIdentificationPage = 0x83;

constexpr uint32_t kTransportFcNpiv = 240;  // a virtual port: no PCI function of its own
constexpr uint32_t kPathStateOn = 0;
constexpr size_t kMaxRescanName = 31;

uint32_t U32At(const unsigned char *record, size_t offset) {
  uint32_t value;
  memcpy(&value, record + offset, sizeof value);
  return value;
}

// A malloc'd copy of text (the caller's to free), or null.
char *CopyOf(const char *text) {
  size_t size = strlen(text) + 1;
  auto *copy = static_cast<char *>(malloc(size));
  if (copy != nullptr) memcpy(copy, text, size);
  return copy;
}

// A one-value instance list naming an object; null when it cannot be made.
// *status says why: HYX_NO_MEMORY, or the add's status (a name too long).
HsiParamList NameList(const char *name, uint32_t capacity, HYX_ReturnStatus *status) {
  HsiParamList list = HsiParamList_Alloc(HSI_PARAMLIST_INSTANCE, capacity);
  if (list == nullptr) {
    *status = HYX_NO_MEMORY;
    return nullptr;
  }
  *status = HsiParamList_AddString(list, name);
  if (*status != HYX_OK) {
    HsiParamList_Free(list);
    return nullptr;
  }
  return list;
}

// One leaf read for the object `name`.
HYX_ReturnStatus ReadLeaf(HsiNodeID node, const char *name, void *buffer, uint32_t length) {
  HYX_ReturnStatus status;
  HsiParamList list = NameList(name, 1, &status);
  if (list == nullptr) return status;
  status = Hsi_Get(node, list, buffer, length);
  HsiParamList_Free(list);
  return status;
}

// Reads a path's device UID into uid.  A path whose device the kernel
// cannot name (it went away) is passed over whatever the kernel answers:
// *skip is set and HYX_OK returned.  Only the library's own memory running
// out ends the caller's walk.
HYX_ReturnStatus ReadDeviceUid(HsiParamList path, char (&uid)[HSI_VALUE_SIZE_storage_scsifw_paths_deviceUid],
                               bool *skip) {
  bool answered = false;
  HYX_ReturnStatus status =
      Hsi_GetAnswered(HSI_NODE_storage_scsifw_paths_deviceUid, path, uid, sizeof uid, &answered);
  uid[sizeof uid - 1] = '\0';
  *skip = status != HYX_OK;
  if (status == HYX_NO_MEMORY && !answered) return status;
  return HYX_OK;
}

// The string instance at index of a list, or null for any other kind.
const char *StringAt(HsiParamList list, uint32_t index) {
  const HsiParam *param = HsiParamList_GetParam(list, index);
  return param->type == HSI_PARAM_STRING ? HsiParam_GetString(param) : nullptr;
}

}  // namespace

namespace {

// An adapter's PCI location.  *virtualPort tells an FC-NPIV port, which has
// none (HYX_FAILURE), from a kernel that failed the read with that status.
HYX_ReturnStatus AdapterLocation(const char *adapterName, uint32_t *busOut, uint32_t *slotOut,
                                 uint32_t *functionOut, bool *virtualPort) {
  *virtualPort = false;
  unsigned char info[HSI_VALUE_SIZE_storage_scsifw_adapters_info] = {};
  HYX_ReturnStatus status = ReadLeaf(HSI_NODE_storage_scsifw_adapters_info, adapterName, info, sizeof info);
  if (status != HYX_OK) return status;
  if (U32At(info, HSI_OFFSETOF_PsaStorHsiAdapterInfo_transportType) == kTransportFcNpiv) {
    *virtualPort = true;
    return HYX_FAILURE;
  }
  *busOut = U32At(info, HSI_OFFSETOF_PsaStorHsiAdapterInfo_pciBus);
  *slotOut = U32At(info, HSI_OFFSETOF_PsaStorHsiAdapterInfo_pciSlot);
  *functionOut = U32At(info, HSI_OFFSETOF_PsaStorHsiAdapterInfo_pciFunction);
  return HYX_OK;
}

// The one walk over the kernel's storage paths: lists them into paths, then
// hands each path's one-name list to visitor.Visit until the visitor is
// full, a visit fails (its status ends the walk) or a list cannot be made.
// paths stays null when the listing itself failed.
template <typename Visitor>
HYX_ReturnStatus WalkPaths(HsiParamListGuard &paths, Visitor &visitor) {
  HYX_ReturnStatus status = Hsi_GetList(HSI_NODE_storage_scsifw_paths, nullptr, 0, &paths.list);
  if (status != HYX_OK) return status;
  for (uint32_t i = 0, n = HsiParamList_Count(paths.list); i < n && !visitor.Full(); i++) {
    const char *name = StringAt(paths.list, i);
    if (name == nullptr) continue;
    HsiParamListGuard path(NameList(name, 1, &status));
    if (path.list == nullptr) return status;
    status = visitor.Visit(path.list);
    if (status != HYX_OK) return status;
  }
  return HYX_OK;
}

// Whether a path record names adapterName (the field need not end in a NUL).
bool PathFromAdapter(const unsigned char *info, const char *adapterName) {
  const char *name = reinterpret_cast<const char *>(info + HSI_OFFSETOF_PsaStorHsiPathInfo_adapterName);
  constexpr size_t size = HSI_SIZEOF_PsaStorHsiPathInfo_adapterName;
  return strncmp(name, adapterName, size) == 0 && strnlen(name, size) == strlen(adapterName);
}

// Copies of the device UIDs of the working paths from one adapter.
struct ActiveUids {
  const char *adapterName;
  char **uids;
  uint32_t max;
  uint32_t stored = 0;

  bool Full() const { return stored == max; }

  HYX_ReturnStatus Visit(HsiParamList path) {
    unsigned char info[HSI_VALUE_SIZE_storage_scsifw_paths_info] = {};
    HYX_ReturnStatus status = Hsi_Get(HSI_NODE_storage_scsifw_paths_info, path, info, sizeof info);
    if (status != HYX_OK || !PathFromAdapter(info, adapterName)) return status;
    uint32_t state = UINT32_MAX;
    status = Hsi_Get(HSI_NODE_storage_scsifw_paths_state, path, &state, sizeof state);
    if (status != HYX_OK || state != kPathStateOn) return status;
    char uid[HSI_VALUE_SIZE_storage_scsifw_paths_deviceUid] = {};
    bool skip = true;
    status = ReadDeviceUid(path, uid, &skip);
    if (status != HYX_OK || skip) return status;
    uids[stored] = CopyOf(uid);
    if (uids[stored] == nullptr) return HYX_NO_MEMORY;
    stored++;
    return HYX_OK;
  }

  // A failed call hands nothing out.
  void Drop() {
    for (uint32_t i = 0; i < stored; i++) {
      free(uids[i]);
      uids[i] = nullptr;
    }
    stored = 0;
  }
};

// The adapter, channel, target and LUN of each path to one device, into the
// caller's entries; paths beyond the entries are passed over.  While the
// walk goes on, *count is the index of the last entry filled.
struct PathEntries {
  const char *deviceUid;
  char **adapterNames;
  uint32_t **channels, **targets, **luns;
  uint32_t max;
  int *count;
  int64_t last = -1;  // the index of the last entry filled: -1 until one is

  bool Full() const { return false; }

  HYX_ReturnStatus Visit(HsiParamList path) {
    char uid[HSI_VALUE_SIZE_storage_scsifw_paths_deviceUid] = {};
    bool skip;
    HYX_ReturnStatus status = ReadDeviceUid(path, uid, &skip);
    if (status != HYX_OK || skip || strcmp(uid, deviceUid) != 0) return status;
    unsigned char info[HSI_VALUE_SIZE_storage_scsifw_paths_info] = {};
    status = Hsi_Get(HSI_NODE_storage_scsifw_paths_info, path, info, sizeof info);
    if (status != HYX_OK || last >= static_cast<int64_t>(max) - 1) return status;
    char adapter[HSI_SIZEOF_PsaStorHsiPathInfo_adapterName + 1] = {};
    memcpy(adapter, info + HSI_OFFSETOF_PsaStorHsiPathInfo_adapterName, sizeof adapter - 1);
    char *copy = CopyOf(adapter);
    if (copy == nullptr) return HYX_NO_MEMORY;
    last++;
    *count = static_cast<int>(last);
    adapterNames[last] = copy;
    if (channels[last] != nullptr) *channels[last] = U32At(info, HSI_OFFSETOF_PsaStorHsiPathInfo_channel);
    if (targets[last] != nullptr) *targets[last] = U32At(info, HSI_OFFSETOF_PsaStorHsiPathInfo_targetId);
    if (luns[last] != nullptr) *luns[last] = U32At(info, HSI_OFFSETOF_PsaStorHsiPathInfo_lunId);
    return HYX_OK;
  }
};

}  // namespace

HYX_EXPORT HYX_ReturnStatus HyxuserStorage_GetBusSlotFunctionForHyxkernelAdapterIdentifier(
    const char *adapterName, uint32_t *busOut, uint32_t *slotOut, uint32_t *functionOut) {
  if (hsiLoadStatus != HYX_OK) return hsiLoadStatus;
  if (adapterName == nullptr || busOut == nullptr || slotOut == nullptr || functionOut == nullptr)
    return HYX_BAD_PARAM;
  bool virtualPort;
  return AdapterLocation(adapterName, busOut, slotOut, functionOut, &virtualPort);
}

HYX_EXPORT HYX_ReturnStatus HyxuserStorage_MapBusSlotFuncToHyxkernelAdapterIdentifier(
    uint32_t bus, uint32_t slot, uint32_t function, char *nameOut, int nameOutSize) {
  if (hsiLoadStatus != HYX_OK) return hsiLoadStatus;
  if (nameOut == nullptr) return HYX_BAD_PARAM;
  HsiParamListGuard adapters;
  HYX_ReturnStatus status = Hsi_GetList(HSI_NODE_storage_scsifw_adapters, nullptr, 0, &adapters.list);
  if (status != HYX_OK) return status;
  for (uint32_t i = 0, n = HsiParamList_Count(adapters.list); i < n; i++) {
    const char *name = StringAt(adapters.list, i);
    if (name == nullptr) continue;
    uint32_t b, s, f;
    bool virtualPort;
    status = AdapterLocation(name, &b, &s, &f, &virtualPort);
    // A virtual port has no PCI location: it cannot be the one asked for,
    // and must not hide the adapters listed after it.  Any other failure is
    // the kernel's, and a search that could not look everywhere says so.
    if (virtualPort) continue;
    if (status != HYX_OK) return status;
    if (b != bus || s != slot || f != function) continue;
    if (nameOutSize <= 0 || strlen(name) >= static_cast<size_t>(nameOutSize)) return HYX_NAME_TOO_LONG;
    snprintf(nameOut, static_cast<size_t>(nameOutSize), "%s", name);
    return HYX_OK;
  }
  return HYX_OK;
}

HYX_EXPORT HYX_ReturnStatus HyxuserStorage_GetActiveDeviceUIDsFromHyxkernelAdapterIdentifier(
    const char *adapterName, char **uidsOut, uint32_t maxUids, uint32_t *countOut) {
  if (maxUids == 0 || uidsOut == nullptr) return HYX_BAD_PARAM;
  if (hsiLoadStatus != HYX_OK) return hsiLoadStatus;
  if (countOut == nullptr || adapterName == nullptr) return HYX_BAD_PARAM;
  ActiveUids found{adapterName, uidsOut, maxUids};
  HsiParamListGuard paths;
  HYX_ReturnStatus status = WalkPaths(paths, found);
  if (status != HYX_OK && paths.list == nullptr) return status;  // nothing counted: countOut untouched
  if (status != HYX_OK) found.Drop();
  *countOut = found.stored;
  return status;
}

HYX_EXPORT HYX_ReturnStatus HyxuserStorage_GetAllChannelsTargetsLunsForHyxkernelDeviceUID(
    const char *deviceUid, char **adapterNamesOut, uint32_t **channelsOut, uint32_t **targetsOut,
    uint32_t **lunsOut, uint32_t maxEntries, int *countOut) {
  if (hsiLoadStatus != HYX_OK) return hsiLoadStatus;
  if (deviceUid == nullptr || countOut == nullptr) return HYX_BAD_PARAM;
  if (maxEntries != 0 &&
      (adapterNamesOut == nullptr || channelsOut == nullptr || targetsOut == nullptr || lunsOut == nullptr))
    return HYX_BAD_PARAM;
  *countOut = -1;
  PathEntries entries{deviceUid, adapterNamesOut, channelsOut, targetsOut, lunsOut, maxEntries, countOut};
  HsiParamListGuard paths;
  HYX_ReturnStatus status = WalkPaths(paths, entries);
  if (status == HYX_OK) *countOut = static_cast<int>(entries.last + 1);
  return status;
}

HYX_EXPORT HYX_ReturnStatus HyxuserStorage_GetVPD83ForHyxkernelDeviceUID(const char *deviceUid,
                                                                         uint8_t **bufferRef, int length) {
  if (hsiLoadStatus != HYX_OK) return hsiLoadStatus;
  // Only the page's own bytes can be handed out.
  if (length < 0 || static_cast<size_t>(length) > HSI_VALUE_SIZE_storage_scsifw_devices_inquiryVPD_data)
    return HYX_BAD_PARAM;
  if (deviceUid == nullptr || bufferRef == nullptr || (length > 0 && *bufferRef == nullptr))
    return HYX_BAD_PARAM;
  HsiParamListGuard devices;
  HYX_ReturnStatus status = Hsi_GetList(HSI_NODE_storage_scsifw_devices, nullptr, 0, &devices.list);
  if (status != HYX_OK) return status;
  bool known = false;
  for (uint32_t i = 0, n = HsiParamList_Count(devices.list); i < n && !known; i++) {
    const char *uid = StringAt(devices.list, i);
    known = uid != nullptr && strcmp(uid, deviceUid) == 0;
  }
  if (!known) return HYX_OK;
  HsiParamList params = NameList(deviceUid, 2, &status);
  if (params == nullptr) return status;
  status = HsiParamList_AddInt(params, kDeviceIdentificationPage);
  unsigned char page[HSI_VALUE_SIZE_storage_scsifw_devices_inquiryVPD_data] = {};
  if (status == HYX_OK)
    status = Hsi_Get(HSI_NODE_storage_scsifw_devices_inquiryVPD_data, params, page, sizeof page);
  HsiParamList_Free(params);
  if (status == HYX_OK && length > 0) memcpy(*bufferRef, page, static_cast<size_t>(length));
  return status;
}

HYX_EXPORT HYX_ReturnStatus HyxuserStorage_IsNextgenNvmeHyxkernelDeviceUID(const char *deviceUid,
                                                                           uint8_t *resultOut) {
  if (hsiLoadStatus != HYX_OK) return hsiLoadStatus;
  if (deviceUid == nullptr || resultOut == nullptr) return HYX_BAD_PARAM;
  unsigned char info[HSI_VALUE_SIZE_storage_scsifw_devices_info] = {};
  HYX_ReturnStatus status = ReadLeaf(HSI_NODE_storage_scsifw_devices_info, deviceUid, info, sizeof info);
  if (status != HYX_OK) return status;
  *resultOut = info[HSI_OFFSETOF_PsaStorHsiDeviceInfo_isNextGen] != 0 &&
                       info[HSI_OFFSETOF_PsaStorHsiDeviceInfo_isNvme] != 0
                   ? 1
                   : 0;
  return HYX_OK;
}

HYX_EXPORT HYX_ReturnStatus HyxuserStorage_RescanDeletePathsOnHyxkernelAdapter(const char *adapterName) {
  if (adapterName == nullptr) return HYX_BAD_PARAM;
  size_t length = strlen(adapterName);
  if (length == 0 || length > kMaxRescanName) return HYX_BAD_PARAM;
  return Kernel_Call(KERNEL_CALL_RESCAN_ADAPTER, static_cast<const void *>(adapterName), uint64_t{0});
}
