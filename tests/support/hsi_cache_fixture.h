// A small snapshot of a host, made with the shared cache-file writer, for
// the cache tests, the benchmark and the fuzz corpus.
//
// Static nodes (module 0, "kernel"): system_version (no arguments),
// net_pNics (listed: vmnic0, vmnic1), net_pNics_properties (vmnic0 read,
// vmnic1 recorded as HYX_NOT_FOUND), the interfaces of defaultTcpipStack
// and their MTUs (two arguments), world 7's info (an integer argument),
// the UEFI variable BootOrder (a sized value of kUefiCapacity bytes).
// Module nodes: "net" (id 7) and "netx" (id 8), each a root, an instance
// node keyed by name and a leaf under it with a type.
#pragma once

#include <unistd.h>

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "hsiCacheWriter.h"
#include "hyxsysinfo/hsiDefs.h"
#include "hyxsysinfo/hsiTables.h"
#include "hyxuser/hyxuser.h"

namespace hsicachefixture {

using hsicache::Param;

constexpr char kBuild[] = "snapshot-build-17";
constexpr uint32_t kLeafLength = 8;  // the module leaves' value
constexpr uint32_t kMtuLength = 4;
constexpr uint32_t kUefiCapacity = 16;  // the recorded sized buffer's, its 8-byte header apart

// The definition bytes the writer records for a node.
inline std::vector<uint8_t> DefBytes(const HsiNodeDef &def) {
  const auto *bytes = reinterpret_cast<const uint8_t *>(&def);
  return std::vector<uint8_t>(bytes, bytes + HSI_NODE_REPLY_SIZE);
}

inline size_t AddStatic(hsicache::Writer &writer, size_t module, HsiNodeID node) {
  const HsiNodeDef &def = hsiTables.nodes[node];
  return writer.AddNode(module, node, def.signature, def.getSize, DefBytes(def).data(), def.name,
                        def.getTypeDef);
}

inline std::vector<uint8_t> Pattern(size_t length, uint8_t seed) {
  std::vector<uint8_t> bytes(length);
  for (size_t i = 0; i < length; i++) bytes[i] = static_cast<uint8_t>(seed + i);
  return bytes;
}

// A module node's definition: the root (5000), an instance node (5001) and
// a leaf under it (5002).
inline HsiNodeDef ModuleDef(HsiNodeID node) {
  HsiNodeDef def{};
  def.id = node;
  def.parent = node == HSI_MODULE_NODE_BASE ? HSI_NO_NODE : node - 1;
  def.nextSibling = HSI_NO_NODE;
  def.firstChild = node < HSI_MODULE_NODE_BASE + 2 ? node + 1 : HSI_NO_NODE;
  def.leaf = node == HSI_MODULE_NODE_BASE + 2;
  def.instance = node == HSI_MODULE_NODE_BASE + 1;
  def.getSize = def.leaf ? kLeafLength : 0;
  def.getType = def.setInputType = def.setOutputType = HSI_NO_TYPE;
  def.statsIndex = HSI_NO_STATS_INDEX;
  def.signature = 0x5000000000000000ull + node;
  return def;
}

// The module leaves' type: a structure of a u32 and an enumeration.
inline const HsiTypeDef *ModuleLeafType() {
  static const HsiTypeDef u32{"HSI_DEC_U32", HSI_TYPE_SCALAR, 4, "%u", {0}, {nullptr}, 0};
  static const HsiEnumValueDef values[] = {{"up", 1, "link up"}, {"down", 2, nullptr}};
  static const HsiTypeDef state{"LinkState", HSI_TYPE_ENUM, 4, "link state", {2}, {.values = values}, 0};
  static const HsiFieldDef fields[] = {{"speed", &u32, 9, 0, "Mb/s"}, {"state", &state, 23, 4, nullptr}};
  static const HsiTypeDef leaf{"LinkInfo", HSI_TYPE_STRUCT, 8, "one link", {2}, {.fields = fields}, 0};
  return &leaf;
}

inline void AddModuleTree(hsicache::Writer &writer, int32_t id, const char *name, uint8_t seed) {
  size_t module = writer.AddModule(id, name, 4);
  const char *names[] = {"root", "links", "info"};
  size_t nodes[3];
  for (uint32_t slot = 0; slot < 3; slot++) {
    HsiNodeDef def = ModuleDef(HSI_MODULE_NODE_BASE + slot);
    nodes[slot] = writer.AddNode(module, slot, def.signature, def.getSize, DefBytes(def).data(), names[slot],
                                 slot == 2 ? ModuleLeafType() : nullptr);
  }
  writer.AddList(nodes[1], {}, HYX_OK, {Param::String("eth0"), Param::String(name)});
  writer.AddGet(nodes[2], {Param::String("eth0")}, HYX_OK, Pattern(kLeafLength, seed));
}

inline hsicache::Writer SampleWriter() {
  hsicache::Writer writer;
  size_t kernel = writer.AddModule(0, "kernel", static_cast<int32_t>(hsiTables.nodeCount));
  size_t version = AddStatic(writer, kernel, HSI_NODE_system_version);
  std::vector<uint8_t> record(hsiTables.nodes[HSI_NODE_system_version].getSize);
  memcpy(record.data(), "Hyxkernel", 10);          // product
  memcpy(record.data() + 32, "8.0.3", 6);          // product version
  memcpy(record.data() + 64, "snapshot", 9);       // build version
  memcpy(record.data() + 224, "Dec 10 2026", 12);  // build date
  writer.AddGet(version, {}, HYX_OK, record);

  size_t nics = AddStatic(writer, kernel, HSI_NODE_net_pNics);
  writer.AddList(nics, {}, HYX_OK, {Param::String("vmnic0"), Param::String("vmnic1")});
  size_t properties = AddStatic(writer, kernel, HSI_NODE_net_pNics_properties);
  uint32_t propertiesLength = hsiTables.nodes[HSI_NODE_net_pNics_properties].getSize;
  writer.AddGet(properties, {Param::String("vmnic0")}, HYX_OK, Pattern(propertiesLength, 0x40));
  writer.AddGet(properties, {Param::String("vmnic1")}, HYX_NOT_FOUND, {});

  size_t vnics = AddStatic(writer, kernel, HSI_NODE_net_tcpip_instances_vNics);
  writer.AddList(vnics, {Param::String("defaultTcpipStack")}, HYX_OK,
                 {Param::String("vmk0"), Param::String("vmk1")});
  size_t mtu = AddStatic(writer, kernel, HSI_NODE_net_tcpip_instances_vNics_mtu);
  writer.AddGet(mtu, {Param::String("defaultTcpipStack"), Param::String("vmk0")}, HYX_OK, {0xdc, 0x05, 0, 0});
  writer.AddGet(mtu, {Param::String("defaultTcpipStack"), Param::String("vmk1")}, HYX_OK, {0x28, 0x23, 0, 0});

  size_t worlds = AddStatic(writer, kernel, HSI_NODE_world);
  writer.AddList(worlds, {}, HYX_OK, {Param::Int(7), Param::Int(9)});
  size_t info = AddStatic(writer, kernel, HSI_NODE_world_info);
  writer.AddGet(info, {Param::Int(7)}, HYX_OK, Pattern(hsiTables.nodes[HSI_NODE_world_info].getSize, 7));

  const HsiNodeDef &uefiDef = hsiTables.nodes[HSI_NODE_uefi_variable];
  size_t uefi = writer.AddNode(kernel, HSI_NODE_uefi_variable, uefiDef.signature, kUefiCapacity + 8,
                               DefBytes(uefiDef).data(), uefiDef.name);
  writer.AddList(uefi, {}, HYX_OK, {Param::String("BootOrder")});
  std::vector<uint8_t> sized = {
      kUefiCapacity, 0, 0, 0, 6, 0, 0, 0, 7, 0, 0, 0, 1, 0};  // attributes 7, one entry
  sized.resize(kUefiCapacity + 8);
  writer.AddGet(uefi, {Param::String("BootOrder")}, HYX_OK, sized);

  AddModuleTree(writer, 7, "net", 0x70);
  AddModuleTree(writer, 8, "netx", 0x80);
  return writer;
}

// A snapshot in a temporary file of its own, removed with the object.
class SnapshotFile {
 public:
  explicit SnapshotFile(const std::vector<uint8_t> &bytes) {
    const char *dir = getenv("TMPDIR");
    path_ = std::string(dir != nullptr && dir[0] != '\0' ? dir : "/tmp") + "/hsi_snapshot_XXXXXX";
    int fd = mkstemp(path_.data());
    if (fd < 0 || write(fd, bytes.data(), bytes.size()) != static_cast<ssize_t>(bytes.size()))
      path_ += ".unwritten";
    if (fd >= 0) close(fd);
  }
  ~SnapshotFile() { unlink(path_.c_str()); }
  SnapshotFile(const SnapshotFile &) = delete;
  SnapshotFile &operator=(const SnapshotFile &) = delete;
  const char *path() const { return path_.c_str(); }

 private:
  std::string path_;
};

inline std::vector<uint8_t> SampleFile(uint32_t blockSize = 0, hsicache::Placement *placement = nullptr) {
  return SampleWriter().Finish(kBuild, HSI_SIGNATURE, blockSize, placement);
}

}  // namespace hsicachefixture
