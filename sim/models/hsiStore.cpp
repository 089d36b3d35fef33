#include "hsiStore.h"

#include <arpa/inet.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>

#include "../profile.h"
#include "simhsi_renumbered/hsiTablesSim.h"
#include "simhsi/hsiTablesSim.h"

namespace hyxsim {
namespace {

bool Fail(std::string &error, const std::string &why) {
  error = why;
  return false;
}

void Put(uint8_t *out, uint32_t size, uint64_t value) {
  for (uint32_t i = 0; i < size && i < 8; i++) out[i] = static_cast<uint8_t>(value >> (8 * i));
}

bool Number(const nlohmann::json &value, uint64_t &out, std::string &error) {
  if (value.is_boolean()) {
    out = value.get<bool>();
  } else if (value.is_number_unsigned()) {
    out = value.get<uint64_t>();
  } else if (value.is_number_integer()) {
    out = static_cast<uint64_t>(value.get<int64_t>());
  } else if (value.is_number_float()) {
    out = static_cast<uint64_t>(static_cast<int64_t>(value.get<double>()));
  } else if (value.is_string()) {
    const std::string text = value.get<std::string>();
    char *end = nullptr;
    out = text[0] == '-' ? static_cast<uint64_t>(strtoll(text.c_str(), &end, 0)) : strtoull(text.c_str(), &end, 0);
    if (text.empty() || *end != '\0') return Fail(error, "\"" + text + "\" is not a number");
  } else {
    return Fail(error, value.dump() + " is not a number");
  }
  return true;
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
  if (Number(value, out, error)) return true;
  return Fail(error, value.dump() + " is no value of " + type->name);
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
      if (type->size == 4 && value.is_string() && inet_pton(AF_INET, value.get<std::string>().c_str(), out) == 1)
        return true;
      if (!Number(value, number, error)) return false;
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
      if (value.size() > count) return Fail(error, "more than " + std::to_string(count) + " items for " + type->name);
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
        if (!HsiEncode(field->type, item, out + field->offset, error)) return Fail(error, name + ": " + error);
      }
      return true;
    }
  }
  return Fail(error, "unknown type kind");
}

const HsiTableSet &KernelHsiTables() {
  static const HsiTableSet own{simhsi::hsiTables.nodes, simhsi::hsiTables.nodeCount, simhsi::HSI_SIGNATURE,
                               simhsi::hsiTables.types, simhsi::hsiTables.typeCount};
  static const HsiTableSet renumbered{simhsi_renumbered::hsiTables.nodes, simhsi_renumbered::hsiTables.nodeCount,
                                      simhsi_renumbered::HSI_SIGNATURE, simhsi_renumbered::hsiTables.types,
                                      simhsi_renumbered::hsiTables.typeCount};
  const nlohmann::json &doc = CurrentProfile().document;
  auto kernel = doc.find("kernel");
  bool renumber = kernel != doc.end() && kernel->is_object() && kernel->value("hsiNumbering", "") == "renumbered";
  return renumber ? renumbered : own;
}

uint32_t HsiNodeByPath(const HsiTableSet &tables, const std::string &path) {
  for (uint32_t id = tables.base + 1; tables.Has(id); id++) {
    // Match the path from its end, one name per ancestor.
    size_t end = path.size();
    uint32_t at = id;
    bool match = true;
    while (match) {
      const HsiNodeDef &node = tables.Node(at);
      size_t length = strlen(node.name);
      if (length > end || path.compare(end - length, length, node.name) != 0) {
        match = false;
        break;
      }
      end -= length;
      if (node.parent == tables.base || !tables.Has(node.parent)) break;
      if (end == 0 || path[end - 1] != '_') match = false;
      end--;
      at = node.parent;
    }
    if (match && end == 0) return id;
  }
  return HSI_NO_NODE;
}

std::vector<uint32_t> HsiInstancePath(const HsiTableSet &tables, uint32_t node) {
  std::vector<uint32_t> path;
  for (uint32_t at = node; at != tables.base && tables.Has(at); at = tables.Node(at).parent)
    if (tables.Node(at).instance) path.insert(path.begin(), at);
  return path;
}

namespace {

bool Bytes(const nlohmann::json &value, std::vector<uint8_t> &bytes, std::string &error) {
  if (value.is_array()) {
    for (const auto &item : value) {
      uint64_t number;
      if (!Number(item, number, error)) return false;
      bytes.push_back(static_cast<uint8_t>(number));
    }
    return true;
  }
  if (!value.is_string()) return Fail(error, "\"bytes\" takes text, \"hex:...\" or a list of numbers");
  std::string text = value.get<std::string>();
  if (text.rfind("hex:", 0) != 0) {
    bytes.assign(text.begin(), text.end());
    return true;
  }
  std::string digits;
  for (char c : text.substr(4))
    if (!isspace(static_cast<unsigned char>(c))) digits += c;
  if (digits.size() % 2 != 0) return Fail(error, "odd number of hex digits");
  for (size_t i = 0; i < digits.size(); i += 2) {
    char pair[3] = {digits[i], digits[i + 1], 0};
    char *end;
    unsigned long byte = strtoul(pair, &end, 16);
    if (*end != '\0') return Fail(error, "bad hex digits \"" + std::string(pair) + "\"");
    bytes.push_back(static_cast<uint8_t>(byte));
  }
  return true;
}

bool Entry(const HsiTableSet &tables, uint32_t id, const nlohmann::json &item, HsiEntry &entry, std::string &error) {
  const HsiNodeDef &node = tables.Node(id);
  if (!item.is_object()) return Fail(error, "an entry is an object");
  std::vector<uint32_t> path = HsiInstancePath(tables, id);
  nlohmann::json instances = item.value("instances", nlohmann::json::array());
  if (!instances.is_array()) return Fail(error, "\"instances\" takes a list");
  if (instances.size() != path.size())
    return Fail(error, "takes " + std::to_string(path.size()) + " instance values, not " +
                           std::to_string(instances.size()));
  for (size_t i = 0; i < path.size(); i++) {
    HsiValue value;
    if (tables.Node(path[i]).integerKey) {
      value.isInt = true;
      if (!Number(instances[i], value.number, error)) return false;
    } else {
      if (!instances[i].is_string()) return Fail(error, "instance value " + instances[i].dump() + " is not a string");
      value.text = instances[i].get<std::string>();
    }
    entry.instances.push_back(std::move(value));
  }
  if (item.contains("bytes")) {
    entry.hasValue = true;
    if (!Bytes(item["bytes"], entry.bytes, error)) return false;
    if (!node.variableLength && node.getSize) entry.bytes.resize(node.getSize);
  } else if (item.contains("value")) {
    entry.hasValue = true;
    if (node.getTypeDef == nullptr) return Fail(error, "the node has no get type; give \"bytes\"");
    entry.bytes.resize(node.getTypeDef->size);
    if (!HsiEncode(node.getTypeDef, item["value"], entry.bytes.data(), error)) return false;
    if (!node.variableLength && node.getSize) entry.bytes.resize(node.getSize);
  }
  return true;
}

}  // namespace

bool HsiLoadStore(const HsiTableSet &tables, const nlohmann::json &section, HsiStore &store, std::string &error) {
  if (!section.is_object()) return Fail(error, "\"hsi\" is an object of node paths");
  for (const auto &[path, entries] : section.items()) {
    uint32_t id = HsiNodeByPath(tables, path);
    if (id == HSI_NO_NODE) return Fail(error, "hsi: no node " + path);
    nlohmann::json list = entries.is_array() ? entries : nlohmann::json::array({entries});
    for (const auto &item : list) {
      HsiEntry entry;
      if (!Entry(tables, id, item, entry, error)) return Fail(error, "hsi." + path + ": " + error);
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

bool HsiLoadModule(const HsiTableSet &kernel, const nlohmann::json &item, HsiModule &module, std::string &error) {
  if (!item.is_object() || !item.contains("name") || !item["name"].is_string())
    return Fail(error, "a module is an object with a \"name\"");
  module.name = item["name"].get<std::string>();
  module.id = item.value("id", 1);
  if (module.id <= 0) return Fail(error, "module " + module.name + ": ids are positive");
  const std::string where = "module " + module.name + ": ";
  nlohmann::json nodes = item.value("nodes", nlohmann::json::array());
  if (!nodes.is_array()) return Fail(error, where + "\"nodes\" takes a list");
  std::vector<std::string> paths{""};
  HsiNodeDef root{};
  root.id = HSI_MODULE_NODE_BASE;
  root.parent = root.nextSibling = root.firstChild = HSI_NO_NODE;
  root.getType = root.setInputType = root.setOutputType = HSI_NO_TYPE;
  root.statsIndex = HSI_NO_STATS_INDEX;
  module.nodes.push_back(root);
  module.names.push_back("root");
  for (const auto &described : nodes) {
    if (!described.is_object() || !described.contains("name")) return Fail(error, where + "a node is an object with a \"name\"");
    HsiNodeDef node = root;
    uint32_t index = static_cast<uint32_t>(module.nodes.size());
    node.id = HSI_MODULE_NODE_BASE + index;
    std::string parent = described.value("parent", "");
    auto at = std::find(paths.begin(), paths.end(), parent);
    if (at == paths.end()) return Fail(error, where + "no parent node " + parent + " before " + described["name"].dump());
    node.parent = HSI_MODULE_NODE_BASE + static_cast<uint32_t>(at - paths.begin());
    node.instance = described.value("instance", false);
    node.integerKey = described.value("integerKey", false);
    node.variableLength = described.value("variableLength", false);
    for (const char *key : {"get", "set"}) {
      if (!described.contains(key)) continue;
      uint32_t type = TypeByName(kernel, described[key].get<std::string>());
      if (type == HSI_NO_TYPE) return Fail(error, where + "no type " + described[key].get<std::string>());
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
    node.leaf = node.getType != HSI_NO_TYPE || node.setInputType != HSI_NO_TYPE || node.variableLength;
    std::string name = described["name"].get<std::string>();
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
  module.tables = HsiTableSet{module.nodes.data(), static_cast<uint32_t>(module.nodes.size()), nullptr, kernel.types,
                              kernel.typeCount, HSI_MODULE_NODE_BASE};
  if (item.contains("hsi") && !HsiLoadStore(module.tables, item["hsi"], module.store, error))
    return Fail(error, where + error);
  return true;
}

}  // namespace hyxsim
