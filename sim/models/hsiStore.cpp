#include "hsiStore.h"

#include <arpa/inet.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>

#include "../kit.h"
#include "../profile.h"
#include "simhsi_renumbered/hsiTablesSim.h"

namespace hyxsim {
namespace {

bool Fail(std::string &error, const std::string &why) {
  error = why;
  return false;
}

void Put(uint8_t *out, uint32_t size, uint64_t value) {
  for (uint32_t i = 0; i < size && i < 8; i++) out[i] = static_cast<uint8_t>(value >> (8 * i));
}

bool Enum(const HsiTypeDef *type, const nlohmann::json &value, uint64_t &out, std::string &error) {
  if (value.is_array()) {  // bit flags, or'd together
    out = 0;
    for (const auto &item : value) {
      uint64_t bit;
      if (!Enum(type, item, bit, error)) return false;
      out |= bit;
    }
    return true;
  }
  if (value.is_string()) {
    const std::string name = value.get<std::string>();
    for (uint64_t i = 0; i < type->a.count; i++)
      if (name == type->b.values[i].name) {
        out = type->b.values[i].value;
        return true;
      }
  }
  if (DecodeNumber(value, out, error)) return true;
  return Fail(error, value.dump() + " is no value of " + type->name);
}

// Whether a scalar of `type` holds `number` (as DecodeNumber gave it from
// `value`): signed for a "%d" or "%i" format, unsigned otherwise.
bool Fits(const HsiTypeDef *type, const nlohmann::json &value, uint64_t number, std::string &error) {
  const char *conversion = type->format ? strchr(type->format, '%') : nullptr;
  if (conversion != nullptr) conversion += strspn(conversion + 1, "-+ #0123456789.hlLqjzt") + 1;
  bool isSigned = conversion != nullptr && (*conversion == 'd' || *conversion == 'i');
  unsigned bits = type->size * 8;
  bool negative = IsNegative(value);
  bool fits;
  std::string range;
  if (isSigned) {
    int64_t low = bits >= 64 ? INT64_MIN : -(int64_t{1} << (bits - 1));
    int64_t high = bits >= 64 ? INT64_MAX : (int64_t{1} << (bits - 1)) - 1;
    int64_t signedNumber = static_cast<int64_t>(number);
    fits = negative ? signedNumber >= low : number <= static_cast<uint64_t>(high);
    range = std::to_string(low) + " to " + std::to_string(high);
  } else {
    uint64_t high = bits >= 64 ? UINT64_MAX : (uint64_t{1} << bits) - 1;
    fits = !negative && number <= high;
    range = "0 to " + std::to_string(high);
  }
  if (!fits) return Fail(error, value.dump() + " is out of range for " + type->name + " (" + range + ")");
  return true;
}

}  // namespace

bool HsiEncode(const HsiTypeDef *type, const nlohmann::json &value, uint8_t *out, std::string &error) {
  memset(out, 0, type->size);
  switch (type->kind) {
    case HSI_TYPE_SCALAR: {
      uint64_t number;
      if (type->size == 1 && value.is_string() && value.get<std::string>().size() == 1 &&
          (strcmp(type->format, "%c") == 0 || strcmp(type->format, "%s") == 0)) {
        out[0] = static_cast<uint8_t>(value.get<std::string>()[0]);
        return true;
      }
      // IPv4 addresses may be written as text; they are held in network order.
      if (type->size == 4 && value.is_string() &&
          inet_pton(AF_INET, value.get<std::string>().c_str(), out) == 1)
        return true;
      if (!DecodeNumber(value, number, error) || !Fits(type, value, number, error)) return false;
      Put(out, type->size, number);
      return true;
    }
    case HSI_TYPE_ENUM: {
      uint64_t number;
      if (!Enum(type, value, number, error)) return false;
      Put(out, type->size, number);
      return true;
    }
    case HSI_TYPE_ARRAY: {
      const HsiTypeDef *element = type->a.element;
      uint32_t count = element->size ? type->size / element->size : 0;
      if (value.is_string() && element->size == 1) {  // character arrays
        const std::string text = value.get<std::string>();
        if (text.size() > type->size) return Fail(error, "\"" + text + "\" is longer than " + type->name);
        memcpy(out, text.data(), text.size());
        return true;
      }
      if (!value.is_array()) return Fail(error, type->name + std::string(" takes a list"));
      if (value.size() > count)
        return Fail(error, "more than " + std::to_string(count) + " items for " + type->name);
      for (size_t i = 0; i < value.size(); i++)
        if (!HsiEncode(element, value[i], out + i * element->size, error)) return false;
      return true;
    }
    case HSI_TYPE_STRUCT: {
      if (!value.is_object()) return Fail(error, type->name + std::string(" takes an object of fields"));
      for (const auto &[name, item] : value.items()) {
        const HsiFieldDef *field = nullptr;
        for (uint64_t i = 0; i < type->a.count && field == nullptr; i++)
          if (name == type->b.fields[i].name) field = &type->b.fields[i];
        if (field == nullptr) return Fail(error, type->name + std::string(" has no field ") + name);
        if (field->offset + field->type->size > type->size) return Fail(error, "field " + name + " overruns");
        if (!HsiEncode(field->type, item, out + field->offset, error))
          return Fail(error, name + ": " + error);
      }
      return true;
    }
  }
  return Fail(error, "unknown type kind");
}

const HsiTableSet &KernelHsiTables() {
  static const HsiTableSet renumbered{simhsi_renumbered::hsiTables.nodes,
                                      simhsi_renumbered::hsiTables.nodeCount,
                                      simhsi_renumbered::HSI_SIGNATURE, simhsi_renumbered::hsiTables.types,
                                      simhsi_renumbered::hsiTables.typeCount};
  bool renumber = CurrentProfile().hsiRenumbered;
  return renumber ? renumbered : OwnHsiTables();
}

std::vector<uint32_t> HsiInstancePath(const HsiTableSet &tables, uint32_t node) {
  std::vector<uint32_t> path;
  for (uint32_t at = node; at != tables.base && tables.Has(at); at = tables.Node(at).parent)
    if (tables.Node(at).instance) path.insert(path.begin(), at);
  return path;
}

namespace {

bool Entry(const HsiTableSet &tables, uint32_t id, const nlohmann::json &item, HsiEntry &entry,
           std::string &error) {
  const HsiNodeDef &node = tables.Node(id);
  if (!item.is_object()) return Fail(error, "an entry is an object");
  for (const auto &field : item.items())
    if (field.key() != "instances" && field.key() != "value" && field.key() != "bytes")
      return Fail(error, field.key() + ": unknown field");
  std::vector<uint32_t> path = HsiInstancePath(tables, id);
  nlohmann::json instances = item.value("instances", nlohmann::json::array());
  if (!instances.is_array()) return Fail(error, "instances: takes a list");
  if (instances.size() != path.size())
    return Fail(error, "instances: takes " + std::to_string(path.size()) + " instance values, not " +
                           std::to_string(instances.size()));
  for (size_t i = 0; i < path.size(); i++) {
    HsiValue value;
    if (tables.Node(path[i]).integerKey) {
      value.isInt = true;
      if (!DecodeNumber(instances[i], value.number, error)) return Fail(error, "instances: " + error);
    } else {
      if (!instances[i].is_string())
        return Fail(error, "instances: " + instances[i].dump() + " is not a string");
      value.text = instances[i].get<std::string>();
    }
    entry.instances.push_back(std::move(value));
  }
  if (item.contains("bytes")) {
    entry.hasValue = true;
    if (!DecodeBytes(item["bytes"], entry.bytes, error)) return Fail(error, "bytes: " + error);
    if (!node.variableLength && node.getSize) entry.bytes.resize(node.getSize);
  } else if (item.contains("value")) {
    entry.hasValue = true;
    if (node.getTypeDef == nullptr) return Fail(error, "value: the node has no get type; give \"bytes\"");
    entry.bytes.resize(node.getTypeDef->size);
    if (!HsiEncode(node.getTypeDef, item["value"], entry.bytes.data(), error))
      return Fail(error, "value: " + error);
    if (!node.variableLength && node.getSize) entry.bytes.resize(node.getSize);
  }
  return true;
}

}  // namespace

bool HsiLoadStore(const HsiTableSet &tables, const nlohmann::json &section, HsiStore &store,
                  std::string &error) {
  if (!section.is_object()) return Fail(error, "\"hsi\" is an object of node paths");
  for (const auto &[path, entries] : section.items()) {
    uint32_t id = HsiNodeByPath(tables, path);
    if (id == HSI_NO_NODE) return Fail(error, "hsi: no node " + path);
    nlohmann::json list = entries.is_array() ? entries : nlohmann::json::array({entries});
    for (size_t i = 0; i < list.size(); ++i) {
      HsiEntry entry;
      if (!Entry(tables, id, list[i], entry, error))
        return Fail(error,
                    "hsi." + path + (entries.is_array() ? "[" + std::to_string(i) + "]" : "") + ": " + error);
      store[id].push_back(std::move(entry));
    }
  }
  return true;
}

namespace {

uint32_t TypeByName(const HsiTableSet &kernel, const std::string &name) {
  for (uint32_t i = 0; i < kernel.typeCount; i++)
    if (name == kernel.types[i].name) return i;
  return HSI_NO_TYPE;
}

// A stable signature for a module node, from the module and node names.
uint64_t ModuleSignature(const std::string &module, const std::string &path) {
  uint64_t hash = 0xcbf29ce484222325ull;
  for (char c : module + "/" + path) hash = (hash ^ static_cast<uint8_t>(c)) * 0x100000001b3ull;
  return hash;
}

}  // namespace

bool HsiLoadModule(const HsiTableSet &kernel, const nlohmann::json &item, const std::string &where,
                   HsiModule &module, std::string &error) {
  ProfileObject described(&item, where);
  module.name = described.Text("name", "");
  if (described.ok() && module.name.empty()) described.Fail("name", "a module needs a name");
  module.id = static_cast<int32_t>(described.Number("id", 1, INT32_MAX));
  if (described.ok() && module.id <= 0) described.Fail("id", "ids are positive");
  const nlohmann::json *nodes = described.Raw("nodes");
  if (nodes != nullptr && !nodes->is_array()) described.Fail("nodes", "takes a list");
  const nlohmann::json *values = described.Raw("hsi");
  if (!described.Done()) return Fail(error, described.Fault());
  std::vector<std::string> paths{""};
  HsiNodeDef root{};
  root.id = HSI_MODULE_NODE_BASE;
  root.parent = root.nextSibling = root.firstChild = HSI_NO_NODE;
  root.getType = root.setInputType = root.setOutputType = HSI_NO_TYPE;
  root.statsIndex = HSI_NO_STATS_INDEX;
  module.nodes.push_back(root);
  module.names.push_back("root");
  for (size_t i = 0; nodes != nullptr && i < nodes->size(); ++i) {
    ProfileObject field(&(*nodes)[i], where + ".nodes[" + std::to_string(i) + "]");
    HsiNodeDef node = root;
    node.id = HSI_MODULE_NODE_BASE + static_cast<uint32_t>(module.nodes.size());
    std::string name = field.Text("name", "");
    if (field.ok() && name.empty()) field.Fail("name", "a node needs a name");
    std::string parent = field.Text("parent", "");
    auto at = std::find(paths.begin(), paths.end(), parent);
    if (field.ok() && at == paths.end()) field.Fail("parent", "no node " + parent + " before this one");
    node.parent = HSI_MODULE_NODE_BASE + static_cast<uint32_t>(at - paths.begin());
    node.instance = field.Flag("instance", false);
    node.integerKey = field.Flag("integerKey", false);
    node.variableLength = field.Flag("variableLength", false);
    for (const char *key : {"get", "set"}) {
      if (!field.Has(key)) continue;
      std::string typeName = field.Text(key, "");
      uint32_t type = TypeByName(kernel, typeName);
      if (field.ok() && type == HSI_NO_TYPE) field.Fail(key, "no type " + typeName);
      if (!field.ok()) break;
      if (key[0] == 'g') {
        node.getType = type;
        node.getSize = kernel.types[type].size;
        node.getTypeDef = &kernel.types[type];
      } else {
        node.setInputType = type;
        node.setInputSize = kernel.types[type].size;
        node.typedSetInput = 1;
        node.setInputTypeDef = &kernel.types[type];
      }
    }
    if (!field.Done()) return Fail(error, field.Fault());
    node.leaf = node.getType != HSI_NO_TYPE || node.setInputType != HSI_NO_TYPE || node.variableLength;
    std::string path = parent.empty() ? name : parent + "_" + name;
    node.signature = ModuleSignature(module.name, path);
    // Children are chained from the highest id down.
    HsiNodeDef &up = module.nodes[node.parent - HSI_MODULE_NODE_BASE];
    node.nextSibling = up.firstChild;
    up.firstChild = node.id;
    paths.push_back(path);
    module.names.push_back(name);
    module.nodes.push_back(node);
  }
  for (size_t i = 0; i < module.nodes.size(); i++) module.nodes[i].name = module.names[i].c_str();
  module.tables = HsiTableSet{module.nodes.data(),
                              static_cast<uint32_t>(module.nodes.size()),
                              nullptr,
                              kernel.types,
                              kernel.typeCount,
                              HSI_MODULE_NODE_BASE};
  if (values != nullptr && !HsiLoadStore(module.tables, *values, module.store, error))
    return Fail(error, where + "." + error);
  return true;
}

}  // namespace hyxsim
