// Network devices: the physical NICs and the interfaces of the default
// TCP/IP stack, listed from the kernel's instance lists and read leaf by
// leaf into the caller's fixed records.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstring>

#include "common/export.h"
#include "hyxsysinfo/hsiCallsUser.h"
#include "hyxsysinfo/hsiLoad.h"
#include "hyxsysinfo/hsiTables.h"
#include "hyxsysinfo/hsiTablesRecords.h"

static_assert(sizeof(HyxuserPnicInfo) == 148 && offsetof(HyxuserPnicInfo, linkSpeed) == 128 &&
              offsetof(HyxuserPnicInfo, hwCapSupported) == 132 &&
              offsetof(HyxuserPnicInfo, hwCapActivated) == 136 && offsetof(HyxuserPnicInfo, linkUp) == 140 &&
              offsetof(HyxuserPnicInfo, macAddress) == 141);
static_assert(sizeof(HyxuserTcpipInterface) == 168 && offsetof(HyxuserTcpipInterface, mtu) == 8 &&
              offsetof(HyxuserTcpipInterface, macAddress) == 16 &&
              offsetof(HyxuserTcpipInterface, ipv4Address) == 24 &&
              offsetof(HyxuserTcpipInterface, ipv4Netmask) == 32 &&
              offsetof(HyxuserTcpipInterface, name) == 40);

namespace {

constexpr char kDefaultStack[] = "defaultTcpipStack";

// The 32-bit fields read from the NIC properties record.
static_assert(HSI_SIZEOF_NetHsi_pNicPropertiesStruct_linkSpeed == sizeof(uint32_t) &&
              HSI_SIZEOF_NetHsi_pNicPropertiesStruct_hwCap == sizeof(uint32_t) &&
              HSI_SIZEOF_NetHsi_pNicPropertiesStruct_hwAct == sizeof(uint32_t));

uint32_t Word(const uint8_t *bytes, size_t offset) {
  uint32_t value;
  memcpy(&value, bytes + offset, sizeof value);
  return value;
}

// Reads one NIC's properties into record.
HYX_ReturnStatus FillPnic(const char *name, HyxuserPnicInfo *record) {
  HsiParamListGuard params;
  params.list = HsiParamList_Alloc(HSI_PARAMLIST_INSTANCE, 1);
  if (params.list == nullptr) return HYX_NO_MEMORY;
  HYX_ReturnStatus status = HsiParamList_AddString(params.list, name);
  if (status != HYX_OK) return status;
  uint8_t properties[HSI_VALUE_SIZE_net_pNics_properties];
  status = Hsi_Get(HSI_NODE_net_pNics_properties, params.list, properties, sizeof properties);
  if (status != HYX_OK) return status;
  snprintf(record->name, sizeof record->name, "%s", name);
  // The kernel's text is parsed only within its field.
  char mac[HSI_SIZEOF_NetHsi_pNicPropertiesStruct_macAddr + 1];
  memcpy(mac, properties + HSI_OFFSETOF_NetHsi_pNicPropertiesStruct_macAddr, sizeof mac - 1);
  mac[sizeof mac - 1] = '\0';
  uint8_t *m = record->macAddress;
  sscanf(mac, "%02hhx:%02hhx:%02hhx:%02hhx:%02hhx:%02hhx", &m[0], &m[1], &m[2], &m[3], &m[4], &m[5]);
  record->linkSpeed = Word(properties, HSI_OFFSETOF_NetHsi_pNicPropertiesStruct_linkSpeed);
  record->hwCapSupported = Word(properties, HSI_OFFSETOF_NetHsi_pNicPropertiesStruct_hwCap);
  record->hwCapActivated = Word(properties, HSI_OFFSETOF_NetHsi_pNicPropertiesStruct_hwAct);
  record->linkUp = properties[HSI_OFFSETOF_NetHsi_pNicPropertiesStruct_linkUp];
  return HYX_OK;
}

// Reads one interface's leaves (the list holds the stack and the interface).
HYX_ReturnStatus FillInterface(HsiParamList params, HyxuserTcpipInterface *record) {
  uint32_t tsoMss = 0, mtu = 0, address = 0, netmask = 0;
  uint8_t mac[HSI_VALUE_SIZE_net_tcpip_instances_vNics_macaddr];
  HYX_ReturnStatus status =
      Hsi_Get(HSI_NODE_net_tcpip_instances_vNics_tsoMss, params, &tsoMss, sizeof tsoMss);
  if (status == HYX_OK) status = Hsi_Get(HSI_NODE_net_tcpip_instances_vNics_mtu, params, &mtu, sizeof mtu);
  if (status == HYX_OK) status = Hsi_Get(HSI_NODE_net_tcpip_instances_vNics_macaddr, params, mac, sizeof mac);
  if (status == HYX_OK)
    status = Hsi_Get(HSI_NODE_net_tcpip_instances_vNics_v4_ipaddr, params, &address, sizeof address);
  if (status == HYX_OK)
    status = Hsi_Get(HSI_NODE_net_tcpip_instances_vNics_v4_netmask, params, &netmask, sizeof netmask);
  if (status != HYX_OK) return status;
  static_assert(sizeof mac == sizeof record->macAddress);
  // Field by field: bytes 22 and 23 are the caller's.
  record->tsoMss = tsoMss;
  record->mtu = mtu;
  memcpy(record->macAddress, mac, sizeof mac);
  record->ipv4Address = address;
  record->ipv4Netmask = netmask;
  return HYX_OK;
}

HYX_ReturnStatus GetInterfaces(HyxuserTcpipInterface *records, uint32_t maxRecords, uint32_t *count) {
  HsiParamListGuard params;
  params.list = HsiParamList_Alloc(HSI_PARAMLIST_INSTANCE, 2);
  if (params.list == nullptr || HsiParamList_AddString(params.list, kDefaultStack) != HYX_OK)
    return HYX_NO_MEMORY;
  HsiParamListGuard found;
  HYX_ReturnStatus status = Hsi_GetList(HSI_NODE_net_tcpip_instances_vNics, params.list, 0, &found.list);
  if (status != HYX_OK) return status;
  *count = HsiParamList_Count(found.list);
  if (records == nullptr || maxRecords == 0) return HYX_OK;
  uint32_t filled = 0;
  for (uint32_t i = 0; i < *count && filled < maxRecords; i++) {
    const char *name = nullptr;
    status = HsiParamList_GetString(found.list, i, &name);
    if (status == HYX_OK) status = HsiParamList_AddString(params.list, name);
    if (status != HYX_OK) return status;
    HyxuserTcpipInterface *record = &records[filled++];
    status = FillInterface(params.list, record);
    if (status != HYX_OK) return status;
    int length = snprintf(record->name, sizeof record->name, "%s", name);
    if (length < 0 || static_cast<size_t>(length) >= sizeof record->name) return HYX_NAME_TOO_LONG;
    HsiParamList_RemoveLast(params.list);
  }
  return HYX_OK;
}

}  // namespace

HYX_EXPORT HYX_ReturnStatus HyxuserNet_GetPnics(HyxuserPnicInfo *records, uint32_t maxRecords,
                                                uint32_t *countOut) {
  if (hsiLoadStatus != HYX_OK) return hsiLoadStatus;
  if (countOut == nullptr) return HYX_BAD_PARAM;
  HsiParamListGuard found;
  HYX_ReturnStatus status = Hsi_GetList(HSI_NODE_net_pNics, nullptr, 0, &found.list);
  if (status != HYX_OK) return status;
  uint32_t count = HsiParamList_TotalCount(found.list);
  *countOut = count;
  if (records == nullptr || maxRecords == 0) return HYX_OK;
  memset(records, 0, size_t{maxRecords} * sizeof *records);
  for (uint32_t i = 0; i < count && i < maxRecords; i++) {
    const char *name = nullptr;
    status = HsiParamList_GetString(found.list, i, &name);
    if (status == HYX_OK) status = FillPnic(name, &records[i]);
    if (status != HYX_OK) return status;
  }
  return HYX_OK;
}

HYX_EXPORT HYX_ReturnStatus HyxuserTcpip_GetInterfaces(HyxuserTcpipInterface *records, uint32_t maxRecords,
                                                       uint32_t *countOut) {
  if (hsiLoadStatus != HYX_OK) {
    if (countOut != nullptr) *countOut = 0;
    return HYX_CHECKSUM_MISMATCH;
  }
  uint32_t count = 0;
  HYX_ReturnStatus status = GetInterfaces(records, maxRecords, &count);
  if (countOut != nullptr) *countOut = status == HYX_OK ? count : 0;
  return status;
}
