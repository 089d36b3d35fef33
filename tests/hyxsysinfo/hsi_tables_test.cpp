// The generated node and type tables: their figures, layout, links,
// identifier constants, the pinned nodes and structures, the look-ups, and
// the signatures of a second, renumbered table set.
#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "hyxsysinfo/hsiNodes.h"
#include "hyxsysinfo/hsiTables.h"
#include "hyxsysinfo/hsiTablesRecords.h"
#include "renumbered/hsiTablesRenumbered.h"

namespace {

const HsiNodeDef &Node(uint32_t id) { return hsiTables.nodes[id]; }

std::string Path(uint32_t id) {
  char *name = HsiNode_GetIdentifierName(id, 0);
  std::string path = name ? name + strlen("HSI_NODE_") : "";
  free(name);
  return path;
}

const HsiFieldDef *Field(const HsiTypeDef *type, const char *name) {
  for (uint64_t i = 0; i < type->a.count; i++)
    if (strcmp(type->b.fields[i].name, name) == 0) return &type->b.fields[i];
  return nullptr;
}

int Depth(uint32_t id) {
  int depth = 0;
  for (; id != 0; id = Node(id).parent) depth++;
  return depth;
}

TEST(HsiTables, CountsAndSignature) {
  EXPECT_EQ(hsiTables.nodeCount, 2823u);
  EXPECT_EQ(hsiTables.typeCount, 1637u);
  EXPECT_EQ(hsiTables.signature, HSI_SIGNATURE);
  EXPECT_STREQ(HSI_SIGNATURE, "cbb6750cadfd9bfe09e754645c863552");
  EXPECT_EQ(sizeof(hsiTables.fields) / sizeof(HsiFieldDef), 6227u);
  EXPECT_EQ(sizeof(hsiTables.enumValues) / sizeof(HsiEnumValueDef), 1818u);
}

// The figures of the tree and the type table, counted from the tables.
TEST(HsiTables, Figures) {
  std::map<std::string, uint64_t> n;
  for (uint32_t id = 0; id < hsiTables.nodeCount; id++) {
    const HsiNodeDef &d = Node(id);
    n[d.leaf ? "leaves" : "branches"]++;
    n["instance"] += d.instance;
    n["integerKey"] += d.integerKey;
    n["variableLength"] += d.variableLength;
    n["typedSetInput"] += d.typedSetInput;
    n["recursive"] += d.recursive & 1;
    n["recursiveOther"] += d.recursive && !(d.recursive & 1);
    n["moduleRoot"] += d.moduleRoot;
    if (id) n["topLevel"] += d.parent == 0;
    n["maxDepth"] = std::max<uint64_t>(n["maxDepth"], Depth(id));
    // Every address a row holds is relocated at load time.
    n["relocations"] += 1 + !!d.getTypeDef + !!d.setInputTypeDef + !!d.setOutputTypeDef;
  }
  const char *kinds[] = {"scalar", "array", "struct", "enum"};
  for (uint32_t i = 0; i < hsiTables.typeCount; i++) {
    const HsiTypeDef &t = hsiTables.types[i];
    ASSERT_LT(t.kind, 4u);
    n[kinds[t.kind]]++;
    n["bitFlags"] += t.bitFlags;
    n["relocations"] +=
        1 + !!t.format + (t.kind == HSI_TYPE_ARRAY) + (t.kind == HSI_TYPE_STRUCT || t.kind == HSI_TYPE_ENUM);
  }
  for (const HsiFieldDef &f : hsiTables.fields) n["relocations"] += 1 + !!f.type + !!f.description;
  for (const HsiEnumValueDef &v : hsiTables.enumValues) n["relocations"] += 1 + !!v.description;
  n["relocations"] += 1;  // the signature's address

  const std::map<std::string, uint64_t> want = {
      {"leaves", 2278},       {"branches", 545},     {"instance", 488}, {"integerKey", 266},
      {"variableLength", 14}, {"typedSetInput", 13}, {"recursive", 2},  {"recursiveOther", 1},
      {"moduleRoot", 1},      {"topLevel", 27},      {"maxDepth", 9},   {"scalar", 81},
      {"array", 495},         {"struct", 820},       {"enum", 241},     {"bitFlags", 63},
      {"relocations", 33787},
  };
  EXPECT_EQ(n, want);
}

// Each struct's fields and each enum's values sit one after the other, and
// every field points at the type table row of its index.
TEST(HsiTables, DescriptorArraysAreContiguous) {
  const HsiFieldDef *nextField = hsiTables.fields;
  const HsiEnumValueDef *nextValue = hsiTables.enumValues;
  for (uint32_t i = 0; i < hsiTables.typeCount; i++) {
    const HsiTypeDef &t = hsiTables.types[i];
    if (t.kind == HSI_TYPE_STRUCT) {
      ASSERT_EQ(t.b.fields, nextField) << t.name;
      nextField += t.a.count;
      uint32_t offset = 0;
      for (uint64_t k = 0; k < t.a.count; k++) {  // packed, in order
        EXPECT_EQ(t.b.fields[k].offset, offset) << t.name << "." << t.b.fields[k].name;
        offset += t.b.fields[k].type->size;
      }
      EXPECT_EQ(offset, t.size) << t.name;
    } else if (t.kind == HSI_TYPE_ENUM) {
      ASSERT_EQ(t.b.values, nextValue) << t.name;
      nextValue += t.a.count;
      EXPECT_NE(t.format, nullptr);
    } else if (t.kind == HSI_TYPE_ARRAY) {
      EXPECT_EQ(t.a.element, &hsiTables.types[t.b.elementIndex]) << t.name;
      EXPECT_EQ(t.size % t.a.element->size, 0u) << t.name;
      EXPECT_EQ(t.format, nullptr);
    }
  }
  EXPECT_EQ(nextField, std::end(hsiTables.fields));
  EXPECT_EQ(nextValue, std::end(hsiTables.enumValues));
  const char *base = reinterpret_cast<const char *>(hsiTables.types);
  for (const HsiFieldDef &f : hsiTables.fields)
    ASSERT_EQ(reinterpret_cast<const char *>(f.type), base + 48 * f.typeIndex) << f.name;
}

TEST(HsiTables, FixedTypes) {
  struct Row {
    const char *name;
    uint32_t kind, size;
    const char *format;
  } rows[] = {
      {"HSI_STRING", 0, 1, "%s"},
      {"HSI_CHAR_U8", 0, 1, "%c"},
      {"HSI_BOOL", 0, 1, "%u"},
      {"HSI_DEC_U8", 0, 1, "%u"},
      {"HSI_HEX_U8", 0, 1, "0x%02x "},
      {"HSI_DEC_S16", 0, 2, "%d"},
      {"HSI_DEC_U16", 0, 2, "%u"},
      {"HSI_HEX_U16", 0, 2, "0x%04x"},
      {"HSI_DEC_S32", 0, 4, "%d"},
      {"HSI_DEC_U32", 0, 4, "%u"},
      {"HSI_HEX_U32", 0, 4, "0x%08x"},
      {"HSI_DEC_S64", 0, 8, "%Ld"},
      {"HSI_DEC_U64", 0, 8, "%Lu"},
      {"HSI_HEX_U64", 0, 8, "0x%Lx"},
      {"HSI_Empty_Output", 2, 0, "Empty output data"},
      {"HSI_Empty_Input", 2, 0, "Empty input data"},
      {"HSI_TIME_UNIT", 3, 4, "Time unit"},
      {"HSI_KILOBYTE", 0, 8, "%Lu KB"},
      {"HSI_MEGABYTE", 0, 4, "%u MB"},
      {"HSI_GIGABYTE", 0, 4, "%u GB"},
      {"HSI_VA", 0, 8, "%#lx"},
      {"HSICompatHashArray", 1, 24000, nullptr},
      {"HSICompatData", 2, 24004, "hsi version compatibility data"},
  };
  for (uint32_t i = 0; i < std::size(rows); i++) {
    const HsiTypeDef &t = hsiTables.types[i];
    EXPECT_STREQ(t.name, rows[i].name) << i;
    EXPECT_EQ(t.kind, rows[i].kind) << i;
    EXPECT_EQ(t.size, rows[i].size) << i;
    if (rows[i].format) {
      EXPECT_STREQ(t.format, rows[i].format) << i;
    }
  }
  EXPECT_EQ(hsiTables.types[14].a.count, 0u);
  EXPECT_EQ(hsiTables.types[21].b.elementIndex, 12u);
  const HsiTypeDef &unit = hsiTables.types[16];
  const char *units[][2] = {{"HsiTime_Seconds", "s"},
                            {"HsiTime_Milliseconds", "ms"},
                            {"HsiTime_Microseconds", "us"},
                            {"HsiTime_Nanoseconds", "ns"},
                            {"HsiTime_TimerCycles", "tc"}};
  ASSERT_EQ(unit.a.count, 5u);
  for (uint64_t v = 0; v < 5; v++) {
    EXPECT_STREQ(unit.b.values[v].name, units[v][0]);
    EXPECT_EQ(unit.b.values[v].value, v);
    EXPECT_STREQ(unit.b.values[v].description, units[v][1]);
  }
  const HsiTypeDef &compat = hsiTables.types[22];
  ASSERT_EQ(compat.a.count, 2u);
  EXPECT_STREQ(compat.b.fields[0].name, "hashes");
  EXPECT_EQ(compat.b.fields[0].typeIndex, 21u);
  EXPECT_STREQ(compat.b.fields[0].description, "node hashes");
  EXPECT_STREQ(compat.b.fields[1].name, "numNodes");
  EXPECT_EQ(compat.b.fields[1].typeIndex, 9u);
  EXPECT_EQ(compat.b.fields[1].offset, 24000u);
  EXPECT_STREQ(compat.b.fields[1].description, "num nodes");
}

// Links: siblings chain from the highest id down, parents agree with the
// chains, and every node is reached from the root exactly once.
TEST(HsiTables, TreeLinks) {
  std::vector<uint32_t> topLevel;
  for (uint32_t id = Node(0).firstChild; id != HSI_NO_NODE; id = Node(id).nextSibling) topLevel.push_back(id);
  ASSERT_EQ(topLevel.size(), 27u);
  EXPECT_STREQ(Node(topLevel.front()).name, "uefi");
  EXPECT_EQ(topLevel.back(), 1u);
  EXPECT_STREQ(Node(1).name, "sysInfoNodeHashes");

  std::vector<int> seen(hsiTables.nodeCount);
  std::vector<uint32_t> queue{0};
  seen[0] = 1;
  for (size_t at = 0; at < queue.size(); at++) {
    uint32_t previous = HSI_NO_NODE;
    for (uint32_t c = Node(queue[at]).firstChild; c != HSI_NO_NODE; c = Node(c).nextSibling) {
      ASSERT_LT(c, hsiTables.nodeCount);
      ASSERT_LT(c, previous) << "chain of " << queue[at] << " not descending";
      EXPECT_EQ(Node(c).parent, queue[at]);
      EXPECT_EQ(seen[c]++, 0) << c;
      queue.push_back(c);
      previous = c;
    }
  }
  EXPECT_EQ(queue.size(), hsiTables.nodeCount);
  for (uint32_t id = 0; id < hsiTables.nodeCount; id++) {
    const HsiNodeDef &d = Node(id);
    EXPECT_EQ(d.id, id);
    if (d.leaf) {
      EXPECT_EQ(d.firstChild, HSI_NO_NODE) << id;
    }
    EXPECT_EQ(d.setOutputType == HSI_NO_TYPE, !d.leaf) << id;  // leaves: 14 or a real output
    EXPECT_EQ(d.setOutputTypeDef != nullptr, d.leaf != 0) << id;
    EXPECT_EQ(d.getSize, d.getTypeDef && !d.variableLength ? d.getTypeDef->size : 0u) << id;
  }
}

TEST(HsiTables, IdentifierConstants) {
  static_assert(sizeof(HsiNodeIdTable) == 2 * 2822);
  const uint16_t *ids = reinterpret_cast<const uint16_t *>(&hsiNodeIdTable);
  std::vector<int> seen(hsiTables.nodeCount);
  std::string previous;
  for (uint32_t i = 0; i < 2822; i++) {
    ASSERT_GE(ids[i], 1u);
    ASSERT_LT(ids[i], hsiTables.nodeCount);
    EXPECT_EQ(seen[ids[i]]++, 0) << ids[i];
    std::string path = Path(ids[i]);
    EXPECT_LT(previous, path) << "not in ascending byte order at " << i;
    previous = path;
  }
  EXPECT_EQ(HSI_NODE_sysInfoNodeHashes, 1);
  EXPECT_EQ(hsiNodeIdTable.uefi_variable, 2754);
}

// Node ids and kinds the library's own calls rely on.
TEST(HsiTables, PinnedNodes) {
  struct Pin {
    uint32_t id, constant;
    const char *path;
    uint32_t getSize;
    const char *type;
  } pins[] = {
      {1, HSI_NODE_sysInfoNodeHashes, "sysInfoNodeHashes", 24004, "HSICompatData"},
      {180, HSI_NODE_net_pNics, "net_pNics", 0, nullptr},
      {182, HSI_NODE_net_pNics_properties, "net_pNics_properties", 1851, "NetHsi_pNicPropertiesStruct"},
      {366, HSI_NODE_net_tcpip_instances_vNics, "net_tcpip_instances_vNics", 0, nullptr},
      {443, HSI_NODE_net_tcpip_instances_vNics_macaddr, "net_tcpip_instances_vNics_macaddr", 6,
       "NetHsi_vNicMacAddrStruct"},
      {447, HSI_NODE_net_tcpip_instances_vNics_mtu, "net_tcpip_instances_vNics_mtu", 4, "NetHsi_MTUStruct"},
      {449, HSI_NODE_net_tcpip_instances_vNics_tsoMss, "net_tcpip_instances_vNics_tsoMss", 4,
       "NetHsi_TsoMssStruct"},
      {478, HSI_NODE_net_tcpip_instances_vNics_v4_ipaddr, "net_tcpip_instances_vNics_v4_ipaddr", 4,
       "NetHsi_IPAddrStruct"},
      {479, HSI_NODE_net_tcpip_instances_vNics_v4_netmask, "net_tcpip_instances_vNics_v4_netmask", 4,
       "NetHsi_NetMaskStruct"},
      {864, HSI_NODE_vm_vmmGroupInfo, "vm_vmmGroupInfo", 3396, "WorldHsiGroupInfo"},
      {898, HSI_NODE_world_info, "world_info", 69, "WorldHsiInfo"},
      {904, HSI_NODE_worldGroups_vmmLeaderID, "worldGroups_vmmLeaderID", 4, "World_WorldID"},
      {1703, HSI_NODE_system_version, "system_version", 368, "SystemHsi_VersionStruct"},
      {1853, HSI_NODE_storage_scsifw_devices, "storage_scsifw_devices", 0, nullptr},
      {1864, HSI_NODE_storage_scsifw_devices_info, "storage_scsifw_devices_info", 790,
       "PsaStorHsiDeviceInfo"},
      {1868, HSI_NODE_storage_scsifw_devices_inquiryVPD_data, "storage_scsifw_devices_inquiryVPD_data", 255,
       "ScsiHsiVpdInqData"},
      {1951, HSI_NODE_storage_scsifw_paths, "storage_scsifw_paths", 0, nullptr},
      {1952, HSI_NODE_storage_scsifw_paths_info, "storage_scsifw_paths_info", 441, "PsaStorHsiPathInfo"},
      {1955, HSI_NODE_storage_scsifw_paths_deviceUid, "storage_scsifw_paths_deviceUid", 256, nullptr},
      {1956, HSI_NODE_storage_scsifw_paths_state, "storage_scsifw_paths_state", 4, "PsaStorHsiPathState"},
      {1971, HSI_NODE_storage_scsifw_adapters, "storage_scsifw_adapters", 0, nullptr},
      {1972, HSI_NODE_storage_scsifw_adapters_info, "storage_scsifw_adapters_info", 1730,
       "PsaStorHsiAdapterInfo"},
      {2085, HSI_NODE_timer_info, "timer_info", 88, "Timer_HSIInfo"},
      {2741, HSI_NODE_hardware_nvd_system_capabilities, "hardware_nvd_system_capabilities", 16,
       "NVDHsiDriverCap"},
      {2754, HSI_NODE_uefi_variable, "uefi_variable", 0, nullptr},
  };
  for (const Pin &p : pins) {
    EXPECT_EQ(p.constant, p.id) << p.path;
    EXPECT_EQ(Path(p.id), p.path);
    EXPECT_EQ(Node(p.id).getSize, p.getSize) << p.path;
    if (p.type) {
      EXPECT_STREQ(Node(p.id).getTypeDef->name, p.type) << p.path;
    }
  }
  // The generator's value sizes, which the library's sources size their
  // buffers with, are the nodes' own (checked against the figures above).
  struct Value {
    uint32_t node, generatedSize;
  } values[] = {
#define VALUE(path) {HSI_NODE_##path, HSI_VALUE_SIZE_##path}
      VALUE(net_pNics_properties),
      VALUE(net_tcpip_instances_vNics_macaddr),
      VALUE(vm_vmmGroupInfo),
      VALUE(world_info),
      VALUE(system_version),
      VALUE(storage_scsifw_devices_info),
      VALUE(storage_scsifw_devices_inquiryVPD_data),
      VALUE(storage_scsifw_paths_info),
      VALUE(storage_scsifw_paths_deviceUid),
      VALUE(storage_scsifw_adapters_info),
      VALUE(timer_info),
      VALUE(hardware_nvd_system_capabilities),
#undef VALUE
  };
  for (const Value &v : values) EXPECT_EQ(v.generatedSize, Node(v.node).getSize) << Path(v.node);
  auto isInstance = [](uint32_t id, bool integer) {
    return Node(id).instance && Node(id).integerKey == integer;
  };
  EXPECT_TRUE(isInstance(HSI_NODE_net_pNics, false) && !Node(HSI_NODE_net_pNics).leaf);
  EXPECT_TRUE(isInstance(HSI_NODE_net_tcpip_instances, false));
  EXPECT_TRUE(isInstance(HSI_NODE_storage_scsifw_devices, false));
  EXPECT_TRUE(isInstance(HSI_NODE_storage_scsifw_devices_inquiryVPD, true));
  EXPECT_TRUE(isInstance(HSI_NODE_world, true) && isInstance(HSI_NODE_worldGroups, true) &&
              isInstance(HSI_NODE_vm, true));
  const HsiNodeDef &variable = Node(HSI_NODE_uefi_variable);
  EXPECT_TRUE(variable.leaf && variable.instance && variable.variableLength && !variable.integerKey);
  EXPECT_EQ(variable.getType, HSI_NO_TYPE);
  EXPECT_TRUE(Node(HSI_NODE_hyxModules).moduleRoot && Node(HSI_NODE_hyxModules).firstChild == HSI_NO_NODE);
  const HsiNodeDef &version = Node(HSI_NODE_system_version);
  EXPECT_TRUE(version.typedSetInput);
  EXPECT_EQ(version.setInputType, version.getType);
  EXPECT_EQ(version.setOutputType, version.getType);
  EXPECT_EQ(version.setInputSize, 368u);
  EXPECT_EQ(version.setOutputSize, 368u);
  EXPECT_EQ(Node(HSI_NODE_timer_info).setOutputType, HSI_TYPE_INDEX_EMPTY_OUTPUT);
  const HsiTypeDef *deviceUid = Node(HSI_NODE_storage_scsifw_paths_deviceUid).getTypeDef;
  EXPECT_EQ(deviceUid->kind, HSI_TYPE_ARRAY);
  EXPECT_EQ(deviceUid->b.elementIndex, HSI_TYPE_INDEX_STRING);
  EXPECT_EQ(Node(HSI_NODE_system_fsSwitch_uuid).getSize, 16u);
  EXPECT_STREQ(Node(HSI_NODE_system_fsSwitch_uuid).getTypeDef->name, "HSI_HardwareCharArrayUUID");
  // Statistics indexes belong to the registry's leaves only, counted from 0.
  uint32_t next = 0;
  for (uint32_t id = 0; id < hsiTables.nodeCount; id++) {
    bool inRegistry = Path(id).rfind("statsRegistry_", 0) == 0 && Node(id).leaf;
    EXPECT_EQ(Node(id).statsIndex, inRegistry ? next++ : HSI_NO_STATS_INDEX) << id;
  }
  EXPECT_GT(next, 0u);
}

// Field offsets of the structures the exports read.
TEST(HsiTables, PinnedLayouts) {
  // Each row also carries the generator's constants for the field, which
  // the library's sources read the records with.
  struct At {
    uint32_t node;
    const char *field;
    uint32_t offset, size, generatedOffset, generatedSize;
  } at[] = {
#define AT(node, record, field, offset, size) \
  {node, #field, offset, size, HSI_OFFSETOF_##record##_##field, HSI_SIZEOF_##record##_##field}
      AT(HSI_NODE_net_pNics_properties, NetHsi_pNicPropertiesStruct, hwCap, 210, 4),
      AT(HSI_NODE_net_pNics_properties, NetHsi_pNicPropertiesStruct, hwAct, 218, 4),
      AT(HSI_NODE_net_pNics_properties, NetHsi_pNicPropertiesStruct, linkUp, 766, 1),
      AT(HSI_NODE_net_pNics_properties, NetHsi_pNicPropertiesStruct, linkSpeed, 771, 4),
      AT(HSI_NODE_net_pNics_properties, NetHsi_pNicPropertiesStruct, macAddr, 1819, 18),
      AT(HSI_NODE_storage_scsifw_adapters_info, PsaStorHsiAdapterInfo, pciBus, 596, 4),
      AT(HSI_NODE_storage_scsifw_adapters_info, PsaStorHsiAdapterInfo, pciSlot, 600, 4),
      AT(HSI_NODE_storage_scsifw_adapters_info, PsaStorHsiAdapterInfo, pciFunction, 604, 4),
      AT(HSI_NODE_storage_scsifw_adapters_info, PsaStorHsiAdapterInfo, transportType, 637, 4),
      AT(HSI_NODE_storage_scsifw_devices_info, PsaStorHsiDeviceInfo, isNvme, 157, 1),
      AT(HSI_NODE_storage_scsifw_devices_info, PsaStorHsiDeviceInfo, isNextGen, 262, 1),
      AT(HSI_NODE_storage_scsifw_paths_info, PsaStorHsiPathInfo, adapterName, 40, 32),
      AT(HSI_NODE_storage_scsifw_paths_info, PsaStorHsiPathInfo, channel, 329, 4),
      AT(HSI_NODE_storage_scsifw_paths_info, PsaStorHsiPathInfo, targetId, 333, 4),
      AT(HSI_NODE_storage_scsifw_paths_info, PsaStorHsiPathInfo, lunId, 353, 4),
      AT(HSI_NODE_world_info, WorldHsiInfo, groupID, 4, 4),
      AT(HSI_NODE_vm_vmmGroupInfo, WorldHsiGroupInfo, pid, 0, 4),
      AT(HSI_NODE_vm_vmmGroupInfo, WorldHsiGroupInfo, uuid, 4, 128),
      AT(HSI_NODE_vm_vmmGroupInfo, WorldHsiGroupInfo, instanceUuid, 132, 128),
      AT(HSI_NODE_vm_vmmGroupInfo, WorldHsiGroupInfo, vmId, 260, 128),
      AT(HSI_NODE_vm_vmmGroupInfo, WorldHsiGroupInfo, displayName, 388, 1024),
      AT(HSI_NODE_vm_vmmGroupInfo, WorldHsiGroupInfo, cfgPath, 1412, 1984),
      AT(HSI_NODE_hardware_nvd_system_capabilities, NVDHsiDriverCap, maxNamespaces, 0, 4),
      AT(HSI_NODE_hardware_nvd_system_capabilities, NVDHsiDriverCap, minNamespaceSize, 4, 8),
      AT(HSI_NODE_hardware_nvd_system_capabilities, NVDHsiDriverCap, supportedFeatures, 12, 4),
      AT(HSI_NODE_timer_info, Timer_HSIInfo, rcName, 16, 32),
      AT(HSI_NODE_timer_info, Timer_HSIInfo, sysUptime, 64, 8),
      AT(HSI_NODE_timer_info, Timer_HSIInfo, jiffies, 80, 8),
#undef AT
  };
  for (const At &a : at) {
    const HsiFieldDef *f = Field(Node(a.node).getTypeDef, a.field);
    ASSERT_NE(f, nullptr) << a.field;
    EXPECT_EQ(f->offset, a.offset) << a.field;
    EXPECT_EQ(f->type->size, a.size) << a.field;
    EXPECT_EQ(a.generatedOffset, a.offset) << a.field;
    EXPECT_EQ(a.generatedSize, a.size) << a.field;
  }
  const char *version[] = {"product",
                           "productVersion",
                           "buildVersion",
                           "buildType",
                           "buildVersionNumeric",
                           "releaseUpdate",
                           "releasePatch",
                           "buildDate",
                           "buildTime",
                           "cpuArch",
                           "hyxkernelBuild",
                           "hyxcall",
                           "releaseVersionStr",
                           "kernelReleaseVersionStr"};
  const uint32_t offsets[] = {0, 32, 64, 96, 128, 160, 192, 224, 256, 288, 292, 296, 304, 336};
  const HsiTypeDef *v = Node(HSI_NODE_system_version).getTypeDef;
  ASSERT_EQ(v->a.count, std::size(version));
  for (size_t i = 0; i < std::size(version); i++) {
    EXPECT_STREQ(v->b.fields[i].name, version[i]);
    EXPECT_EQ(v->b.fields[i].offset, offsets[i]);
  }
  const HsiTypeDef *arch = Field(v, "cpuArch")->type;
  ASSERT_EQ(arch->a.count, 3u);
  EXPECT_STREQ(arch->b.values[2].name, "SystemHsiCpuArchARM64");
  EXPECT_STREQ(arch->b.values[2].description, "aarch64");
  const HsiTypeDef *state = Node(HSI_NODE_storage_scsifw_paths_state).getTypeDef;
  ASSERT_EQ(state->a.count, 5u);
  EXPECT_STREQ(state->b.values[0].name, "HSI_HYX_SCSI_PATH_STATE_ON");
  const HsiTypeDef *transport =
      Field(Node(HSI_NODE_storage_scsifw_adapters_info).getTypeDef, "transportType")->type;
  EXPECT_EQ(transport->b.values[transport->a.count - 1].value, 240u);
  const HsiTypeDef *features =
      Field(Node(HSI_NODE_hardware_nvd_system_capabilities).getTypeDef, "supportedFeatures")->type;
  EXPECT_EQ(features->bitFlags, 1u);
  ASSERT_EQ(features->a.count, 21u);
  EXPECT_STREQ(features->b.values[18].name, "BLOCK_NAMESPACES_FLAG");
  EXPECT_EQ(features->b.values[18].value, 1u << 18);
}

TEST(HsiNodes, LookUps) {
  const HsiNodeDef *def;
  EXPECT_EQ(HsiNode_GetDef(2822, 0, &def), HYX_OK);
  EXPECT_EQ(def, &hsiTables.nodes[2822]);
  HsiNode_ReleaseDef(def);  // a static row: nothing happens
  EXPECT_EQ(HsiNode_GetDef(2823, 0, &def), HYX_BAD_PARAM);
  EXPECT_EQ(HsiNode_GetDef(4999, 0, &def), HYX_BAD_PARAM);
  EXPECT_EQ(HsiNode_GetDef(1, 0, nullptr), HYX_BAD_PARAM);
  HsiNode_ReleaseDef(nullptr);

  char *name = HsiNode_GetIdentifierName(HSI_NODE_uefi_variable, 0);
  EXPECT_STREQ(name, "HSI_NODE_uefi_variable");
  free(name);
  name = HsiNode_GetIdentifierName(HSI_NODE_net_tcpip_instances_vNics_v4_ipaddr, 3);
  EXPECT_STREQ(name, "HSI_MODULE_NODE_net_tcpip_instances_vNics_v4_ipaddr");
  free(name);
  EXPECT_EQ(HsiNode_GetIdentifierName(0, 0), nullptr);
  EXPECT_EQ(HsiNode_GetIdentifierName(2823, 0), nullptr);

  uint32_t count = 0;
  EXPECT_EQ(HsiNode_GetChildCount(0, 0, &count), HYX_OK);
  EXPECT_EQ(count, 27u);
  EXPECT_EQ(HsiNode_GetChildCount(HSI_NODE_timer_info, 0, &count), HYX_OK);
  EXPECT_EQ(count, 0u);
  HsiNodeID ids[3] = {};
  EXPECT_EQ(HsiNode_GetChildren(0, 0, ids, 3), HYX_OK);
  EXPECT_EQ(ids[0], hsiTables.nodes[0].firstChild);
  EXPECT_GT(ids[0], ids[1]);
  EXPECT_GT(ids[1], ids[2]);
  EXPECT_EQ(HsiNode_GetChildren(HSI_NODE_timer_info, 0, ids, 3), HYX_BAD_PARAM);

  EXPECT_EQ(HsiNode_FindChild(HSI_NODE_net_pNics, 0, "properties", &def), HYX_OK);
  EXPECT_EQ(def->id, 182u);
  EXPECT_EQ(HsiNode_FindChild(HSI_NODE_net_pNics, 0, "propertie", &def), HYX_NOT_FOUND);
  EXPECT_EQ(def, nullptr);

  const HsiTypeDef *type;
  EXPECT_EQ(HsiNode_GetType(HSI_NODE_net_pNics_properties, 0, HSI_TYPE_OF_GET, &type), HYX_OK);
  EXPECT_STREQ(type->name, "NetHsi_pNicPropertiesStruct");
  EXPECT_EQ(HsiNode_GetType(HSI_NODE_net_pNics_properties, 0, HSI_TYPE_OF_SET_OUTPUT, &type), HYX_OK);
  EXPECT_EQ(type, &hsiTables.types[HSI_TYPE_INDEX_EMPTY_OUTPUT]);
  EXPECT_EQ(HsiNode_GetType(HSI_NODE_net_pNics_properties, 0, 2, &type), HYX_BAD_PARAM);
  EXPECT_EQ(HsiNode_GetInputType(HSI_NODE_system_version, 0, &type), HYX_OK);
  EXPECT_STREQ(type->name, "SystemHsi_VersionStruct");
  HsiNode_ReleaseType(type);
  EXPECT_EQ(HsiNode_GetInputType(HSI_NODE_net_pNics_properties, 0, &type), HYX_OK);
  EXPECT_EQ(type, nullptr);

  EXPECT_TRUE(HsiNode_IsValid(2822, 0));
  EXPECT_FALSE(HsiNode_IsValid(2823, 0));
}

// The same definitions numbered differently: the same nodes keep their
// signatures, so a kernel numbered either way can translate ids.
TEST(HsiTables, SignaturesSurviveRenumbering) {
  const auto &other = renumbered::hsiTables;
  ASSERT_EQ(other.nodeCount, hsiTables.nodeCount);
  EXPECT_STRNE(renumbered::HSI_SIGNATURE, HSI_SIGNATURE);
  std::map<uint64_t, uint32_t> ours;
  for (uint32_t id = 0; id < hsiTables.nodeCount; id++) {
    EXPECT_NE(Node(id).signature, 0u);
    EXPECT_TRUE(ours.emplace(Node(id).signature, id).second) << "signature of " << id << " repeats";
  }
  uint32_t moved = 0;
  for (uint32_t id = 0; id < other.nodeCount; id++) {
    const HsiNodeDef &theirs = other.nodes[id];
    auto match = ours.find(theirs.signature);
    ASSERT_NE(match, ours.end()) << id;
    const HsiNodeDef &mine = Node(match->second);
    EXPECT_STREQ(theirs.name, mine.name);
    EXPECT_EQ(theirs.getSize, mine.getSize);
    moved += match->second != id;
    // Parents map to parents: the tree is the same tree.
    if (theirs.parent != HSI_NO_NODE) {
      EXPECT_EQ(ours[other.nodes[theirs.parent].signature], mine.parent) << id;
    }
  }
  EXPECT_GT(moved, hsiTables.nodeCount / 2);
  EXPECT_EQ(renumbered::HSI_NODE_sysInfoNodeHashes, 1);  // the kernel's hash node stays put
  EXPECT_EQ(other.nodes[renumbered::HSI_NODE_uefi_variable].signature,
            Node(HSI_NODE_uefi_variable).signature);
}

}  // namespace
