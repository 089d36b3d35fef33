// The system-information server: gets, size queries, sets and instance
// lists on the host's node values (the node calls), the signature exchange,
// and the module calls on the profile's modules.  Every block and list is
// read and written in the caller's memory, laid out as kernelWire.h says.
// With a snapshot the same calls answer from the snapshot's tree instead
// (hsiSnapshot.h), and the host refuses every set.
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <deque>
#include <memory>
#include <mutex>

#include "../kit.h"
#include "../models.h"
#include "../profile.h"
#include "hsiSnapshot.h"
#include "hsiStore.h"
#include "uefiShare.h"

namespace hyxsim {
namespace {

constexpr uint32_t kHashNode = 1;  // sysInfoNodeHashes
// Attributes word that leads a UEFI variable's value.
constexpr size_t kUefiAttributesSize = 4;

struct Server {
  std::mutex lock;
  HsiStore store;
  std::deque<HsiModule> modules;          // in place: their tables point into them
  uint32_t uefiNode = HSI_NO_NODE;        // the kernel's UEFI variables
  std::unique_ptr<HsiSnapshot> snapshot;  // answering from a snapshot: read once at start
};

Server &TheServer() {
  static Server *server = new Server;  // never destroyed: calls may come during exit
  return *server;
}

// The "hsi" section: the kernel's node values.
bool LoadValues(const nlohmann::json *section, std::string &error) {
  return section == nullptr || HsiLoadStore(KernelHsiTables(), *section, TheServer().store, error);
}

// The "hsiModules" section: a list of modules.  With a snapshot the
// snapshot's modules are the host's; the section is still checked.
bool LoadModules(const nlohmann::json *section, std::string &error) {
  if (section == nullptr) return true;
  if (!section->is_array()) {
    error = "hsiModules: takes a list";
    return false;
  }
  std::deque<HsiModule> unused;
  std::deque<HsiModule> &modules = TheServer().snapshot ? unused : TheServer().modules;
  for (size_t i = 0; i < section->size(); ++i) {
    HsiModule &module = modules.emplace_back();
    if (!HsiLoadModule(KernelHsiTables(), (*section)[i], "hsiModules[" + std::to_string(i) + "]", module,
                       error))
      return false;
  }
  return true;
}

std::deque<HsiModule> &Modules(Server &server) {
  return server.snapshot ? server.snapshot->modules : server.modules;
}

HsiModule *ModuleById(Server &server, int32_t id) {
  for (HsiModule &module : Modules(server))
    if (module.id == id) return &module;
  return nullptr;
}

// The node table and values a call works on: the kernel's, or a module's.
struct Scope {
  const HsiTableSet *tables = nullptr;
  HsiStore *store = nullptr;
  bool kernel = true;
  const HsiListStore *lists = nullptr;  // a snapshot's: lists as recorded, and no sets
};

Scope KernelScope(Server &server) {
  if (HsiSnapshot *snapshot = server.snapshot.get())
    return Scope{&snapshot->kernel.tables, &snapshot->kernel.store, true, &snapshot->kernel.lists};
  return Scope{&KernelHsiTables(), &server.store, true};
}

// The instance values of the caller's list (x3, x4), checked against the
// node's instance path (less the node itself for a list call).
uint32_t ReadParams(const HsiTableSet &tables, uint64_t address, uint64_t size,
                    const std::vector<uint32_t> &path, std::vector<HsiValue> &values) {
  uint32_t count = 0;
  const HsiParam *slots = nullptr;
  if (address != 0) {
    if (size < sizeof(HsiParamListRecord)) return HYX_BAD_PARAM;
    auto *record = reinterpret_cast<const HsiParamListRecord *>(address);
    if (record->count > record->capacity || record->headerSize != HsiParamList_HeaderSize(record->capacity) ||
        record->headerSize > size)
      return HYX_BAD_PARAM;
    count = record->count;
    slots = reinterpret_cast<const HsiParam *>(address + sizeof(HsiParamListRecord));
  }
  bool recursive = false;
  // Bit 0 alone says that instances nest.
  for (uint32_t id : path) recursive |= (tables.Node(id).recursive & 1) != 0;
  if (recursive ? count < path.size() : count != path.size()) return HYX_BAD_PARAM_COUNT;
  for (uint32_t i = 0; i < count; i++) {
    const HsiParam &slot = slots[i];
    // Values past the path's end belong to its last (recursive) node.
    const HsiNodeDef &node = tables.Node(path[i < path.size() ? i : path.size() - 1]);
    HsiValue value;
    if (node.integerKey) {
      if (slot.type != HSI_PARAM_INT) return HYX_BAD_PARAM_TYPE;
      value.isInt = true;
      value.number = slot.value;
    } else {
      if (slot.type != HSI_PARAM_STRING || slot.length == 0 || slot.value == 0) return HYX_BAD_PARAM_TYPE;
      // An inline string must lie inside the bytes the caller handed over.
      if (slot.value == reinterpret_cast<const HsiParamListRecord *>(address)->base &&
          (slot.offset > size || slot.length > size - slot.offset))
        return HYX_INVALID_ADDRESS;
      const char *text = reinterpret_cast<const char *>(slot.value + slot.offset);
      if (text[slot.length - 1] != '\0') return HYX_BAD_PARAM_TYPE;
      value.text.assign(text, slot.length - 1);
    }
    values.push_back(std::move(value));
  }
  return HYX_OK;
}

// Node, signature and parameter checks shared by the node calls.  Callers
// send module nodes with signature 0; a non-zero one is checked.
uint32_t Prepare(Server &server, Call &call, bool list, Scope &scope, uint32_t &node,
                 std::vector<HsiValue> &values) {
  int32_t moduleId = static_cast<int32_t>(call.args[1]);
  node = static_cast<uint32_t>(call.args[0]);
  if (moduleId == 0) {
    scope = KernelScope(server);
  } else {
    HsiModule *module = ModuleById(server, moduleId);
    if (module == nullptr) return HYX_HSI_INVALID_NODE_ID;
    scope = Scope{&module->tables, &module->store, false, server.snapshot ? &module->lists : nullptr};
  }
  const HsiTableSet &tables = *scope.tables;
  if (!tables.Has(node) || node == tables.base) return HYX_HSI_INVALID_NODE_ID;
  if ((scope.kernel || call.args[2] != 0) && call.args[2] != tables.Node(node).signature)
    return HYX_CHECKSUM_MISMATCH;
  std::vector<uint32_t> path = HsiInstancePath(tables, node);
  if (list) {
    if (!tables.Node(node).instance) return HYX_HSI_INVALID_NODE_ID;
    path.pop_back();
  } else if (!tables.Node(node).leaf) {
    return HYX_HSI_INVALID_NODE_ID;
  }
  return ReadParams(tables, call.args[3], call.args[4], path, values);
}

// Node 1: the kernel's node signatures by its own node ids (0 where a
// snapshot describes no node).
std::vector<uint8_t> NodeHashes(const HsiTableSet &tables) {
  HsiNodeHashReply reply{};
  reply.count = std::min(tables.nodeCount, HSI_NODE_HASH_CAPACITY);
  for (uint32_t i = 0; i < reply.count; i++) reply.hashes[i] = tables.Has(i) ? tables.nodes[i].signature : 0;
  const auto *bytes = reinterpret_cast<const uint8_t *>(&reply);
  return std::vector<uint8_t>(bytes, bytes + sizeof reply);
}

const HsiEntry *Find(HsiStore &store, uint32_t node, const std::vector<HsiValue> &values) {
  auto at = store.find(node);
  if (at == store.end()) return nullptr;
  for (const HsiEntry &entry : at->second)
    if (entry.hasValue && entry.instances == values) return &entry;
  return nullptr;
}

// The value of a get, a snapshot's recorded failure, or HYX_NOT_FOUND.
// Node 1 always describes the table the host serves: a snapshot's nodes
// sit at the slots it recorded them in, whatever numbering the recorded
// host's own reply gave.
uint32_t Value(const Scope &scope, uint32_t node, const std::vector<HsiValue> &values,
               std::vector<uint8_t> &bytes) {
  if (scope.kernel && node == kHashNode) {
    bytes = NodeHashes(*scope.tables);
    return HYX_OK;
  }
  const HsiEntry *entry = Find(*scope.store, node, values);
  if (entry == nullptr) return HYX_NOT_FOUND;
  if (entry->status != HYX_OK) return entry->status;
  bytes = entry->bytes;
  return HYX_OK;
}

using NodeHandler = void (*)(Call &call, const Scope &scope, uint32_t node,
                             const std::vector<HsiValue> &values);

// The node calls: under the server's lock, check the node, its
// signature, the parameters and the block address, then serve.
template <NodeHandler serve, bool list = false>
void ServeNodeCall(Call &call) {
  Server &server = TheServer();
  std::lock_guard<std::mutex> guard(server.lock);
  uint32_t node;
  std::vector<HsiValue> values;
  Scope scope;
  uint32_t status = Prepare(server, call, list, scope, node, values);
  if (status != HYX_OK) return Answer(call, status);
  if (call.args[5] == 0) return Answer(call, HYX_INVALID_ADDRESS);
  if (!scope.kernel || node != server.uefiNode) return serve(call, scope, node, values);
  // The variables are the sandbox's, not this process's.
  UefiShare share(server.store[node]);
  serve(call, scope, node, values);
  if (call.number == KERNEL_CALL_HSI_SET && call.status == HYX_OK) share.Save();
}

void Get(Call &call, const Scope &scope, uint32_t node, const std::vector<HsiValue> &values) {
  const auto block = ReadBlock<HsiGetBlock>(call.args[5]);
  uint64_t address = block.address;
  uint32_t length = block.length;
  if (block.kind != HSI_CALL_GET && block.kind != HSI_CALL_GET_SIZED) return Answer(call, HYX_BAD_PARAM);
  std::vector<uint8_t> bytes;
  uint32_t status = Value(scope, node, values, bytes);
  if (status != HYX_OK) return Answer(call, status);
  if (block.kind == HSI_CALL_GET_SIZED) {  // header and data: the whole buffer is length bytes
    if (address == 0 || length < sizeof(HsiSizedHeader)) return Answer(call, HYX_HSI_DATA_LENGTH_MISMATCH);
    auto header = ReadBlock<HsiSizedHeader>(address);
    if (header.capacity > length - sizeof header || bytes.size() > header.capacity)
      return Answer(call, HYX_HSI_DATA_LENGTH_MISMATCH);
    header.length = static_cast<uint32_t>(bytes.size());
    WriteBlock(address, header);
    if (header.length) memcpy(CallerBytes(address) + sizeof header, bytes.data(), header.length);
    return Answer(call, HYX_OK);
  }
  if (bytes.size() > length) return Answer(call, HYX_HSI_DATA_LENGTH_MISMATCH);
  if (!bytes.empty()) {
    if (address == 0) return Answer(call, HYX_INVALID_ADDRESS);
    memcpy(CallerBytes(address), bytes.data(), bytes.size());
  }
  Answer(call, HYX_OK);
}

void GetSize(Call &call, const Scope &scope, uint32_t node, const std::vector<HsiValue> &values) {
  std::vector<uint8_t> bytes;
  uint32_t status = Value(scope, node, values, bytes);
  if (status != HYX_OK) return Answer(call, status);
  WriteBlock(call.args[5], static_cast<uint32_t>(bytes.size()));
  Answer(call, HYX_OK);
}

// Sets store their input as the node's value for later gets: kind 2 the
// buffer, kind 4 the sized buffer's data, kind 1 the values of the input
// list (integers as 8 bytes, strings with their NUL).  A fixed-size node's
// value is cut or zero-padded to its get size.  Outputs are zeroed.
// A snapshot's host is read-only: its nodes have no set handlers.
void Set(Call &call, const Scope &scope, uint32_t node, const std::vector<HsiValue> &values) {
  if (scope.lists != nullptr) return Answer(call, HYX_HSI_HANDLER_NOT_FOUND);
  if (scope.kernel && node == kHashNode) return Answer(call, HYX_NOT_SUPPORTED);
  const auto block = ReadBlock<HsiSetBlock>(call.args[5]);
  uint32_t kind = block.kind;
  uint64_t in = block.input;
  uint32_t inLength = block.inputLength;
  uint64_t out = block.output;
  uint32_t outLength = block.outputLength;
  std::vector<uint8_t> bytes;
  if (kind == HSI_CALL_SET_BUFFER) {
    if (in == 0 && inLength != 0) return Answer(call, HYX_INVALID_ADDRESS);
    if (inLength)
      bytes.assign(reinterpret_cast<const uint8_t *>(in), reinterpret_cast<const uint8_t *>(in) + inLength);
  } else if (kind == HSI_CALL_SET_SIZED) {
    if (in == 0 || inLength < sizeof(HsiSizedHeader)) return Answer(call, HYX_BAD_PARAM);
    const auto header = ReadBlock<HsiSizedHeader>(in);
    if (header.capacity > inLength - sizeof header || header.length > header.capacity)
      return Answer(call, HYX_BAD_PARAM);
    bytes.assign(CallerBytes(in) + sizeof header, CallerBytes(in) + sizeof header + header.length);
  } else if (kind == HSI_CALL_SET_PARAMS) {
    if (in == 0 || inLength < sizeof(HsiParamListRecord)) return Answer(call, HYX_BAD_PARAM);
    auto *record = reinterpret_cast<const HsiParamListRecord *>(in);
    if (record->count > record->capacity || record->headerSize != HsiParamList_HeaderSize(record->capacity) ||
        record->headerSize > inLength)
      return Answer(call, HYX_BAD_PARAM);
    auto *slots = reinterpret_cast<const HsiParam *>(in + sizeof(HsiParamListRecord));
    for (uint32_t i = 0; i < record->count; i++) {
      const HsiParam &slot = slots[i];
      if (slot.type == HSI_PARAM_INT) {
        for (int b = 0; b < 8; b++) bytes.push_back(static_cast<uint8_t>(slot.value >> (8 * b)));
      } else if (slot.type == HSI_PARAM_STRING && slot.value != 0) {
        if (slot.value == record->base && (slot.offset > inLength || slot.length > inLength - slot.offset))
          return Answer(call, HYX_INVALID_ADDRESS);
        auto *text = reinterpret_cast<const uint8_t *>(slot.value + slot.offset);
        bytes.insert(bytes.end(), text, text + slot.length);
      } else {
        return Answer(call, HYX_BAD_PARAM_TYPE);
      }
    }
  } else {
    return Answer(call, HYX_BAD_PARAM);
  }
  const HsiNodeDef &def = scope.tables->Node(node);
  if (!def.variableLength && def.getSize) bytes.resize(def.getSize);
  // A UEFI variable written with its attributes and no contents is deleted.
  bool remove = scope.kernel && node == TheServer().uefiNode && bytes.size() == kUefiAttributesSize;
  if (out != 0 && outLength != 0) {
    if (kind == HSI_CALL_SET_SIZED && outLength >= sizeof(HsiSizedHeader))
      memset(CallerBytes(out) + offsetof(HsiSizedHeader, length), 0, 4);  // a sized output holding nothing
    else
      memset(reinterpret_cast<void *>(out), 0, outLength);
  }
  HsiStore &store = *scope.store;
  if (remove) {
    std::vector<HsiEntry> &entries = store[node];
    auto kept = std::remove_if(entries.begin(), entries.end(), [&](const HsiEntry &entry) {
      return entry.instances == values && entry.hasValue;
    });
    if (kept == entries.end()) return Answer(call, HYX_NOT_FOUND);
    entries.erase(kept, entries.end());
    return Answer(call, HYX_OK);
  }
  for (HsiEntry &entry : store[node])
    if (entry.instances == values) {
      entry.hasValue = true;
      entry.bytes = std::move(bytes);
      return Answer(call, HYX_OK);
    }
  store[node].push_back(HsiEntry{values, true, std::move(bytes)});
  Answer(call, HYX_OK);
}

bool Within(const HsiTableSet &tables, uint32_t node, uint32_t ancestor) {
  for (uint32_t at = node; at != tables.base && tables.Has(at); at = tables.Node(at).parent)
    if (at == ancestor) return true;
  return false;
}

// The instances of node under the given outer values: every value that
// an entry at or below node holds in node's place, first seen first; for
// the module root, the modules.  A snapshot answers what it recorded for
// these values (none: no instances).
uint32_t Instances(const Scope &scope, uint32_t node, const std::vector<HsiValue> &outer,
                   std::vector<HsiValue> &found) {
  if (scope.lists != nullptr) {
    auto at = scope.lists->find(node);
    if (at == scope.lists->end()) return HYX_OK;
    for (const HsiListEntry &entry : at->second)
      if (entry.instances == outer) {
        if (entry.status != HYX_OK) return entry.status;
        found = entry.items;
        return HYX_OK;
      }
    return HYX_OK;
  }
  const HsiTableSet &tables = *scope.tables;
  const HsiStore &store = *scope.store;
  // The module root's instances are the kernel's modules, by name.
  if (scope.kernel && tables.Node(node).moduleRoot) {
    for (const HsiModule &module : TheServer().modules) found.push_back(HsiValue{false, 0, module.name});
    return HYX_OK;
  }
  for (const auto &[id, entries] : store) {
    if (!Within(tables, id, node)) continue;
    for (const HsiEntry &entry : entries) {
      if (entry.instances.size() <= outer.size() ||
          !std::equal(outer.begin(), outer.end(), entry.instances.begin()))
        continue;
      const HsiValue &value = entry.instances[outer.size()];
      if (std::find(found.begin(), found.end(), value) == found.end()) found.push_back(value);
    }
  }
  return HYX_OK;
}

// Fills the caller's instance list in place: count is what fits the slots,
// total count what the host has; strings go one after the other into the
// data area, based on the record's own base field.
void List(Call &call, const Scope &scope, uint32_t node, const std::vector<HsiValue> &values) {
  const auto block = ReadBlock<HsiListBlock>(call.args[5]);
  uint64_t address = block.record;
  uint32_t size = block.size;
  if (address == 0 || size < sizeof(HsiParamListRecord)) return Answer(call, HYX_BAD_PARAM);
  auto *record = reinterpret_cast<HsiParamListRecord *>(address);
  if (record->listType != HSI_PARAMLIST_INSTANCE ||
      record->headerSize != HsiParamList_HeaderSize(record->capacity) ||
      uint64_t{record->headerSize} + record->dataCapacity > size)
    return Answer(call, HYX_BAD_PARAM);
  std::vector<HsiValue> instances;
  uint32_t status = Instances(scope, node, values, instances);
  if (status != HYX_OK) return Answer(call, status);
  uint32_t fill =
      instances.size() < record->capacity ? static_cast<uint32_t>(instances.size()) : record->capacity;
  uint64_t needed = 0;
  for (uint32_t i = 0; i < fill; i++)
    if (!instances[i].isInt) needed += instances[i].text.size() + 1;
  if (needed > record->dataCapacity) return Answer(call, HYX_NO_MEMORY_RETRY);
  auto *slots = reinterpret_cast<HsiParam *>(address + sizeof(HsiParamListRecord));
  uint64_t next = record->headerSize;
  for (uint32_t i = 0; i < fill; i++) {
    HsiParam &slot = slots[i];
    memset(&slot, 0, sizeof slot);
    if (instances[i].isInt) {
      slot.value = instances[i].number;
      slot.type = HSI_PARAM_INT;
      continue;
    }
    uint32_t length = static_cast<uint32_t>(instances[i].text.size() + 1);
    memcpy(reinterpret_cast<uint8_t *>(address) + next, instances[i].text.c_str(), length);
    slot.value = record->base;
    slot.offset = next;
    slot.length = length;
    slot.type = HSI_PARAM_STRING;
    next += length;
  }
  for (uint32_t i = fill; i < record->capacity; i++) memset(&slots[i], 0, sizeof slots[i]);
  record->count = fill;
  record->totalCount = static_cast<uint32_t>(instances.size());
  record->dataUsed = static_cast<uint32_t>(needed);
  record->nextDataOffset = record->dataCapacity ? next : 0;
  Answer(call, HYX_OK);
}

// The kernel accepts the library's interface signature when the profile
// says so and the text is its own; a snapshot's host accepts the signature
// it was recorded with and writes back its build.  x0 the text, x1 a
// buffer for the kernel's build, x2 its size.
void ExchangeSignature(Call &call) {
  const char *text = reinterpret_cast<const char *>(call.args[0]);
  if (text == nullptr) return Answer(call, HYX_INVALID_ADDRESS);
  const Profile &profile = CurrentProfile();
  if (const HsiSnapshot *snapshot = TheServer().snapshot.get()) {
    if (snapshot->signature != text) return Answer(call, HYX_CHECKSUM_MISMATCH);
    WriteText(call.args[1], call.args[2], snapshot->build.c_str());
    return Answer(call, HYX_OK);
  }
  if (!profile.acceptsHsiSignature || strcmp(text, KernelHsiTables().signature) != 0)
    return Answer(call, HYX_CHECKSUM_MISMATCH);
  WriteText(call.args[1], call.args[2], profile.build.c_str());
  Answer(call, HYX_OK);
}

// ---- module calls ------------------------------------------------------------
// Each runs under the server's lock.  All but the id look-up name a module
// that must exist (HYX_NOT_FOUND).

using ModuleHandler = void (*)(Call &call, HsiModule &module);

// The module id sits in x0, or in x1 for KERNEL_CALL_HSI_MODULE_NODE_DEF,
// which names the node first.
template <ModuleHandler serve, unsigned moduleArg = 0>
void ServeModuleCall(Call &call) {
  Server &server = TheServer();
  std::lock_guard<std::mutex> guard(server.lock);
  HsiModule *module = ModuleById(server, static_cast<int32_t>(call.args[moduleArg]));
  if (module == nullptr) return Answer(call, HYX_NOT_FOUND);
  serve(call, *module);
}

// x0 the module's name, x1 address of the i32 id.
void ModuleId(Call &call) {
  if (call.args[0] == 0 || call.args[1] == 0) return Answer(call, HYX_INVALID_ADDRESS);
  Server &server = TheServer();
  std::lock_guard<std::mutex> guard(server.lock);
  for (const HsiModule &module : Modules(server))
    if (module.name == reinterpret_cast<const char *>(call.args[0])) {
      WriteBlock<int32_t>(call.args[1], module.id);
      return Answer(call, HYX_OK);
    }
  Answer(call, HYX_NOT_FOUND);
}

// x1 address of the u32 count.
void ModuleNodeCount(Call &call, HsiModule &module) {
  if (call.args[1] == 0) return Answer(call, HYX_INVALID_ADDRESS);
  WriteBlock<uint32_t>(call.args[1], module.tables.nodeCount);
  Answer(call, HYX_OK);
}

// x1 address of the u32 node id of the module's top node.
void ModuleFirstNode(Call &call, HsiModule &module) {
  if (call.args[1] == 0) return Answer(call, HYX_INVALID_ADDRESS);
  WriteBlock<uint32_t>(call.args[1], module.nodes[0].firstChild);
  Answer(call, HYX_OK);
}

// x0 node, x2 the node record's reply, x3 and x4 the name buffer.
void ModuleNodeDef(Call &call, HsiModule &module) {
  uint32_t node = static_cast<uint32_t>(call.args[0]);
  if (!module.tables.Has(node)) return Answer(call, HYX_HSI_INVALID_NODE_ID);
  if (call.args[2] == 0) return Answer(call, HYX_INVALID_ADDRESS);
  memcpy(CallerBytes(call.args[2]), &module.tables.Node(node), HSI_NODE_REPLY_SIZE);
  WriteText(call.args[3], call.args[4], module.tables.Node(node).name);
  Answer(call, HYX_OK);
}

// The kernel type a module call names in x1, or null after answering.
const HsiTypeDef *TypeOf(Call &call) {
  const HsiTableSet &kernel = KernelHsiTables();
  uint32_t typeId = static_cast<uint32_t>(call.args[1]);
  if (typeId < kernel.typeCount) return &kernel.types[typeId];
  Answer(call, HYX_BAD_PARAM);
  return nullptr;
}

// x1 type, x2 the reply, x3 and x4 the name buffer, x5 the description's.
void ModuleType(Call &call, HsiModule &) {
  const HsiTypeDef *type = TypeOf(call);
  if (type == nullptr) return;
  if (call.args[2] == 0) return Answer(call, HYX_INVALID_ADDRESS);
  HsiModuleTypeReply reply{};
  reply.kind = type->kind;
  reply.size = type->size;
  reply.countOrElement = type->kind == HSI_TYPE_ARRAY    ? static_cast<uint32_t>(type->b.elementIndex)
                         : type->kind == HSI_TYPE_SCALAR ? 0
                                                         : static_cast<uint32_t>(type->a.count);
  reply.bitFlags = type->kind == HSI_TYPE_ENUM && type->bitFlags;
  WriteBlock(call.args[2], reply);
  WriteText(call.args[3], call.args[4], type->name);
  if (call.args[5] != 0) {
    const auto text = ReadBlock<HsiModuleTypeText>(call.args[5]);
    WriteText(text.address, text.size, type->format);
  }
  Answer(call, HYX_OK);
}

// x1 enum type, x2 index, x3 address of the u64 value, x4 the name buffer,
// x5 the texts block.
void ModuleEnumValue(Call &call, HsiModule &) {
  const HsiTypeDef *type = TypeOf(call);
  if (type == nullptr) return;
  if (type->kind != HSI_TYPE_ENUM) return Answer(call, HYX_BAD_PARAM_TYPE);
  if (call.args[2] >= type->a.count) return Answer(call, HYX_BAD_PARAM);
  const HsiEnumValueDef &value = type->b.values[call.args[2]];
  if (call.args[3] == 0) return Answer(call, HYX_INVALID_ADDRESS);
  WriteBlock<uint64_t>(call.args[3], value.value);
  if (call.args[5] != 0) {
    const auto text = ReadBlock<HsiModuleEnumText>(call.args[5]);
    WriteText(call.args[4], text.nameSize, value.name);
    WriteText(text.description, text.descriptionSize, value.description);
  }
  Answer(call, HYX_OK);
}

// x1 struct type, x2 index, x3 and x4 addresses of the u32 field type and
// offset, x5 the texts block.
void ModuleField(Call &call, HsiModule &) {
  const HsiTypeDef *type = TypeOf(call);
  if (type == nullptr) return;
  if (type->kind != HSI_TYPE_STRUCT) return Answer(call, HYX_BAD_PARAM_TYPE);
  if (call.args[2] >= type->a.count) return Answer(call, HYX_BAD_PARAM);
  const HsiFieldDef &field = type->b.fields[call.args[2]];
  if (call.args[3] == 0 || call.args[4] == 0) return Answer(call, HYX_INVALID_ADDRESS);
  WriteBlock<uint32_t>(call.args[3], field.typeIndex);
  WriteBlock<uint32_t>(call.args[4], field.offset);
  if (call.args[5] != 0) {
    const auto text = ReadBlock<HsiModuleFieldText>(call.args[5]);
    WriteText(text.name, text.nameSize, field.name);
    WriteText(text.description, text.descriptionSize, field.description);
  }
  Answer(call, HYX_OK);
}

}  // namespace

bool HsiNodePath(int32_t moduleId, uint32_t node, std::string &path) {
  path.clear();
  Server &server = TheServer();
  if (moduleId == 0) return HsiAppendNodePath(*KernelScope(server).tables, node, path);
  std::lock_guard<std::mutex> guard(server.lock);
  HsiModule *module = ModuleById(server, moduleId);
  if (module == nullptr) return false;
  path = module->name + ":";
  return HsiAppendNodePath(module->tables, node, path);
}

bool HsiHasInstance(const char *path, const std::string &name) {
  Server &server = TheServer();
  std::lock_guard<std::mutex> guard(server.lock);
  const HsiTableSet &tables = KernelHsiTables();
  uint32_t node = HsiNodeByPath(tables, path);
  if (!tables.Has(node)) return false;
  Scope scope{&tables, &server.store, true};
  HsiValue wanted;
  wanted.text = name;
  std::vector<HsiValue> instances;
  Instances(scope, node, {}, instances);
  for (const HsiValue &value : instances)
    if (value == wanted) return true;
  return false;
}

void RegisterHsiModels() {
  RegisterSection("hsi", LoadValues);
  RegisterSection("hsiModules", LoadModules);
  const Profile &profile = CurrentProfile();
  if (!profile.snapshot.empty()) {
    // A snapshot that cannot be served stops the host, as a faulty profile does.
    auto snapshot = std::make_unique<HsiSnapshot>();
    std::string error;
    if (!HsiReadSnapshot(profile.snapshot, KernelHsiTables(), *snapshot, error)) {
      fprintf(stderr, "hyxsim: %s: %s\n", profile.snapshotName.c_str(), error.c_str());
      _exit(kRefusedStatus);
    }
    TheServer().snapshot = std::move(snapshot);
  }
  if (!profile.hyxkernel) return;
  // A snapshot's variables are read-only, so nothing is shared.
  if (!TheServer().snapshot) TheServer().uefiNode = HsiNodeByPath(KernelHsiTables(), "uefi_variable");
  RegisterModel(KERNEL_CALL_HSI_GET, ServeNodeCall<Get>);
  RegisterModel(KERNEL_CALL_HSI_GET_SIZE, ServeNodeCall<GetSize>);
  RegisterModel(KERNEL_CALL_HSI_SET, ServeNodeCall<Set>);
  RegisterModel(KERNEL_CALL_HSI_LIST, ServeNodeCall<List, true>);
  RegisterModel(KERNEL_CALL_HSI_SIGNATURE, ExchangeSignature);
  RegisterModel(KERNEL_CALL_HSI_MODULE_ID, ModuleId);
  RegisterModel(KERNEL_CALL_HSI_MODULE_NODE_COUNT, ServeModuleCall<ModuleNodeCount>);
  RegisterModel(KERNEL_CALL_HSI_MODULE_FIRST_NODE, ServeModuleCall<ModuleFirstNode>);
  RegisterModel(KERNEL_CALL_HSI_MODULE_NODE_DEF, ServeModuleCall<ModuleNodeDef, 1>);
  RegisterModel(KERNEL_CALL_HSI_MODULE_TYPE, ServeModuleCall<ModuleType>);
  RegisterModel(KERNEL_CALL_HSI_MODULE_ENUM_VALUE, ServeModuleCall<ModuleEnumValue>);
  RegisterModel(KERNEL_CALL_HSI_MODULE_FIELD, ServeModuleCall<ModuleField>);
}

}  // namespace hyxsim
