#include "hsiSnapshot.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <vector>

#include "common/guard.h"
#include "hyxsysinfo/hsiCacheFormat.h"
#include "hyxsysinfo/hsiParams.h"  // HSI_PARAM_MAX_STRING
#include "hyxsysinfo/kernelWire.h"

namespace hyxsim {
namespace {

// Node tables a snapshot may declare; larger ones are refused rather than
// allocated.
constexpr int32_t kMostSlots = 65536;

std::string Hex(uint64_t value) {
  char text[24];
  snprintf(text, sizeof text, "%#llx", static_cast<unsigned long long>(value));
  return text;
}

// The file's bytes and the checks every record read goes through.  Records
// live in the data area (the blocks, before the trailer); offset 0 is the
// first block's header and never a record.
class Reader {
 public:
  std::vector<uint8_t> bytes;
  uint64_t dataEnd = 0;
  std::string error;

  bool Fail(const std::string &why) {
    if (error.empty()) error = why;
    return false;
  }

  // Whether length bytes at offset lie in the data area.
  bool Inside(uint64_t offset, uint64_t length) const {
    return offset != 0 && offset < dataEnd && length <= dataEnd - offset;
  }

  // Whether count records of type T can be distinct records of the data
  // area; a chain that claims more runs in a circle.
  template <typename T>
  bool Fits(uint64_t count, const std::string &what) {
    if (count <= dataEnd / sizeof(T)) return true;
    return Fail(what + ": " + std::to_string(count) + " records do not fit the data area");
  }

  // A record at offset, copied out.
  template <typename T>
  bool Record(uint64_t offset, const std::string &what, T &out) {
    if (!Inside(offset, sizeof(T))) return Fail(what + " at " + Hex(offset) + " lies outside the data area");
    memcpy(&out, bytes.data() + offset, sizeof out);
    return true;
  }

  // A NUL-terminated text at offset, inside the data area.
  bool Text(uint64_t offset, const std::string &what, std::string &out) {
    if (!Inside(offset, 1)) return Fail(what + " at " + Hex(offset) + " lies outside the data area");
    const auto *start = reinterpret_cast<const char *>(bytes.data() + offset);
    const void *end = memchr(start, '\0', dataEnd - offset);
    if (end == nullptr) return Fail(what + " at " + Hex(offset) + " is not terminated");
    out.assign(start, static_cast<const char *>(end));
    return true;
  }

  // A parameter record: an integer, or a string kept in the data area.
  bool Param(uint64_t offset, const std::string &what, HsiValue &value) {
    HsiParam param;
    if (!Record(offset, what, param)) return false;
    if (param.type == HSI_PARAM_INT) {
      value.isInt = true;
      value.number = param.value;
      return true;
    }
    if (param.type != HSI_PARAM_STRING)
      return Fail(what + " at " + Hex(offset) + ": type " + std::to_string(param.type) +
                  " is neither an integer nor a string");
    if (param.length == 0 || param.length > HSI_PARAM_MAX_STRING)
      return Fail(what + " at " + Hex(offset) + ": string length " + std::to_string(param.length) +
                  " is not 1 to " + std::to_string(HSI_PARAM_MAX_STRING));
    if (!Inside(param.offset, param.length))
      return Fail(what + " at " + Hex(offset) + ": its string lies outside the data area");
    const char *text = reinterpret_cast<const char *>(bytes.data() + param.offset);
    if (text[param.length - 1] != '\0')
      return Fail(what + " at " + Hex(offset) + ": its string is not terminated");
    value.text.assign(text, param.length - 1);
    return true;
  }

  // An argument chain, which runs from the last value to the first.
  bool Arguments(uint32_t offset, const std::string &what, std::vector<HsiValue> &values) {
    for (uint32_t at = offset, n = 0; at != 0; n++) {
      if (n > dataEnd / sizeof(HsiCacheArgLink)) return Fail(what + ": its arguments run in a circle");
      HsiCacheArgLink link;
      HsiValue value;
      if (!Record(at, what + ": argument link", link) || !Param(link.param, what + ": argument", value))
        return false;
      values.push_back(std::move(value));
      at = link.next;
    }
    std::reverse(values.begin(), values.end());
    return true;
  }
};

// The block chain and the trailer that must follow its last block.
bool ReadLayout(Reader &r, HsiCacheTrailer &trailer) {
  uint64_t size = r.bytes.size();
  if (size < sizeof(uint32_t) + sizeof(HsiCacheTrailer))
    return r.Fail("only " + std::to_string(size) + " bytes: too short for a block and the trailer");
  uint64_t limit = size - sizeof(HsiCacheTrailer);
  for (uint64_t at = 0;;) {
    if (at + sizeof(uint32_t) > limit)
      return r.Fail("the block chain runs into the trailer at " + Hex(at) + " (no last block)");
    uint32_t header;
    memcpy(&header, r.bytes.data() + at, sizeof header);
    uint32_t length = HsiCacheBlockLength(header);
    if (length < sizeof header)
      return r.Fail("block at " + Hex(at) + ": length " + std::to_string(length) + " is below 4");
    if (length > limit - at) return r.Fail("block at " + Hex(at) + " runs into the trailer: truncated file?");
    at += length;
    if (header & HSI_CACHE_LAST_BLOCK) {
      if (at != limit)
        return r.Fail(std::to_string(limit - at) + " bytes between the last block and the trailer");
      break;
    }
  }
  r.dataEnd = limit;
  memcpy(&trailer, r.bytes.data() + limit, sizeof trailer);
  if (memchr(trailer.build, '\0', sizeof trailer.build) == nullptr)
    return r.Fail("trailer: the build string is not terminated");
  const char *signature = trailer.signature;
  bool hex = signature[HSI_CACHE_SIGNATURE_SIZE - 1] == '\0';
  for (size_t i = 0; hex && i + 1 < HSI_CACHE_SIGNATURE_SIZE; i++)
    hex = (signature[i] >= '0' && signature[i] <= '9') || (signature[i] >= 'a' && signature[i] <= 'f');
  if (!hex) return r.Fail("trailer: the interface signature is not 32 lowercase hexadecimal digits");
  if (static_cast<int32_t>(trailer.moduleCount) < 0)
    return r.Fail("trailer: module count " + std::to_string(static_cast<int32_t>(trailer.moduleCount)) +
                  " is negative");
  return true;
}

// One node record: its definition, its gets and its lists.
bool ReadNode(Reader &r, const HsiCacheNodeRecord &record, const std::string &where, HsiModule &module,
              std::vector<uint8_t> &fromFile) {
  uint32_t id = record.slot + module.tables.base;
  HsiNodeDef &row = module.nodes[record.slot];
  if (record.info != 0) {
    HsiCacheNodeInfo info;
    if (!r.Record(record.info, where + ": definition", info)) return false;
    HsiNodeDef def{};
    memcpy(&def, info.def, sizeof info.def);
    if (def.id != id)
      return r.Fail(where + ": its definition is of node " + std::to_string(def.id) + ", not " +
                    std::to_string(id));
    if (def.signature != record.signature)
      return r.Fail(where + ": recorded with signature " + Hex(record.signature) + ", defined with " +
                    Hex(def.signature));
    std::string name;
    if (!r.Text(info.name, where + ": name", name)) return false;
    module.names[record.slot] = std::move(name);
    row = def;
    module.described[record.slot] = 1;
    fromFile[record.slot] = 1;
  } else if (!module.described[record.slot]) {
    return r.Fail(where + ": no definition");
  }
  row.signature = record.signature;

  if (!r.Fits<HsiCacheGetEntry>(record.getCount, where + ": get entries") ||
      !r.Fits<HsiCacheListEntry>(record.listCount, where + ": list entries"))
    return false;
  std::vector<HsiEntry> &gets = module.store[id];
  for (uint32_t i = 0, at = record.firstGet; i < record.getCount; i++) {
    std::string what = where + ": get entry " + std::to_string(i);
    HsiCacheGetEntry entry;
    HsiEntry get;
    if (!r.Record(at, what, entry) || !r.Arguments(entry.args, what, get.instances)) return false;
    get.hasValue = true;
    get.status = entry.status;
    if (entry.status == 0 && record.dataLength != 0) {
      if (!r.Inside(entry.data, record.dataLength))
        return r.Fail(what + ": its " + std::to_string(record.dataLength) +
                      " bytes lie outside the data area");
      const uint8_t *data = r.bytes.data() + entry.data;
      get.bytes.assign(data, data + record.dataLength);
    }
    gets.push_back(std::move(get));
    at = entry.next;
  }
  if (gets.empty()) module.store.erase(id);

  std::vector<HsiListEntry> &lists = module.lists[id];
  for (uint32_t i = 0, at = record.firstList; i < record.listCount; i++) {
    std::string what = where + ": list entry " + std::to_string(i);
    HsiCacheListEntry entry;
    HsiListEntry list;
    if (!r.Record(at, what, entry) || !r.Arguments(entry.args, what, list.instances)) return false;
    list.status = entry.status;
    if (entry.status == 0 && !r.Fits<HsiCacheListItem>(entry.itemCount, what + ": items")) return false;
    for (uint32_t k = 0, item = entry.firstItem; entry.status == 0 && k < entry.itemCount; k++) {
      HsiCacheListItem link;
      HsiValue value;
      if (!r.Record(item, what + ": item " + std::to_string(k), link) ||
          !r.Param(link.param, what + ": item " + std::to_string(k), value))
        return false;
      list.items.push_back(std::move(value));
      item = link.next;
    }
    lists.push_back(std::move(list));
    at = entry.next;
  }
  if (lists.empty()) module.lists.erase(id);
  return true;
}

// What the recorded values need of the node tables, once every definition
// is in: parents that are described and end at the top, and entries with
// as many instance values, of the right kinds, as their node takes.  A
// variable-length value is recorded as a sized buffer; it is kept as the
// value the buffer holds.
bool CheckModule(Reader &r, const std::string &where, HsiModule &module,
                 const std::vector<uint8_t> &fromFile) {
  const HsiTableSet &tables = module.tables;
  for (uint32_t slot = 0; slot < tables.nodeCount; slot++) {
    if (!fromFile[slot]) continue;
    uint32_t id = slot + tables.base;
    uint32_t steps = 0;
    for (uint32_t at = tables.Node(id).parent; at != tables.base && at != HSI_NO_NODE;
         at = tables.Node(at).parent) {
      if (!tables.Has(at))
        return r.Fail(where + ": node " + std::to_string(id) + ": parent " + std::to_string(at) +
                      " is not described");
      if (++steps > tables.nodeCount)
        return r.Fail(where + ": node " + std::to_string(id) + ": its parents loop");
    }
  }
  auto checkValues = [&](uint32_t id, const std::vector<HsiValue> &values, bool list,
                         const std::string &what) {
    std::vector<uint32_t> path = HsiInstancePath(tables, id);
    if (list && !path.empty() && path.back() == id) path.pop_back();
    bool recursive = false;
    // Bit 0 alone says that instances nest.
    for (uint32_t node : path) recursive |= (tables.Node(node).recursive & 1) != 0;
    if (recursive ? values.size() < path.size() : values.size() != path.size())
      return r.Fail(what + ": " + std::to_string(values.size()) + " instance values where the node takes " +
                    std::to_string(path.size()));
    for (size_t i = 0; i < values.size(); i++) {
      const HsiNodeDef &node = tables.Node(path[i < path.size() ? i : path.size() - 1]);
      if (values[i].isInt != (node.integerKey != 0))
        return r.Fail(what + ": instance value " + std::to_string(i) + " is " +
                      (values[i].isInt ? "an integer" : "a string") + " where the node takes " +
                      (node.integerKey ? "integers" : "strings"));
    }
    return true;
  };
  for (auto &[id, gets] : module.store) {
    const HsiNodeDef &node = tables.Node(id);
    for (size_t i = 0; i < gets.size(); i++) {
      std::string what = where + ": node " + std::to_string(id) + ": get entry " + std::to_string(i);
      if (!checkValues(id, gets[i].instances, false, what)) return false;
      if (!node.variableLength || gets[i].status != 0) continue;
      HsiSizedHeader header{};
      if (gets[i].bytes.size() >= sizeof header) memcpy(&header, gets[i].bytes.data(), sizeof header);
      if (gets[i].bytes.size() < sizeof header || header.length > gets[i].bytes.size() - sizeof header)
        return r.Fail(what + ": the node's values are variable-length, and this is no sized buffer");
      gets[i].bytes.erase(gets[i].bytes.begin(), gets[i].bytes.begin() + sizeof header);
      gets[i].bytes.resize(header.length);
    }
  }
  for (const auto &[id, lists] : module.lists) {
    if (!tables.Node(id).instance)
      return r.Fail(where + ": node " + std::to_string(id) + " is no instance node, yet has lists");
    for (size_t i = 0; i < lists.size(); i++)
      if (!checkValues(id, lists[i].instances, true,
                       where + ": node " + std::to_string(id) + ": list entry " + std::to_string(i)))
        return false;
  }
  return true;
}

// Makes room for count node slots (never fewer than it has), keeping the
// rows it holds.
void Grow(HsiModule &module, uint32_t count) {
  if (count > module.nodes.size()) {
    module.nodes.resize(count, HsiNodeDef{});
    module.names.resize(count);
    module.described.resize(count, 0);
  }
  module.tables.nodes = module.nodes.data();
  module.tables.nodeCount = static_cast<uint32_t>(module.nodes.size());
  module.tables.described = module.described.data();
}

// Empty tables with the kernel's types; a static table recorded against
// the simulated kernel's own interface starts from that interface's rows.
void MakeTables(HsiModule &module, uint32_t base, const HsiTableSet *start, const HsiTableSet &interface) {
  module.tables = HsiTableSet{nullptr, 0, nullptr, interface.types, interface.typeCount, base, nullptr};
  Grow(module, start ? start->nodeCount : 0);
  for (uint32_t i = 0; start != nullptr && i < start->nodeCount; i++) {
    module.nodes[i] = start->nodes[i];
    module.described[i] = 1;
  }
}

// Names point into the module's own strings once they stop moving; rows
// from the interface keep the interface's names.
void FixNames(HsiModule &module) {
  for (size_t i = 0; i < module.nodes.size(); i++)
    if (module.nodes[i].name == nullptr || !module.names[i].empty())
      module.nodes[i].name = module.names[i].c_str();
}

bool ReadFile(const std::string &path, std::vector<uint8_t> &bytes, std::string &error) {
  guard::Fd fd(open(path.c_str(), O_RDONLY | O_CLOEXEC));
  struct stat st;
  if (!fd.valid() || fstat(fd.get(), &st) != 0) {
    error = strerror(errno);
    return false;
  }
  if (!S_ISREG(st.st_mode) || st.st_size > UINT32_MAX) {
    error = S_ISREG(st.st_mode) ? "larger than 4 GiB: offsets are 32 bits" : "not a regular file";
    return false;
  }
  bytes.resize(static_cast<size_t>(st.st_size));
  for (size_t done = 0; done < bytes.size();) {
    ssize_t n = read(fd.get(), bytes.data() + done, bytes.size() - done);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) {
      error = n < 0 ? strerror(errno) : "the file shrank while it was read";
      return false;
    }
    done += static_cast<size_t>(n);
  }
  return true;
}

}  // namespace

namespace {

// One module record and its node records.
bool ReadModule(Reader &r, const HsiCacheModuleRecord &record, const std::string &where, HsiModule &module) {
  if (record.slotCount <= 0 || record.slotCount > kMostSlots)
    return r.Fail(where + ": slot count " + std::to_string(record.slotCount) + " is not 1 to " +
                  std::to_string(kMostSlots));
  uint32_t slots = static_cast<uint32_t>(record.slotCount);
  Grow(module, slots);
  std::vector<uint8_t> fromFile(module.nodes.size(), 0), seen(slots, 0);
  for (uint32_t n = 0, at = record.firstNode; n < record.nodeCount; n++) {
    HsiCacheNodeRecord node;
    std::string what = where + ": node record " + std::to_string(n);
    if (!r.Record(at, what, node)) return false;
    if (node.slot >= slots)
      return r.Fail(what + ": slot " + std::to_string(node.slot) + " is not below the slot count " +
                    std::to_string(slots));
    what = where + ": node " + std::to_string(node.slot + module.tables.base);
    if (seen[node.slot]) return r.Fail(what + ": recorded twice");
    seen[node.slot] = 1;
    if (!ReadNode(r, node, what, module, fromFile)) return false;
    at = node.nextNode;
  }
  // A module's top node (5000) holds its first child.
  if (module.tables.base == HSI_MODULE_NODE_BASE && !module.described[0])
    return r.Fail(where + ": its top node " + std::to_string(HSI_MODULE_NODE_BASE) + " is not described");
  return CheckModule(r, where, module, fromFile);
}

}  // namespace

bool HsiReadSnapshot(const std::string &path, const HsiTableSet &interface, HsiSnapshot &snapshot,
                     std::string &error) {
  Reader r;
  if (!ReadFile(path, r.bytes, error)) return false;
  HsiCacheTrailer trailer;
  if (!ReadLayout(r, trailer)) {
    error = r.error;
    return false;
  }
  snapshot.build = trailer.build;
  snapshot.signature = std::string(trailer.signature);

  // The static nodes start from the interface's rows when the file was
  // recorded against the same interface.
  HsiModule &kernel = snapshot.kernel;
  kernel.id = 0;
  MakeTables(kernel, 0, snapshot.signature == interface.signature ? &interface : nullptr, interface);
  bool sawKernel = false;
  for (uint32_t m = 0, at = trailer.firstModule; m < trailer.moduleCount; m++) {
    HsiCacheModuleRecord record;
    std::string where = "module record " + std::to_string(m);
    if (!r.Record(at, where, record)) break;
    if (memchr(record.name, '\0', sizeof record.name) == nullptr) {
      r.Fail(where + ": its name is not terminated");
      break;
    }
    auto id = static_cast<int32_t>(record.moduleId);
    where =
        id == 0 ? std::string("static nodes") : "module " + std::to_string(id) + " (\"" + record.name + "\")";
    bool repeated = id == 0 && sawKernel;
    for (const HsiModule &module : snapshot.modules) repeated |= module.id == id;
    if (repeated || id < 0) {
      r.Fail(where + (id < 0 ? ": module ids are not negative" : ": recorded twice"));
      break;
    }
    HsiModule *module = &kernel;
    if (id == 0) {
      sawKernel = true;
    } else {
      module = &snapshot.modules.emplace_back();
      module->name = record.name;
      module->id = id;
      MakeTables(*module, HSI_MODULE_NODE_BASE, nullptr, interface);
    }
    if (!ReadModule(r, record, where, *module)) break;
    at = record.nextModule;
  }
  if (!r.error.empty()) {
    error = r.error;
    return false;
  }
  // Node 1, the kernel's node signatures, can always be asked.
  Grow(kernel, 2);
  if (!kernel.described[1] && interface.nodeCount > 1) {
    kernel.nodes[1] = interface.nodes[1];
    kernel.described[1] = 1;
  }
  FixNames(kernel);
  for (HsiModule &module : snapshot.modules) FixNames(module);
  return true;
}

}  // namespace hyxsim
