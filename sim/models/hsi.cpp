// The system-information server: gets, size queries, sets and instance
// lists (2218 to 2221) on the host's node values, the signature exchange
// (2222) and the module calls (2223 to 2229) on the profile's modules.
// Every block and list is read and written in the caller's memory.
#include <cerrno>
#include <cstdio>
#include <algorithm>
#include <cstring>
#include <deque>
#include <mutex>

#include "../kernel.h"
#include "../models.h"
#include "../profile.h"
#include "hsiStore.h"
#include "hyxsysinfo/hsiParams.h"
#include "hyxuser/hyxuser.h"

namespace hyxsim {
namespace {

constexpr uint32_t kHashNode = 1;  // sysInfoNodeHashes
constexpr uint32_t kHashCapacity = 3000;
constexpr uint32_t kHashReplySize = 24004;

int ErrnoOf(uint32_t status) {
  switch (status) {
#define HYX_STATUS(n, name, err, msg) \
  case (n) ? 0x0bad0000u + (n) : 0u:  \
    return err;
#include "hyxuser/hyxuser_status.def"
#undef HYX_STATUS
  }
  return 0;
}

void Answer(Call &call, uint32_t status) {
  call.status = status;
  call.error = status ? static_cast<uint64_t>(-static_cast<int64_t>(ErrnoOf(status))) : 0;
}

struct Server {
  std::mutex lock;
  bool loaded = false;
  HsiStore store;
  std::deque<HsiModule> modules;  // in place: their tables point into them
};

Server &TheServer() {
  static Server *server = new Server;  // never destroyed: calls may come during exit
  return *server;
}

[[noreturn]] void ProfileFault(const std::string &error) {
  fprintf(stderr, "hyxsim: %s: %s\n", CurrentProfile().path.c_str(), error.c_str());
  _exit(127);
}

// Loads the profile's values and modules once; a profile the tables do
// not match ends the process, as an unreadable profile does.
void Load(Server &server) {
  if (server.loaded) return;
  server.loaded = true;
  const nlohmann::json &doc = CurrentProfile().document;
  auto section = doc.find("hsi");
  std::string error;
  if (section != doc.end() && !HsiLoadStore(KernelHsiTables(), *section, server.store, error)) ProfileFault(error);
  auto modules = doc.find("hsiModules");
  if (modules == doc.end()) return;
  if (!modules->is_array()) ProfileFault("\"hsiModules\" takes a list");
  for (const auto &item : *modules) {
    HsiModule &module = server.modules.emplace_back();
    if (!HsiLoadModule(KernelHsiTables(), item, module, error)) ProfileFault(error);
  }
}

HsiModule *ModuleById(Server &server, int32_t id) {
  for (HsiModule &module : server.modules)
    if (module.id == id) return &module;
  return nullptr;
}

// The node table and values a call works on: the kernel's, or a module's.
struct Scope {
  const HsiTableSet *tables = nullptr;
  HsiStore *store = nullptr;
  bool kernel = true;
};

template <typename T>
T Read(uint64_t address, size_t offset = 0) {
  T value;
  memcpy(&value, reinterpret_cast<const uint8_t *>(address) + offset, sizeof value);
  return value;
}

// The instance values of the caller's list (x3, x4), checked against the
// node's instance path (less the node itself for a list call).
uint32_t ReadParams(const HsiTableSet &tables, uint64_t address, uint64_t size, const std::vector<uint32_t> &path,
                    std::vector<HsiValue> &values) {
  uint32_t count = 0;
  const HsiParam *slots = nullptr;
  if (address != 0) {
    if (size < sizeof(HsiParamListRecord)) return HYX_BAD_PARAM;
    auto *record = reinterpret_cast<const HsiParamListRecord *>(address);
    if (record->count > record->capacity || record->headerSize != 64 + 32ull * record->capacity ||
        record->headerSize > size)
      return HYX_BAD_PARAM;
    count = record->count;
    slots = reinterpret_cast<const HsiParam *>(address + sizeof(HsiParamListRecord));
  }
  bool recursive = false;
  for (uint32_t id : path) recursive |= tables.Node(id).recursive != 0;
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

// Node, signature and parameter checks shared by 2218 to 2221.  Callers
// send module nodes with signature 0; a non-zero one is checked.
uint32_t Prepare(Server &server, Call &call, bool list, Scope &scope, uint32_t &node, std::vector<HsiValue> &values) {
  Load(server);
  int32_t moduleId = static_cast<int32_t>(call.args[1]);
  node = static_cast<uint32_t>(call.args[0]);
  if (moduleId == 0) {
    scope = Scope{&KernelHsiTables(), &server.store, true};
  } else {
    HsiModule *module = ModuleById(server, moduleId);
    if (module == nullptr) return HYX_HSI_INVALID_NODE_ID;
    scope = Scope{&module->tables, &module->store, false};
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

// Node 1: the kernel's node signatures by its own node ids.
std::vector<uint8_t> NodeHashes() {
  const HsiTableSet &tables = KernelHsiTables();
  std::vector<uint8_t> reply(kHashReplySize, 0);
  uint32_t count = tables.nodeCount < kHashCapacity ? tables.nodeCount : kHashCapacity;
  for (uint32_t i = 0; i < count; i++) memcpy(&reply[8 * i], &tables.nodes[i].signature, 8);
  memcpy(&reply[24000], &count, 4);
  return reply;
}

const HsiEntry *Find(HsiStore &store, uint32_t node, const std::vector<HsiValue> &values) {
  auto at = store.find(node);
  if (at == store.end()) return nullptr;
  for (const HsiEntry &entry : at->second)
    if (entry.hasValue && entry.instances == values) return &entry;
  return nullptr;
}

// The value of a get, or HYX_NOT_FOUND.
uint32_t Value(const Scope &scope, uint32_t node, const std::vector<HsiValue> &values, std::vector<uint8_t> &bytes) {
  if (scope.kernel && node == kHashNode) {
    bytes = NodeHashes();
    return HYX_OK;
  }
  const HsiEntry *entry = Find(*scope.store, node, values);
  if (entry == nullptr) return HYX_NOT_FOUND;
  bytes = entry->bytes;
  return HYX_OK;
}

using NodeHandler = void (*)(Call &call, const Scope &scope, uint32_t node, const std::vector<HsiValue> &values);

// Calls 2218 to 2221: under the server's lock, check the node, its
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
  serve(call, scope, node, values);
}

void Get(Call &call, const Scope &scope, uint32_t node, const std::vector<HsiValue> &values) {
  uint32_t kind = Read<uint32_t>(call.args[5]);
  uint64_t address = Read<uint64_t>(call.args[5], 4);
  uint32_t length = Read<uint32_t>(call.args[5], 12);
  if (kind != 0 && kind != 3) return Answer(call, HYX_BAD_PARAM);
  std::vector<uint8_t> bytes;
  uint32_t status = Value(scope, node, values, bytes);
  if (status != HYX_OK) return Answer(call, status);
  if (kind == 3) {  // {capacity, length, data}: the whole buffer is length bytes
    if (address == 0 || length < 8) return Answer(call, HYX_HSI_DATA_LENGTH_MISMATCH);
    uint32_t capacity = Read<uint32_t>(address);
    if (capacity > length - 8 || bytes.size() > capacity) return Answer(call, HYX_HSI_DATA_LENGTH_MISMATCH);
    uint32_t size = static_cast<uint32_t>(bytes.size());
    memcpy(reinterpret_cast<uint8_t *>(address) + 4, &size, 4);
    if (size) memcpy(reinterpret_cast<uint8_t *>(address) + 8, bytes.data(), size);
    return Answer(call, HYX_OK);
  }
  if (bytes.size() > length) return Answer(call, HYX_HSI_DATA_LENGTH_MISMATCH);
  if (!bytes.empty()) {
    if (address == 0) return Answer(call, HYX_INVALID_ADDRESS);
    memcpy(reinterpret_cast<void *>(address), bytes.data(), bytes.size());
  }
  Answer(call, HYX_OK);
}

void GetSize(Call &call, const Scope &scope, uint32_t node, const std::vector<HsiValue> &values) {
  std::vector<uint8_t> bytes;
  uint32_t status = Value(scope, node, values, bytes);
  if (status != HYX_OK) return Answer(call, status);
  uint32_t size = static_cast<uint32_t>(bytes.size());
  memcpy(reinterpret_cast<void *>(call.args[5]), &size, 4);
  Answer(call, HYX_OK);
}

// Sets store their input as the node's value for later gets: kind 2 the
// buffer, kind 4 the sized buffer's data, kind 1 the values of the input
// list (integers as 8 bytes, strings with their NUL).  A fixed-size node's
// value is cut or zero-padded to its get size.  Outputs are zeroed.
void Set(Call &call, const Scope &scope, uint32_t node, const std::vector<HsiValue> &values) {
  if (scope.kernel && node == kHashNode) return Answer(call, HYX_NOT_SUPPORTED);
  uint32_t kind = Read<uint32_t>(call.args[5]);
  uint64_t in = Read<uint64_t>(call.args[5], 4);
  uint32_t inLength = Read<uint32_t>(call.args[5], 12);
  uint64_t out = Read<uint64_t>(call.args[5], 16);
  uint32_t outLength = Read<uint32_t>(call.args[5], 24);
  std::vector<uint8_t> bytes;
  if (kind == 2) {
    if (in == 0 && inLength != 0) return Answer(call, HYX_INVALID_ADDRESS);
    if (inLength) bytes.assign(reinterpret_cast<const uint8_t *>(in), reinterpret_cast<const uint8_t *>(in) + inLength);
  } else if (kind == 4) {
    if (in == 0 || inLength < 8) return Answer(call, HYX_BAD_PARAM);
    uint32_t capacity = Read<uint32_t>(in), used = Read<uint32_t>(in, 4);
    if (capacity > inLength - 8 || used > capacity) return Answer(call, HYX_BAD_PARAM);
    bytes.assign(reinterpret_cast<const uint8_t *>(in) + 8, reinterpret_cast<const uint8_t *>(in) + 8 + used);
  } else if (kind == 1) {
    if (in == 0 || inLength < sizeof(HsiParamListRecord)) return Answer(call, HYX_BAD_PARAM);
    auto *record = reinterpret_cast<const HsiParamListRecord *>(in);
    if (record->count > record->capacity || record->headerSize != 64 + 32ull * record->capacity ||
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
  if (out != 0 && outLength != 0) {
    if (kind == 4 && outLength >= 8)
      memset(reinterpret_cast<uint8_t *>(out) + 4, 0, 4);  // a sized output holding nothing
    else
      memset(reinterpret_cast<void *>(out), 0, outLength);
  }
  HsiStore &store = *scope.store;
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
// an entry at or below node holds in node's place, first seen first.
std::vector<HsiValue> Instances(const Scope &scope, uint32_t node, const std::vector<HsiValue> &outer) {
  const HsiTableSet &tables = *scope.tables;
  const HsiStore &store = *scope.store;
  std::vector<HsiValue> found;
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
  return found;
}

// Fills the caller's instance list in place: count is what fits the slots,
// total count what the host has; strings go one after the other into the
// data area, based on the record's own base field.
void List(Call &call, const Scope &scope, uint32_t node, const std::vector<HsiValue> &values) {
  uint64_t address = Read<uint64_t>(call.args[5]);
  uint32_t size = Read<uint32_t>(call.args[5], 8);
  if (address == 0 || size < sizeof(HsiParamListRecord)) return Answer(call, HYX_BAD_PARAM);
  auto *record = reinterpret_cast<HsiParamListRecord *>(address);
  if (record->listType != HSI_PARAMLIST_INSTANCE || record->headerSize != 64 + 32ull * record->capacity ||
      uint64_t{record->headerSize} + record->dataCapacity > size)
    return Answer(call, HYX_BAD_PARAM);
  std::vector<HsiValue> instances = Instances(scope, node, values);
  uint32_t fill = instances.size() < record->capacity ? static_cast<uint32_t>(instances.size()) : record->capacity;
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
// says so and the text is its own.
void ExchangeSignature(Call &call) {
  const char *text = reinterpret_cast<const char *>(call.args[0]);
  if (text == nullptr) return Answer(call, HYX_INVALID_ADDRESS);
  const nlohmann::json &doc = CurrentProfile().document;
  nlohmann::json kernel = doc.value("kernel", nlohmann::json::object());
  if (!kernel.is_object()) kernel = nlohmann::json::object();
  bool accepts = kernel.value("acceptsHsiSignature", true);
  if (!accepts || strcmp(text, KernelHsiTables().signature) != 0) return Answer(call, HYX_CHECKSUM_MISMATCH);
  std::string build = kernel.value("build", std::string("Hyxkernel build 24585383"));
  if (call.args[1] != 0 && call.args[2] != 0)
    snprintf(reinterpret_cast<char *>(call.args[1]), call.args[2], "%s", build.c_str());
  Answer(call, HYX_OK);
}

void Text(uint64_t buffer, uint64_t size, const char *text) {
  if (buffer != 0 && size != 0) snprintf(reinterpret_cast<char *>(buffer), size, "%s", text ? text : "");
}

template <typename T>
void Write(uint64_t address, T value) {
  memcpy(reinterpret_cast<void *>(address), &value, sizeof value);
}

// Module look-ups: ids by name, node counts, the top node, node records,
// and the kernel's type table for the types module nodes use.
void ModuleCall(Call &call) {
  Server &server = TheServer();
  std::lock_guard<std::mutex> guard(server.lock);
  Load(server);
  if (call.number == 2224) {
    if (call.args[0] == 0 || call.args[1] == 0) return Answer(call, HYX_INVALID_ADDRESS);
    for (const HsiModule &module : server.modules)
      if (module.name == reinterpret_cast<const char *>(call.args[0])) {
        Write<int32_t>(call.args[1], module.id);
        return Answer(call, HYX_OK);
      }
    return Answer(call, HYX_NOT_FOUND);
  }
  // 2226 names the node first, then the module.
  int32_t moduleId = static_cast<int32_t>(call.number == 2226 ? call.args[1] : call.args[0]);
  HsiModule *module = ModuleById(server, moduleId);
  if (module == nullptr) return Answer(call, HYX_NOT_FOUND);
  const HsiTableSet &kernel = KernelHsiTables();
  switch (call.number) {
    case 2223:
      if (call.args[1] == 0) return Answer(call, HYX_INVALID_ADDRESS);
      Write<uint32_t>(call.args[1], module->tables.nodeCount);
      return Answer(call, HYX_OK);
    case 2225:
      if (call.args[1] == 0) return Answer(call, HYX_INVALID_ADDRESS);
      Write<uint32_t>(call.args[1], module->nodes[0].firstChild);
      return Answer(call, HYX_OK);
    case 2226: {
      uint32_t node = static_cast<uint32_t>(call.args[0]);
      if (!module->tables.Has(node)) return Answer(call, HYX_HSI_INVALID_NODE_ID);
      if (call.args[2] == 0) return Answer(call, HYX_INVALID_ADDRESS);
      memcpy(reinterpret_cast<void *>(call.args[2]), &module->tables.Node(node), HSI_NODE_REPLY_SIZE);
      Text(call.args[3], call.args[4], module->tables.Node(node).name);
      return Answer(call, HYX_OK);
    }
  }
  uint32_t typeId = static_cast<uint32_t>(call.args[1]);
  if (typeId >= kernel.typeCount) return Answer(call, HYX_BAD_PARAM);
  const HsiTypeDef &type = kernel.types[typeId];
  if (call.number == 2227) {
    if (call.args[2] == 0) return Answer(call, HYX_INVALID_ADDRESS);
    uint8_t reply[16] = {};
    uint32_t third = type.kind == HSI_TYPE_ARRAY    ? static_cast<uint32_t>(type.b.elementIndex)
                     : type.kind == HSI_TYPE_SCALAR ? 0
                                                    : static_cast<uint32_t>(type.a.count);
    memcpy(reply, &type.kind, 4);
    memcpy(reply + 4, &type.size, 4);
    memcpy(reply + 8, &third, 4);
    reply[12] = type.kind == HSI_TYPE_ENUM && type.bitFlags;
    memcpy(reinterpret_cast<void *>(call.args[2]), reply, sizeof reply);
    Text(call.args[3], call.args[4], type.name);
    if (call.args[5] != 0) Text(Read<uint64_t>(call.args[5]), Read<uint32_t>(call.args[5], 8), type.format);
    return Answer(call, HYX_OK);
  }
  uint64_t index = call.args[2];
  if (call.number == 2228) {
    if (type.kind != HSI_TYPE_ENUM) return Answer(call, HYX_BAD_PARAM_TYPE);
    if (index >= type.a.count) return Answer(call, HYX_BAD_PARAM);
    const HsiEnumValueDef &value = type.b.values[index];
    if (call.args[3] == 0) return Answer(call, HYX_INVALID_ADDRESS);
    Write<uint64_t>(call.args[3], value.value);
    if (call.args[5] != 0) {
      Text(call.args[4], Read<uint32_t>(call.args[5]), value.name);
      Text(Read<uint64_t>(call.args[5], 4), Read<uint32_t>(call.args[5], 12), value.description);
    }
    return Answer(call, HYX_OK);
  }
  // 2229: a struct field.
  if (type.kind != HSI_TYPE_STRUCT) return Answer(call, HYX_BAD_PARAM_TYPE);
  if (index >= type.a.count) return Answer(call, HYX_BAD_PARAM);
  const HsiFieldDef &field = type.b.fields[index];
  if (call.args[3] == 0 || call.args[4] == 0) return Answer(call, HYX_INVALID_ADDRESS);
  Write<uint32_t>(call.args[3], field.typeIndex);
  Write<uint32_t>(call.args[4], field.offset);
  if (call.args[5] != 0) {
    Text(Read<uint64_t>(call.args[5]), Read<uint32_t>(call.args[5], 8), field.name);
    Text(Read<uint64_t>(call.args[5], 12), Read<uint32_t>(call.args[5], 20), field.description);
  }
  Answer(call, HYX_OK);
}

}  // namespace

void RegisterHsiModels() {
  if (!CurrentProfile().hyxkernel) return;
  Load(TheServer());  // profile faults show when the process starts
  RegisterModel(2218, ServeNodeCall<Get>);
  RegisterModel(2219, ServeNodeCall<GetSize>);
  RegisterModel(2220, ServeNodeCall<Set>);
  RegisterModel(2221, ServeNodeCall<List, true>);
  RegisterModel(2222, ExchangeSignature);
  for (uint64_t number = 2223; number <= 2229; number++) RegisterModel(number, ModuleCall);
}

}  // namespace hyxsim
