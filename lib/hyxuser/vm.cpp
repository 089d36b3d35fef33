// From a kernel world to the virtual machine it belongs to: the world's
// group, the group's leader, and the leader's VM record, whose identity and
// configuration path the caller gets.
//
// The mapping is exported under several versions.  Programs built against
// the oldest one reach today's default through the dynamic binding, so a
// default that a program interposes is honoured for them too; the later
// versions hand out the whole configuration path.
#include <cstddef>
#include <cstring>

#include "common/export.h"
#include "hyxsysinfo/hsiCallsUser.h"
#include "hyxsysinfo/hsiLoad.h"
#include "hyxsysinfo/hsiTables.h"
#include "hyxsysinfo/hsiTablesRecords.h"

namespace {

// The kernel's records are packed; their offsets and sizes come from the
// definitions.  Either uuid fits the caller's uuid buffer.
static_assert(HSI_SIZEOF_WorldHsiGroupInfo_instanceUuid == HSI_SIZEOF_WorldHsiGroupInfo_uuid &&
              HSI_SIZEOF_WorldHsiInfo_groupID == sizeof(uint32_t));

constexpr size_t kShortPathSize = 1024;  // what the first versions hand out

// Reads the VM record of world's group leader into group.
HYX_ReturnStatus ReadGroupInfo(uint32_t world, unsigned char (&group)[HSI_VALUE_SIZE_vm_vmmGroupInfo]) {
  if (hsiLoadStatus != HYX_OK) return hsiLoadStatus;
  HsiParamList params = HsiParamList_Alloc(HSI_PARAMLIST_INSTANCE, 1);
  if (params == nullptr) return HYX_NO_MEMORY;
  unsigned char info[HSI_VALUE_SIZE_world_info] = {};
  uint32_t groupId = 0, leader = 0;
  HYX_ReturnStatus status = HsiParamList_AddInt(params, world);
  if (status == HYX_OK) status = Hsi_Get(HSI_NODE_world_info, params, info, sizeof info);
  if (status == HYX_OK) {
    memcpy(&groupId, info + HSI_OFFSETOF_WorldHsiInfo_groupID, sizeof groupId);
    status = HsiParamList_RemoveLast(params);
  }
  if (status == HYX_OK) status = HsiParamList_AddInt(params, groupId);
  if (status == HYX_OK) status = Hsi_Get(HSI_NODE_worldGroups_vmmLeaderID, params, &leader, sizeof leader);
  if (status == HYX_OK) status = HsiParamList_RemoveLast(params);
  if (status == HYX_OK) status = HsiParamList_AddInt(params, leader);
  if (status == HYX_OK) status = Hsi_Get(HSI_NODE_vm_vmmGroupInfo, params, group, sizeof group);
  HsiParamList_Free(params);
  return status;
}

// The lookup and the copies: strncpy of the chosen uuid (128 bytes) and of
// the configuration path (pathSize bytes): padded with NULs, and not
// terminated when the text fills the field.
HYX_ReturnStatus MapWorld(uint32_t world, size_t uuidOffset, size_t pathSize, char *uuidOut, char *pathOut) {
  unsigned char group[HSI_VALUE_SIZE_vm_vmmGroupInfo];
  HYX_ReturnStatus status = ReadGroupInfo(world, group);
  if (status != HYX_OK) return status;
  if (uuidOut != nullptr)
    strncpy(uuidOut, reinterpret_cast<const char *>(group + uuidOffset), HSI_SIZEOF_WorldHsiGroupInfo_uuid);
  if (pathOut != nullptr) {
    // The kernel's field need not end in a NUL: copy at most its size.
    size_t length = strnlen(reinterpret_cast<const char *>(group + HSI_OFFSETOF_WorldHsiGroupInfo_cfgPath),
                            HSI_SIZEOF_WorldHsiGroupInfo_cfgPath);
    if (length > pathSize) length = pathSize;
    memcpy(pathOut, group + HSI_OFFSETOF_WorldHsiGroupInfo_cfgPath, length);
    memset(pathOut + length, 0, pathSize - length);
  }
  return HYX_OK;
}

}  // namespace

// Today's default: the uuid and the path cut to 1024 bytes.
HYX_EXPORT HYX_ReturnStatus VM_MapWorldIdToUUIDAndPath_0_15(uint32_t worldId, char *uuidOut, char *pathOut) {
  return MapWorld(worldId, HSI_OFFSETOF_WorldHsiGroupInfo_uuid, kShortPathSize, uuidOut, pathOut);
}
HYX_SYMVER(VM_MapWorldIdToUUIDAndPath_0_15, "HyxuserVM_MapWorldIdToUUIDAndPath@@NORVEX_HYXUSERVERSION_0.15");

// The oldest version calls the default by name, through the dynamic binding.
HYX_EXPORT HYX_ReturnStatus VM_MapWorldIdToUUIDAndPath_0_11_1(uint32_t worldId, char *uuidOut,
                                                              char *pathOut) {
  return HyxuserVM_MapWorldIdToUUIDAndPath(worldId, uuidOut, pathOut);
}
HYX_SYMVER(VM_MapWorldIdToUUIDAndPath_0_11_1,
           "HyxuserVM_MapWorldIdToUUIDAndPath@NORVEX_HYXUSERVERSION_0.11.1");

// The whole path, under its own name and as a non-default version of the
// old name.
HYX_EXPORT HYX_ReturnStatus HyxuserVM_MapWorldIdToUUIDAndPath_0_24(uint32_t worldId, char *uuidOut,
                                                                   char *pathOut) {
  return MapWorld(worldId, HSI_OFFSETOF_WorldHsiGroupInfo_uuid, HSI_SIZEOF_WorldHsiGroupInfo_cfgPath, uuidOut,
                  pathOut);
}

HYX_EXPORT HYX_ReturnStatus VM_MapWorldIdToUUIDAndPath_0_24(uint32_t worldId, char *uuidOut, char *pathOut) {
  return MapWorld(worldId, HSI_OFFSETOF_WorldHsiGroupInfo_uuid, HSI_SIZEOF_WorldHsiGroupInfo_cfgPath, uuidOut,
                  pathOut);
}
HYX_SYMVER(VM_MapWorldIdToUUIDAndPath_0_24, "HyxuserVM_MapWorldIdToUUIDAndPath@NORVEX_HYXUSERVERSION_0.24");

// The instance uuid and the path cut to 1024 bytes.
HYX_EXPORT HYX_ReturnStatus VM_MapWorldIdToInstanceUUIDAndPath_0_16(uint32_t worldId, char *uuidOut,
                                                                    char *pathOut) {
  return MapWorld(worldId, HSI_OFFSETOF_WorldHsiGroupInfo_instanceUuid, kShortPathSize, uuidOut, pathOut);
}
HYX_SYMVER(VM_MapWorldIdToInstanceUUIDAndPath_0_16,
           "HyxuserVM_MapWorldIdToInstanceUUIDAndPath@@NORVEX_HYXUSERVERSION_0.16");

// From 0.24 on the instance mapping is the uuid mapping of 0.24: the uuid,
// not the instance uuid, and the whole path.
HYX_EXPORT HYX_ReturnStatus HyxuserVM_MapWorldIdToInstanceUUIDAndPath_0_24(uint32_t worldId, char *uuidOut,
                                                                           char *pathOut) {
  return MapWorld(worldId, HSI_OFFSETOF_WorldHsiGroupInfo_uuid, HSI_SIZEOF_WorldHsiGroupInfo_cfgPath, uuidOut,
                  pathOut);
}

HYX_EXPORT HYX_ReturnStatus VM_MapWorldIdToInstanceUUIDAndPath_0_24(uint32_t worldId, char *uuidOut,
                                                                    char *pathOut) {
  return MapWorld(worldId, HSI_OFFSETOF_WorldHsiGroupInfo_uuid, HSI_SIZEOF_WorldHsiGroupInfo_cfgPath, uuidOut,
                  pathOut);
}
HYX_SYMVER(VM_MapWorldIdToInstanceUUIDAndPath_0_24,
           "HyxuserVM_MapWorldIdToInstanceUUIDAndPath@NORVEX_HYXUSERVERSION_0.24");
