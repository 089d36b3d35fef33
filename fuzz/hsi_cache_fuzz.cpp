// Cache files as the library's reader meets them: the input is written to a
// memory file, the cache is switched on from it, a fixed round of look-ups
// runs (directly and through the call layer and the node look-ups), and the
// cache is switched off.  An input whose block chain does not hold is tried
// again with its chain repaired (one block over everything before the
// trailer), so that a mutated chain does not hide the records behind it.
#include <sys/mman.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "hyxsysinfo/hsiCacheFormat.h"
#include "hyxsysinfo/hsiCacheUser.h"
#include "hyxsysinfo/hsiCallsUser.h"
#include "hyxsysinfo/hsiNodes.h"
#include "hyxsysinfo/hsiTables.h"

namespace {

void Check(bool ok) {
  if (!ok) abort();
}

// Static nodes worth a look beyond the first few slots.
const HsiNodeID kStaticNodes[] = {HSI_NODE_sysInfoNodeHashes,
                                  HSI_NODE_net_pNics,
                                  HSI_NODE_net_pNics_properties,
                                  HSI_NODE_net_tcpip_instances_vNics,
                                  HSI_NODE_net_tcpip_instances_vNics_mtu,
                                  HSI_NODE_system_version,
                                  HSI_NODE_uefi_variable};
constexpr uint32_t kSlots = 24;
constexpr uint32_t kMaxLength = 1 << 16;

// The argument lists every node is asked with.
struct ArgLists {
  HsiParamList lists[5];
  ArgLists() {
    for (HsiParamList &list : lists) list = HsiParamList_Alloc(HSI_PARAMLIST_INSTANCE, 2);
    HsiParamList_AddString(lists[1], "vmnic0");
    HsiParamList_AddInt(lists[2], 1);
    HsiParamList_AddString(lists[3], "defaultTcpipStack");
    HsiParamList_AddString(lists[3], "vmk0");
    HsiParamList_AddInt(lists[4], 0);
    HsiParamList_AddString(lists[4], "a");
  }
};

void Visit(HsiNodeID node, HsiModuleID module, const ArgLists &args, std::vector<uint8_t> &buffer) {
  HsiNodeDef def{};
  char name[32];
  uint32_t length = 0;
  if (node < HSI_MODULE_NODE_BASE) {
    if (node < hsiTables.nodeCount) length = hsiTables.nodes[node].getSize;
  } else if (HsiCache_GetNodeDef(node, module, &def, name, sizeof name) == HYX_OK) {
    length = def.getSize;
  }
  if (length > kMaxLength) length = kMaxLength;
  const HsiTypeDef *type = nullptr;
  if (HsiCache_GetNodeType(node, module, &type) == HYX_OK)
    HsiNode_ReleaseType(type);
  else
    Check(type == nullptr);
  for (HsiParamList list : args.lists) {
    HsiCache_Get(node, module, list, buffer.data(), length);
    HsiCacheVerifyInstanceArgs(node, module, true, list);
    HsiParamList out = HsiParamList_Alloc(HSI_PARAMLIST_INSTANCE, 2);
    if (HsiCache_GetInstanceList(node, module, list, out) == HYX_OK) {
      for (uint32_t i = 0; i < HsiParamList_Count(out); i++) {
        const char *text;
        if (HsiParamList_GetString(out, i, &text) == HYX_OK) Check(strlen(text) < HSI_PARAM_MAX_STRING);
      }
    }
    HsiParamList_Free(out);
  }
}

// Module nodes through the call layer and the node look-ups: the first
// value names the module ("" matches the first module of the index).
void ThroughTheCallLayer(HsiModuleID module) {
  HsiParamList params = HsiParamList_Alloc(HSI_PARAMLIST_INSTANCE, 2);
  HsiParamList_AddString(params, "");
  for (HsiNodeID node = HSI_MODULE_NODE_BASE; node < HSI_MODULE_NODE_BASE + 4; node++) {
    HsiParamList out = nullptr;
    if (Hsi_GetList(node, params, 0, &out) == HYX_OK) HsiParamList_Free(out);
    free(HsiNode_GetIdentifierName(node, module));
    uint32_t count;
    HsiNode_GetChildCount(node, module, &count);
    const HsiTypeDef *type = nullptr;
    if (HsiNode_GetType(node, module, HSI_TYPE_OF_GET, &type) == HYX_OK) HsiNode_ReleaseType(type);
    HsiNode_IsValid(node, module);
  }
  const HsiNodeDef *def = nullptr;
  if (HsiNode_FindChild(HSI_MODULE_NODE_BASE, module, "x", &def) == HYX_OK) HsiNode_ReleaseDef(def);
  uint8_t value[16];
  Hsi_Get(HSI_MODULE_NODE_BASE + 1, params, value, sizeof value);
  HsiParamList_Free(params);
}

void Lookups() {
  static ArgLists args;
  static std::vector<uint8_t> buffer(kMaxLength);
  char build[HSI_CACHE_BUILD_SIZE];
  if (HsiCache_GetBuildInfo(build, sizeof build) != HYX_NOT_INITIALIZED) Check(strlen(build) < sizeof build);
  HsiModuleID modules[3] = {0, -1, -1};
  HsiCache_GetModuleID("", &modules[1]);
  HsiCache_GetModuleID("net", &modules[2]);
  for (HsiModuleID module : modules) {
    HsiNodeID child;
    HsiCache_GetModuleRootChild(module, &child);
    for (HsiNodeID base : {HsiNodeID{0}, HSI_MODULE_NODE_BASE}) {
      for (HsiNodeID node = base; node < base + kSlots; node++) {
        if (HsiCache_NodeExists(node, module)) Visit(node, module, args, buffer);
      }
    }
    for (HsiNodeID node : kStaticNodes) {
      if (HsiCache_NodeExists(node, module)) Visit(node, module, args, buffer);
    }
    ThroughTheCallLayer(module);
  }
}

void Run(int fd, const uint8_t *data, size_t size) {
  Check(ftruncate(fd, 0) == 0);
  Check(pwrite(fd, data, size, 0) == static_cast<ssize_t>(size));
  char path[64];
  snprintf(path, sizeof path, "/proc/self/fd/%d", fd);
  hsiCacheVerbosity = -1;  // silent from the start: init reports at the level it finds
  if (Hsi_EnableCache(path, -1) != HYX_OK) return;
  Lookups();
  Hsi_DisableCache();
  Check(HsiCache_GetBuildInfo(nullptr, 0) == HYX_NOT_INITIALIZED);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  static int fd = memfd_create("hsi_cache_fuzz", MFD_CLOEXEC);
  Check(fd >= 0);
  Run(fd, data, size);
  // The same records behind a chain that holds.
  // (Block lengths are even: bit 0 marks the last block.)
  if (size >= sizeof(uint32_t) + sizeof(HsiCacheTrailer) && (size - sizeof(HsiCacheTrailer)) % 2 == 0) {
    std::vector<uint8_t> repaired(data, data + size);
    uint32_t header = static_cast<uint32_t>(size - sizeof(HsiCacheTrailer)) | HSI_CACHE_LAST_BLOCK;
    memcpy(repaired.data(), &header, sizeof header);
    Run(fd, repaired.data(), repaired.size());
  }
  return 0;
}
