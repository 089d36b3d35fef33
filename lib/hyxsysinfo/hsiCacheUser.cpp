// The information cache: a snapshot file read once into private memory,
// indexed by module and node slot, and answered from by following offsets
// inside that copy.  What init checked is what the lookups read: the file
// may be truncated or rewritten afterwards without effect.
//
// Nothing in the file is taken on trust.  Init walks every chain the
// lookups will follow (modules, nodes, get and list entries, argument
// chains, list items) and checks each record, each string and each data
// range against the data area, so lookups read validated offsets only.
// Every count is bounded by the bytes its records would need, so a file
// cannot make init walk or allocate more than its size allows.  Type
// descriptors are checked while they are copied, with a bound on depth, on
// the number of descriptors and on the bytes one copy allocates.
//
// Strings in parameter records are based at the file's copy: a record is
// copied and its base set to the copy's address before use, so the copy is
// never written and a record that overlaps another cannot change what init
// checked.
#include "hyxsysinfo/hsiCacheUser.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "common/guard.h"
#include "hyxsysinfo/hsiCacheFormat.h"
#include "hyxsysinfo/hsiModuleNodes.h"
#include "hyxsysinfo/hsiTables.h"
#include "misc/err.h"
#include "status/status.h"

int32_t hsiCacheVerbosity = 0;

namespace {

// ---- messages ---------------------------------------------------------------

enum : int32_t { kErrors = 0, kDiagnostics = 1 };

__attribute__((format(printf, 3, 4))) void Report(int32_t level, const char *function, const char *format,
                                                  ...) {
  if (hsiCacheVerbosity < level) return;
  fprintf(stderr, "%s():", function);
  va_list args;
  va_start(args, format);
  vfprintf(stderr, format, args);
  va_end(args);
  fputc('\n', stderr);
  fflush(nullptr);
}

#define CACHE_ERROR(...) Report(kErrors, __func__, __VA_ARGS__)
#define CACHE_DIAGNOSTIC(...) Report(kDiagnostics, __func__, __VA_ARGS__)

constexpr char kInit[] = "HsiCache_Init";

// ---- limits -------------------------------------------------------------------

// Longest argument chain: deeper than any instance path.
constexpr uint32_t kMaxArgs = 256;
// Longest name or description text.
constexpr size_t kMaxText = 4096;
// Node slots of all modules together (a table entry each).
constexpr uint64_t kMaxSlots = uint64_t{1} << 22;
// Parent links walked from a node to its tree's top.
constexpr int kMaxDepth = 64;
// Type descriptors nest at most this deep, and one copy makes at most
// kMaxTypeItems descriptors, fields and values: shared descriptors are
// copied once per use, so a small file could otherwise ask for an
// exponential tree.
constexpr int kMaxTypeDepth = 32;
constexpr uint64_t kMaxTypeItems = uint64_t{1} << 20;
// One copy allocates at most this many times the file's size (descriptors,
// field and value arrays, texts): a copy repeats only what the file shares.
constexpr uint64_t kTypeBytesPerFileByte = 16;
// Offsets are u32: a larger file cannot be a cache file.
constexpr uint64_t kMaxFileSize = uint64_t{UINT32_MAX} + 1;

// ---- the file's copy -----------------------------------------------------------

// The data area of the file's copy: records lie in [0, end), the trailer
// starts at end.  Offset 0 is the first block's header, never a record.
struct View {
  uint8_t *map;
  uint64_t end;

  bool Fits(uint64_t offset, uint64_t length) const {
    return offset != 0 && offset <= end && length <= end - offset;
  }
  template <typename T>
  bool Read(uint64_t offset, T *out) const {
    if (!Fits(offset, sizeof(T))) return false;
    memcpy(out, map + offset, sizeof(T));
    return true;
  }
  // A NUL-terminated text that ends inside the data area, or null.
  const char *Text(uint64_t offset) const {
    if (!Fits(offset, 1)) return nullptr;
    uint64_t room = end - offset < kMaxText ? end - offset : kMaxText;
    return memchr(map + offset, '\0', room) ? reinterpret_cast<const char *>(map + offset) : nullptr;
  }
  // A parameter record ready for HsiParam_Equal and the list adds: a
  // string's bytes (its NUL last) must lie inside the data area.
  bool Param(uint64_t offset, HsiParam *out) const {
    if (!Read(offset, out)) return false;
    if (out->type != HSI_PARAM_STRING) return true;
    if (out->length == 0 || !Fits(out->offset, out->length) || map[out->offset + out->length - 1] != '\0')
      return false;
    out->value = reinterpret_cast<uintptr_t>(map);
    return true;
  }
};

// One module of the index: its node records and their info records by
// slot (offsets; 0 = none).
struct HsiCacheModule {
  HsiCacheModule *next;
  uint32_t record;
  HsiModuleID id;
  uint32_t slotCount;
  uint32_t *nodes;
  uint32_t *infos;
};

struct CacheState {
  View view = {nullptr, 0};
  size_t size = 0;  // of the file
  bool initialised = false;
  HsiCacheModule *modules = nullptr;  // reverse file order
};

CacheState cache;

template <typename T>
T Load(uint64_t offset) {  // an offset init has checked
  T value;
  memcpy(&value, cache.view.map + offset, sizeof value);
  return value;
}

void FreeIndex(HsiCacheModule *modules) {
  while (modules != nullptr) {
    HsiCacheModule *next = modules->next;
    free(modules->nodes);
    free(modules->infos);
    free(modules);
    modules = next;
  }
}

// ---- init ---------------------------------------------------------------------

HYX_ReturnStatus Truncated(int which) {
  Report(kErrors, kInit, "HSI cache file got truncated-%d", which);
  return HYX_FAILURE;
}

HYX_ReturnStatus Corrupt(const char *what, uint64_t offset) {
  Report(kErrors, kInit, "Corrupted cache file: bad %s at offset %lu", what,
         static_cast<unsigned long>(offset));
  return HYX_READ_ERROR;
}

// How a block's header word gives its length (bits 31 to 1): the word with
// bit 0 cleared, as this library's writer sets it, or the 31-bit field
// shifted down, as some hosts write it.  Bit 0 marks the last block either
// way.
enum class BlockReading { kMasked, kShifted };

uint64_t BlockLength(uint32_t header, BlockReading reading) {
  return reading == BlockReading::kMasked ? HsiCacheBlockLength(header) : header >> 1;
}

// Why a chain does not hold: truncated is 0 when it holds, else the
// "truncated-N" number, or -1 for a block shorter than its header (at
// and length say which).
struct ChainFault {
  int truncated = 0;
  uint64_t at = 0, length = 0;
};

// Follows the block chain from offset 0 under one reading; *dataEnd is
// where the trailer starts.  size is at least 4.
ChainFault WalkBlocks(const uint8_t *file, uint64_t size, BlockReading reading, uint64_t *dataEnd) {
  uint64_t at = 0;
  for (;;) {
    uint32_t header;
    memcpy(&header, file + at, sizeof header);
    uint64_t length = BlockLength(header, reading);
    // A block shorter than its header would not cover it, nor advance.
    if (length < sizeof header) return ChainFault{-1, at, length};
    if (header & HSI_CACHE_LAST_BLOCK) {
      if (at + sizeof header >= size) return ChainFault{1};
      uint64_t end = at + length;
      if (end > size || size != end + sizeof(HsiCacheTrailer)) return ChainFault{2};
      *dataEnd = end;
      return ChainFault{};
    }
    at += length;
    if (at + sizeof header > size) return ChainFault{1};
  }
}

// The chain under the usual reading, else under the other; a file whose
// chain holds under neither is reported as the usual reading finds it.
HYX_ReturnStatus FindDataEnd(const uint8_t *file, uint64_t size, uint64_t *dataEnd, BlockReading *reading) {
  if (size < sizeof(uint32_t)) return Truncated(1);
  *reading = BlockReading::kMasked;
  ChainFault fault = WalkBlocks(file, size, BlockReading::kMasked, dataEnd);
  if (fault.truncated == 0) return HYX_OK;
  if (WalkBlocks(file, size, BlockReading::kShifted, dataEnd).truncated == 0) {
    *reading = BlockReading::kShifted;
    return HYX_OK;
  }
  if (fault.truncated > 0) return Truncated(fault.truncated);
  Report(kErrors, kInit, "HSI cache file has a block of %lu bytes at offset %lu",
         static_cast<unsigned long>(fault.length), static_cast<unsigned long>(fault.at));
  return HYX_FAILURE;
}

// Bytes of records the counts have claimed so far: distinct records cannot
// claim more than the data area holds.
struct Budget {
  uint64_t left;
  bool Take(uint64_t count, uint64_t size) {
    if (count > left / size) return false;
    left -= count * size;
    return true;
  }
};

bool CheckArgs(const View &v, uint32_t chain) {
  uint32_t at = chain;
  for (uint32_t links = 0; at != 0; links++) {
    HsiCacheArgLink link;
    HsiParam param;
    if (links == kMaxArgs || !v.Read(at, &link) || !v.Param(link.param, &param)) return false;
    at = link.next;
  }
  return true;
}

HYX_ReturnStatus CheckGets(const View &v, uint32_t nodeAt, const HsiCacheNodeRecord &node, Budget &budget) {
  if (!budget.Take(node.getCount, sizeof(HsiCacheGetEntry))) return Corrupt("get entry count", nodeAt);
  HsiCacheGetEntry entry{};
  uint32_t at = node.firstGet;
  for (uint32_t k = 0; k < node.getCount; k++, at = entry.next) {
    if (!v.Read(at, &entry)) return Corrupt("get entry", at);
    if (entry.status == HYX_OK && node.dataLength != 0 && !v.Fits(entry.data, node.dataLength))
      return Corrupt("get data", at);
    if (!CheckArgs(v, entry.args)) return Corrupt("argument chain", at);
  }
  return HYX_OK;
}

HYX_ReturnStatus CheckLists(const View &v, uint32_t nodeAt, const HsiCacheNodeRecord &node, Budget &budget) {
  if (!budget.Take(node.listCount, sizeof(HsiCacheListEntry))) return Corrupt("list entry count", nodeAt);
  HsiCacheListEntry entry{};
  uint32_t at = node.firstList;
  for (uint32_t k = 0; k < node.listCount; k++, at = entry.next) {
    if (!v.Read(at, &entry)) return Corrupt("list entry", at);
    if (!CheckArgs(v, entry.args)) return Corrupt("argument chain", at);
    if (entry.status != HYX_OK) continue;  // its items are never read
    if (!budget.Take(entry.itemCount, sizeof(HsiCacheListItem))) return Corrupt("list item count", at);
    HsiCacheListItem item{};
    uint32_t itemAt = entry.firstItem;
    for (uint32_t i = 0; i < entry.itemCount; i++, itemAt = item.next) {
      HsiParam param;
      if (!v.Read(itemAt, &item) || !v.Param(item.param, &param)) return Corrupt("list item", itemAt);
    }
  }
  return HYX_OK;
}

HYX_ReturnStatus IndexNodes(const View &v, const HsiCacheModuleRecord &module, uint32_t moduleAt,
                            HsiCacheModule *entry, Budget &budget) {
  if (!budget.Take(module.nodeCount, sizeof(HsiCacheNodeRecord))) return Corrupt("node count", moduleAt);
  HsiCacheNodeRecord node{};
  uint32_t at = module.firstNode;
  for (uint32_t k = 0; k < module.nodeCount; k++, at = node.nextNode) {
    if (!v.Read(at, &node)) return Corrupt("node record", at);
    if (node.slot >= entry->slotCount) return Corrupt("node slot", at);
    if (node.info != 0) {
      HsiCacheNodeInfo info;
      if (!v.Read(node.info, &info) || (info.name != 0 && v.Text(info.name) == nullptr))
        return Corrupt("node info", node.info);
    }
    HYX_ReturnStatus status = CheckGets(v, at, node, budget);
    if (status == HYX_OK) status = CheckLists(v, at, node, budget);
    if (status != HYX_OK) return status;
    entry->nodes[node.slot] = at;
    entry->infos[node.slot] = node.info;
  }
  return HYX_OK;
}

// Builds the module index (new entries at its head) and checks every
// record a lookup can reach.
HYX_ReturnStatus BuildIndex(const View &v, HsiCacheModule **modules) {
  HsiCacheTrailer trailer;
  memcpy(&trailer, v.map + v.end, sizeof trailer);
  auto moduleCount = static_cast<int32_t>(trailer.moduleCount);
  if (moduleCount <= 0) return HYX_OK;
  Budget budget{v.end};
  if (!budget.Take(static_cast<uint64_t>(moduleCount), sizeof(HsiCacheModuleRecord)))
    return Corrupt("module count", v.end);
  uint64_t slotsLeft = kMaxSlots;
  HsiCacheModuleRecord record{};
  uint32_t at = trailer.firstModule;
  for (int32_t index = 0; index < moduleCount; index++, at = record.nextModule) {
    if (!v.Read(at, &record) || memchr(record.name, '\0', sizeof record.name) == nullptr)
      return Corrupt("module record", at);
    if (record.slotCount < 0 || static_cast<uint64_t>(record.slotCount) > slotsLeft)
      return Corrupt("module slot count", at);
    slotsLeft -= static_cast<uint64_t>(record.slotCount);
    auto *entry = static_cast<HsiCacheModule *>(calloc(1, sizeof(HsiCacheModule)));
    if (entry == nullptr) {
      Report(kErrors, kInit, "Failed to malloc space for the cache list");
      return HYX_NO_MEMORY;
    }
    entry->next = *modules;
    *modules = entry;
    entry->record = at;
    entry->id = static_cast<HsiModuleID>(record.moduleId);
    entry->slotCount = static_cast<uint32_t>(record.slotCount);
    size_t tableSize = record.slotCount > 0 ? static_cast<size_t>(record.slotCount) : 1;
    entry->nodes = static_cast<uint32_t *>(calloc(tableSize, sizeof(uint32_t)));
    if (entry->nodes == nullptr) {
      Report(kErrors, kInit, "Malloc failed for nodelist, index: %d, numNodes: %d, moduleID: %d", index,
             static_cast<int>(record.nodeCount), static_cast<int>(record.moduleId));
      return HYX_NO_MEMORY;
    }
    entry->infos = static_cast<uint32_t *>(calloc(tableSize, sizeof(uint32_t)));
    if (entry->infos == nullptr) {
      Report(kErrors, kInit, "Malloc failed for nodeInfolist, index: %d, numNodes: %d, moduleID: %d", index,
             static_cast<int>(record.nodeCount), static_cast<int>(record.moduleId));
      return HYX_NO_MEMORY;
    }
    HYX_ReturnStatus status = IndexNodes(v, record, at, entry, budget);
    if (status != HYX_OK) return status;
  }
  return HYX_OK;
}

// ---- lookups ------------------------------------------------------------------

const HsiCacheModule *FindModule(HsiModuleID module) {
  for (const HsiCacheModule *m = cache.modules; m != nullptr; m = m->next)
    if (m->id == module) return m;
  return nullptr;
}

struct Slot {
  uint32_t node;  // offsets; 0 = none
  uint32_t info;
};

HYX_ReturnStatus Lookup(HsiNodeID node, HsiModuleID module, Slot *slot) {
  const HsiCacheModule *m = FindModule(module);
  if (m == nullptr) return HYX_NOT_FOUND;
  uint32_t index = node >= HSI_MODULE_NODE_BASE ? node - HSI_MODULE_NODE_BASE : node;
  if (index >= m->slotCount) return HYX_BAD_PARAM;
  *slot = {m->nodes[index], m->infos[index]};
  return HYX_OK;
}

// The node record a get or list answers from (the cache is initialised); a
// node the index cannot place is reported (as the calling look-up) and not
// found.
HYX_ReturnStatus FindRecord(const char *function, HsiNodeID node, HsiModuleID module,
                            HsiCacheNodeRecord *record) {
  Slot slot;
  if (Lookup(node, module, &slot) != HYX_OK) {
    Report(kDiagnostics, function, "Invalid node %d\n", static_cast<int>(node));
    return HYX_NOT_FOUND;
  }
  if (slot.node == 0) return HYX_BAD_PARAM;
  *record = Load<HsiCacheNodeRecord>(slot.node);
  return HYX_OK;
}

// A node's definition as the cache judges it: the library's own row for a
// static node, the recorded one for a module node (in scratch).
HYX_ReturnStatus NodeDef(HsiNodeID node, HsiModuleID module, HsiNodeDef *scratch, const HsiNodeDef **def) {
  if (node < HSI_MODULE_NODE_BASE) {
    if (node >= hsiTables.nodeCount) return HYX_BAD_PARAM;
    *def = &hsiTables.nodes[node];
    return HYX_OK;
  }
  Slot slot;
  HYX_ReturnStatus status = Lookup(node, module, &slot);
  if (status != HYX_OK) return status;
  if (slot.info == 0) return HYX_BAD_PARAM;
  memset(scratch, 0, sizeof *scratch);
  memcpy(scratch, cache.view.map + slot.info, HSI_NODE_REPLY_SIZE);
  *def = scratch;
  return HYX_OK;
}

bool IsTreeTop(HsiNodeID node) { return node == 0 || node == HSI_MODULE_NODE_BASE; }

// Whether a recorded argument chain (last argument first) holds exactly the
// caller's arguments.
bool ArgsMatch(uint32_t chain, HsiParamList args) {
  uint32_t n = HsiParamList_Count(args);
  uint32_t at = chain;
  for (uint32_t k = 0; k < n; k++) {
    if (at == 0) return false;
    auto link = Load<HsiCacheArgLink>(at);
    HsiParam recorded;
    if (!cache.view.Param(link.param, &recorded) ||
        !HsiParam_Equal(HsiParamList_GetParam(args, n - 1 - k), &recorded))
      return false;
    at = link.next;
  }
  return at == 0;
}

// The checks before a recorded get (isList false) or list is answered: the
// node is of the right kind, it was recorded with the signature the cache
// knows it by, and the arguments fit its place in the tree.  Messages name
// the calling check.
HYX_ReturnStatus CheckRecordedNode(const char *function, HsiNodeID node, HsiModuleID module,
                                   const HsiCacheNodeRecord &record, bool isList, HsiParamList args) {
  HsiNodeDef scratch;
  const HsiNodeDef *def;
  HYX_ReturnStatus status = NodeDef(node, module, &scratch, &def);
  if (status != HYX_OK) return status;
  if (isList && !def->instance) {
    Report(kDiagnostics, function, "Node %d is not an instance node", static_cast<int>(node));
    return HYX_NOT_FOUND;
  }
  if (!isList && !def->leaf) {
    Report(kDiagnostics, function, "Node %d isn't a leaf\n", static_cast<int>(node));
    return HYX_IS_A_DIRECTORY;
  }
  if (def->signature != record.signature) {
    Report(kDiagnostics, function, "HSI iface mismatch on node %d, client=%#lx server=%#lx",
           static_cast<int>(node), static_cast<unsigned long>(record.signature),
           static_cast<unsigned long>(def->signature));
    return HYX_CHECKSUM_MISMATCH;
  }
  return HsiCacheVerifyInstanceArgs(node, module, isList, args);
}

HYX_ReturnStatus HsiCacheCheckValidLeaf(HsiNodeID node, HsiModuleID module, const HsiCacheNodeRecord &record,
                                        HsiParamList args) {
  return CheckRecordedNode(__func__, node, module, record, false, args);
}

HYX_ReturnStatus HsiCacheCheckValidInstanceNode(HsiNodeID node, HsiModuleID module,
                                                const HsiCacheNodeRecord &record, HsiParamList args) {
  return CheckRecordedNode(__func__, node, module, record, true, args);
}

// Appends a recorded list's items to list.  Every item's kind is checked
// before the first is added, and a failed add takes back what this call
// added, so a failure leaves list as it was.
HYX_ReturnStatus HsiCacheCreateHsiInstanceList(const HsiCacheListEntry &entry, HsiParamList list) {
  if (HsiParamList_Capacity(list) < entry.itemCount)
    CACHE_DIAGNOSTIC("List too small (%d vs %d)", static_cast<int>(HsiParamList_Capacity(list)),
                     static_cast<int>(entry.itemCount));
  HsiCacheListItem item{};
  HsiParam param;
  uint32_t at = entry.firstItem;
  for (uint32_t i = 0; i < entry.itemCount; i++, at = item.next) {
    item = Load<HsiCacheListItem>(at);
    if (!cache.view.Param(item.param, &param)) return HYX_READ_ERROR;
    if (param.type != HSI_PARAM_INT && param.type != HSI_PARAM_STRING) {
      CACHE_ERROR("Recorded list item %d has parameter type %d", static_cast<int>(i),
                  static_cast<int>(param.type));
      return HYX_READ_ERROR;
    }
  }
  uint32_t before = HsiParamList_Count(list);
  at = entry.firstItem;
  for (uint32_t i = 0; i < entry.itemCount; i++, at = item.next) {
    item = Load<HsiCacheListItem>(at);
    cache.view.Param(item.param, &param);
    HYX_ReturnStatus status = param.type == HSI_PARAM_INT
                                  ? HsiParamList_AddInt(list, param.value)
                                  : HsiParamList_AddString(list, HsiParam_GetString(&param));
    if (status != HYX_OK) {
      CACHE_ERROR("Failed to add param to list: %#x", status);
      while (HsiParamList_Count(list) > before) HsiParamList_RemoveLast(list);
      return status;
    }
  }
  return HYX_OK;
}

// ---- type copies ----------------------------------------------------------------
// A copied descriptor and its own texts are one allocation, field and value
// arrays and their texts separate ones: the layout HsiModuleNode_FreeType
// releases, so HsiNode_ReleaseType frees either kind of tree.

// What one copy may still make: descriptors, fields and values, and bytes.
struct TypeBudget {
  uint64_t items;
  uint64_t bytes;
  bool TakeItems(uint64_t count) {
    if (count > items) return false;
    items -= count;
    return true;
  }
  bool TakeBytes(uint64_t count) {
    if (count > bytes) return false;
    bytes -= count;
    return true;
  }
};

HYX_ReturnStatus CopyTypeAt(const View &v, uint64_t offset, const HsiTypeDef **out, int depth,
                            TypeBudget &budget);

// The texts of a field or value: a name (0 = empty) and an optional
// description, both duplicated.
HYX_ReturnStatus CopyTexts(const View &v, uint64_t nameAt, uint64_t descriptionAt, const char **name,
                           const char **description, TypeBudget &budget) {
  const char *text = nameAt != 0 ? v.Text(nameAt) : "";
  const char *about = descriptionAt != 0 ? v.Text(descriptionAt) : nullptr;
  if (text == nullptr || (descriptionAt != 0 && about == nullptr)) return HYX_READ_ERROR;
  if (!budget.TakeBytes(strlen(text) + 1 + (about != nullptr ? strlen(about) + 1 : 0))) return HYX_READ_ERROR;
  *name = strdup(text);
  if (*name == nullptr) return HYX_NO_MEMORY;
  if (about != nullptr && (*description = strdup(about)) == nullptr) return HYX_NO_MEMORY;
  return HYX_OK;
}

// The number of a structure's fields or an enumeration's values: a u32 at
// 24 (the 4 bytes after it are not part of it).
uint32_t ArrayCount(const HsiCacheTypeDef &record) { return static_cast<uint32_t>(record.a); }

// The count and array of a structure's fields or an enumeration's values,
// checked against the data area and the budget.
bool TakeArray(const View &v, const HsiCacheTypeDef &record, size_t recordSize, size_t copySize,
               TypeBudget &budget) {
  uint64_t count = ArrayCount(record);
  return budget.TakeItems(count) && budget.TakeBytes(count * copySize) &&
         (count == 0 || v.Fits(record.b, count * recordSize));
}

HYX_ReturnStatus CopyFields(const View &v, const HsiCacheTypeDef &record, HsiTypeDef *type, int depth,
                            TypeBudget &budget) {
  if (!TakeArray(v, record, sizeof(HsiCacheFieldDef), sizeof(HsiFieldDef), budget)) return HYX_READ_ERROR;
  uint64_t count = ArrayCount(record);
  auto *fields = static_cast<HsiFieldDef *>(calloc(count ? count : 1, sizeof(HsiFieldDef)));
  if (fields == nullptr) return HYX_NO_MEMORY;
  type->a.count = count;
  type->b.fields = fields;
  for (uint64_t i = 0; i < count; i++) {
    auto field = Load<HsiCacheFieldDef>(record.b + i * sizeof(HsiCacheFieldDef));
    fields[i].typeIndex = field.typeIndex;
    fields[i].offset = field.offset;
    HYX_ReturnStatus status =
        CopyTexts(v, field.name, field.description, &fields[i].name, &fields[i].description, budget);
    if (status == HYX_OK) status = CopyTypeAt(v, field.type, &fields[i].type, depth + 1, budget);
    if (status != HYX_OK) return status;
  }
  return HYX_OK;
}

HYX_ReturnStatus CopyValues(const View &v, const HsiCacheTypeDef &record, HsiTypeDef *type,
                            TypeBudget &budget) {
  if (!TakeArray(v, record, sizeof(HsiCacheEnumValueDef), sizeof(HsiEnumValueDef), budget))
    return HYX_READ_ERROR;
  uint64_t count = ArrayCount(record);
  auto *values = static_cast<HsiEnumValueDef *>(calloc(count ? count : 1, sizeof(HsiEnumValueDef)));
  if (values == nullptr) return HYX_NO_MEMORY;
  type->a.count = count;
  type->b.values = values;
  for (uint64_t i = 0; i < count; i++) {
    auto value = Load<HsiCacheEnumValueDef>(record.b + i * sizeof(HsiCacheEnumValueDef));
    values[i].value = value.value;
    HYX_ReturnStatus status =
        CopyTexts(v, value.name, value.description, &values[i].name, &values[i].description, budget);
    if (status != HYX_OK) return status;
  }
  return HYX_OK;
}

HYX_ReturnStatus CopyTypeAt(const View &v, uint64_t offset, const HsiTypeDef **out, int depth,
                            TypeBudget &budget) {
  *out = nullptr;
  HsiCacheTypeDef record;
  if (depth > kMaxTypeDepth || !budget.TakeItems(1) || !v.Read(offset, &record) ||
      record.kind > HSI_TYPE_ENUM)
    return HYX_READ_ERROR;
  const char *name = record.name != 0 ? v.Text(record.name) : "";
  const char *description = record.description != 0 ? v.Text(record.description) : nullptr;
  if (name == nullptr || (record.description != 0 && description == nullptr)) return HYX_READ_ERROR;
  size_t nameSize = strlen(name) + 1, descriptionSize = description ? strlen(description) + 1 : 0;
  size_t blockSize = sizeof(HsiTypeDef) + nameSize + descriptionSize;
  if (!budget.TakeBytes(blockSize)) return HYX_READ_ERROR;
  auto *block = static_cast<char *>(calloc(1, blockSize));
  if (block == nullptr) return HYX_NO_MEMORY;
  auto *type = reinterpret_cast<HsiTypeDef *>(block);
  char *texts = block + sizeof(HsiTypeDef);
  type->name = static_cast<char *>(memcpy(texts, name, nameSize));
  if (description) type->format = static_cast<char *>(memcpy(texts + nameSize, description, descriptionSize));
  type->kind = record.kind;
  type->size = record.size;
  type->bitFlags = record.bitFlags;
  HYX_ReturnStatus status = HYX_OK;
  if (record.kind == HSI_TYPE_STRUCT) {
    status = CopyFields(v, record, type, depth, budget);
  } else if (record.kind == HSI_TYPE_ENUM) {
    status = CopyValues(v, record, type, budget);
  } else if (record.kind == HSI_TYPE_ARRAY) {
    type->b.elementIndex = record.b;
    status = CopyTypeAt(v, record.a, &type->a.element, depth + 1, budget);
  }
  if (status != HYX_OK) {
    HsiModuleNode_FreeType(type);
    return status;
  }
  *out = type;
  return HYX_OK;
}

}  // namespace

HYX_ReturnStatus HsiCache_Init(const char *path, int32_t verbosity) {
  if (cache.initialised) {
    CACHE_ERROR("Already initialized.  Call HsiCache_Cleanup before calling HsiCache_Init again.");
    return HYX_EXISTS;
  }
  if (path == nullptr) return HYX_BAD_PARAM;
  // Non-blocking, so that a FIFO named by mistake cannot hang the caller.
  guard::Fd fd(open(path, O_RDONLY | O_CLOEXEC | O_NONBLOCK));
  if (!fd.valid()) {
    int err = errno;
    CACHE_ERROR("Failed to open(%s): %s", path, Err_ErrnoToText(err));
    return StatusFromErrno(err);
  }
  struct stat st;
  if (fstat(fd.get(), &st) != 0) {
    int err = errno;
    CACHE_ERROR("Failed to fstat(%s): %s", path, Err_ErrnoToText(err));
    return StatusFromErrno(err);
  }
  auto size = static_cast<uint64_t>(st.st_size);
  // An empty file would have to be mapped to be read, and a mapping of no
  // bytes is refused.
  if (size == 0) {
    CACHE_ERROR("Failed to mmap(%s, %lu bytes): %s", path, 0ul, Err_ErrnoToText(EINVAL));
    return StatusFromErrno(EINVAL);
  }
  if (size > kMaxFileSize + sizeof(HsiCacheTrailer)) {
    CACHE_ERROR("Failed to read(%s): %s", path, Err_ErrnoToText(EFBIG));
    return StatusFromErrno(EFBIG);
  }
  // The file is read whole into memory of the cache's own, so that a file
  // truncated or rewritten after init cannot change what init checked.
  auto *file = static_cast<uint8_t *>(malloc(size));
  if (file == nullptr) {
    CACHE_ERROR("Failed to malloc %lu bytes for the cache file", static_cast<unsigned long>(size));
    return HYX_NO_MEMORY;
  }
  HsiCacheModule *modules = nullptr;
  guard::ScopeExit release([&] {
    FreeIndex(modules);
    free(file);
  });
  uint64_t done = 0;
  while (done < size) {  // a file that shrank meanwhile is judged as read
    ssize_t n = pread(fd.get(), file + done, size - done, static_cast<off_t>(done));
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) {
      int err = errno;
      CACHE_ERROR("Failed to read(%s): %s", path, Err_ErrnoToText(err));
      return StatusFromErrno(err);
    }
    if (n == 0) break;
    done += static_cast<uint64_t>(n);
  }
  size = done;
  View view{file, 0};
  BlockReading reading;
  HYX_ReturnStatus status = FindDataEnd(file, size, &view.end, &reading);
  if (status == HYX_OK) status = BuildIndex(view, &modules);
  if (status != HYX_OK) return status;
  release.dismiss();
  cache.view = view;
  cache.size = size;
  cache.modules = modules;
  cache.initialised = true;
  hsiCacheVerbosity = verbosity;
  Report(kDiagnostics, kInit, "Block lengths read as the header word %s",
         reading == BlockReading::kMasked ? "with bit 0 cleared" : "shifted right by one");
  return HYX_OK;
}

void HsiCache_Cleanup() {
  if (!cache.initialised) return;
  FreeIndex(cache.modules);
  free(cache.view.map);
  cache = CacheState{};
  hsiCacheVerbosity = 0;
}

HYX_ReturnStatus HsiCache_Get(HsiNodeID node, HsiModuleID module, HsiParamList args, void *buffer,
                              uint32_t length) {
  if (!cache.initialised) return HYX_NOT_INITIALIZED;
  if (buffer == nullptr && length != 0) return HYX_BAD_PARAM;
  HsiCacheNodeRecord record;
  HYX_ReturnStatus status = FindRecord(__func__, node, module, &record);
  if (status != HYX_OK) return status;
  status = HsiCacheCheckValidLeaf(node, module, record, args);
  if (status != HYX_OK) {
    CACHE_ERROR("Node %d failed validation checks for leaf node\n", static_cast<int>(node));
    return status;
  }
  if (record.dataLength != length) {
    CACHE_DIAGNOSTIC("Data length mismatch for get on node %d (%d,%d)\n", static_cast<int>(node),
                     static_cast<int>(record.dataLength), static_cast<int>(length));
    return HYX_HSI_DATA_LENGTH_MISMATCH;
  }
  if (record.getCount == 0) {
    CACHE_ERROR("WARNING: Possibly corrupted cache file: no GET calls for node %d\n", static_cast<int>(node));
    return HYX_READ_ERROR;
  }
  HsiCacheGetEntry entry{};
  uint32_t at = record.firstGet;
  for (uint32_t k = 0; k < record.getCount; k++, at = entry.next) {
    entry = Load<HsiCacheGetEntry>(at);
    if (!ArgsMatch(entry.args, args)) continue;
    if (entry.status != HYX_OK) return entry.status;
    if (length != 0) memcpy(buffer, cache.view.map + entry.data, length);
    return HYX_OK;
  }
  return HYX_BAD_PARAM;
}

HYX_ReturnStatus HsiCache_GetInstanceList(HsiNodeID node, HsiModuleID module, HsiParamList args,
                                          HsiParamList list) {
  if (!cache.initialised) return HYX_NOT_INITIALIZED;
  if (list == nullptr) return HYX_BAD_PARAM;
  HsiCacheNodeRecord record;
  HYX_ReturnStatus status = FindRecord(__func__, node, module, &record);
  if (status != HYX_OK) return status;
  status = HsiCacheCheckValidInstanceNode(node, module, record, args);
  if (status != HYX_OK) {
    CACHE_ERROR("Node %d failed validation checks for instance node\n", static_cast<int>(node));
    return status;
  }
  if (record.listCount == 0) {
    CACHE_ERROR("WARNING: Possibly corrupted cache file: no LIST calls for node %d\n",
                static_cast<int>(node));
    return HYX_READ_ERROR;
  }
  HsiCacheListEntry entry{};
  uint32_t at = record.firstList;
  for (uint32_t k = 0; k < record.listCount; k++, at = entry.next) {
    entry = Load<HsiCacheListEntry>(at);
    if (!ArgsMatch(entry.args, args)) continue;
    if (entry.status != HYX_OK) return entry.status;
    return HsiCacheCreateHsiInstanceList(entry, list);
  }
  return HYX_BAD_PARAM;
}

HYX_ReturnStatus HsiCacheVerifyInstanceArgs(HsiNodeID node, HsiModuleID module, bool isList,
                                            HsiParamList args) {
  const HsiParamListRecord *list = args != nullptr ? HsiParamList_Record(args) : nullptr;
  if (list != nullptr && list->listType != HSI_PARAMLIST_INSTANCE) {
    CACHE_ERROR("expecting instance list");
    return HYX_BAD_PARAM_TYPE;
  }
  int64_t n = HsiParamList_Count(args);
  int64_t r = n - 1;  // the argument the next instance node takes
  if (IsTreeTop(node)) {
    if (n == 0) return HYX_OK;
    CACHE_DIAGNOSTIC("Expecting %d args, got %d args\n", 0, static_cast<int>(n));
    return HYX_BAD_PARAM_COUNT;
  }
  bool recursive = false;
  HsiNodeID at = node;
  for (int depth = 0; !IsTreeTop(at); depth++) {
    if (depth == kMaxDepth) return HYX_READ_ERROR;  // a recorded parent chain that loops
    HsiNodeDef scratch;
    const HsiNodeDef *def;
    HYX_ReturnStatus status = NodeDef(at, module, &scratch, &def);
    if (status != HYX_OK) return status;
    if (def->instance && !(isList && depth == 0)) {
      if (r < 0) {
        CACHE_DIAGNOSTIC("Got %d args, expecting more\n", static_cast<int>(n));
        return HYX_BAD_PARAM_COUNT;
      }
      bool isInt = HsiParamList_GetParam(args, static_cast<uint32_t>(r))->type == HSI_PARAM_INT;
      if (isInt != (def->integerKey != 0)) {
        CACHE_DIAGNOSTIC("Arg %d is type %d, expecting type %d\n", static_cast<int>(r), isInt ? 1 : 0,
                         static_cast<int>(def->integerKey));
        return HYX_BAD_PARAM_TYPE;
      }
      r--;
    }
    if (def->recursive & 1) recursive = true;
    at = def->parent;
  }
  if (recursive || r == -1) return HYX_OK;
  CACHE_DIAGNOSTIC("Expecting %d args, got %d args\n", static_cast<int>(n - 1 - r), static_cast<int>(n));
  return HYX_BAD_PARAM_COUNT;
}

HYX_ReturnStatus HsiCache_GetModuleID(const char *name, HsiModuleID *id) {
  if (name == nullptr || id == nullptr) return HYX_BAD_PARAM;
  *id = -1;
  size_t length = strlen(name);
  for (const HsiCacheModule *m = cache.modules; m != nullptr; m = m->next) {
    const char *recorded = reinterpret_cast<const char *>(cache.view.map + m->record) +
                           offsetof(HsiCacheModuleRecord, name);  // NUL-terminated, checked at init
    if (strncmp(recorded, name, length) == 0) {
      *id = m->id;
      return HYX_OK;
    }
  }
  return HYX_NOT_FOUND;
}

HYX_ReturnStatus HsiCache_GetModuleRootChild(HsiModuleID module, HsiNodeID *child) {
  if (child == nullptr) return HYX_BAD_PARAM;
  if (!cache.initialised) return HYX_NOT_INITIALIZED;
  Slot slot;
  if (Lookup(HSI_MODULE_NODE_BASE, module, &slot) != HYX_OK || slot.info == 0) return HYX_NOT_FOUND;
  *child = Load<uint32_t>(slot.info + offsetof(HsiNodeDef, firstChild));
  return HYX_OK;
}

HYX_ReturnStatus HsiCache_GetBuildInfo(char *buffer, uint32_t size) {
  if (!cache.initialised) return HYX_NOT_INITIALIZED;
  if (buffer == nullptr || size < HSI_CACHE_BUILD_SIZE) return HYX_BAD_PARAM;
  auto trailer = Load<HsiCacheTrailer>(cache.view.end);
  // Always terminated, whatever the file holds.
  size_t length = strnlen(trailer.build, sizeof trailer.build - 1);
  memcpy(buffer, trailer.build, length);
  buffer[length] = '\0';
  return strncmp(trailer.signature, HSI_SIGNATURE, sizeof trailer.signature) == 0 ? HYX_OK : HYX_FAILURE;
}

bool HsiCache_NodeExists(HsiNodeID node, HsiModuleID module) {
  Slot slot;
  return cache.initialised && Lookup(node, module, &slot) == HYX_OK && slot.node != 0;
}

HYX_ReturnStatus HsiCache_GetNodeDef(HsiNodeID node, HsiModuleID module, HsiNodeDef *def, char *name,
                                     uint32_t nameLength) {
  if (def == nullptr || (name == nullptr && nameLength != 0)) return HYX_BAD_PARAM;
  if (!cache.initialised) return HYX_NOT_INITIALIZED;
  Slot slot;
  HYX_ReturnStatus status = Lookup(node, module, &slot);
  if (status != HYX_OK) return status;
  if (slot.info == 0) return HYX_BAD_PARAM;
  memcpy(def, cache.view.map + slot.info, HSI_NODE_REPLY_SIZE);
  auto nameAt = Load<uint64_t>(slot.info + offsetof(HsiCacheNodeInfo, name));
  const char *recorded = nameAt != 0 ? reinterpret_cast<const char *>(cache.view.map + nameAt) : "";
  if (nameLength != 0) strncpy(name, recorded, nameLength);
  return HYX_OK;
}

HYX_ReturnStatus HsiCache_GetNodeType(HsiNodeID node, HsiModuleID module, const HsiTypeDef **type) {
  if (type == nullptr) return HYX_BAD_PARAM;
  *type = nullptr;
  if (!cache.initialised) return HYX_NOT_INITIALIZED;
  Slot slot;
  HYX_ReturnStatus status = Lookup(node, module, &slot);
  if (status != HYX_OK) return status;
  if (slot.info == 0) return HYX_BAD_PARAM;
  auto typeAt = Load<uint64_t>(slot.info + offsetof(HsiCacheNodeInfo, type));
  if (typeAt == 0) return HYX_OK;
  return HsiCache_CopyType(typeAt, type);
}

HYX_ReturnStatus HsiCache_CopyType(uint64_t offset, const HsiTypeDef **type) {
  if (type == nullptr) return HYX_BAD_PARAM;
  *type = nullptr;
  if (!cache.initialised) return HYX_NOT_INITIALIZED;
  TypeBudget budget{kMaxTypeItems, kTypeBytesPerFileByte * cache.size};
  return CopyTypeAt(cache.view, offset, type, 0, budget);
}
