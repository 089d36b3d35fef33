#include "hsiCacheWriter.h"

#include <algorithm>
#include <cstring>

#include "hyxsysinfo/hsiCacheFormat.h"
#include "hyxsysinfo/kernelWire.h"

namespace hsicache {

namespace {

template <typename T>
std::vector<uint8_t> BytesOf(const T &record) {
  std::vector<uint8_t> bytes(sizeof(T));
  std::memcpy(bytes.data(), &record, sizeof(T));
  return bytes;
}

template <typename T>
void Put(std::vector<uint8_t> &file, uint32_t at, T value) {
  std::memcpy(file.data() + at, &value, sizeof(T));
}

}  // namespace

size_t Writer::NewRecord(std::vector<uint8_t> bytes) {
  records_.push_back(Record{std::move(bytes), {}});
  return records_.size() - 1;
}

size_t Writer::AddString(const std::string &text) {
  std::vector<uint8_t> bytes(text.begin(), text.end());
  bytes.push_back(0);
  return NewRecord(std::move(bytes));
}

size_t Writer::AddParam(const Param &param) {
  HsiParam slot{};
  if (!param.isString) {
    slot.type = HSI_PARAM_INT;
    slot.value = param.value;
    return NewRecord(BytesOf(slot));
  }
  slot.type = HSI_PARAM_STRING;
  slot.length = static_cast<uint32_t>(param.text.size() + 1);
  size_t record = NewRecord(BytesOf(slot));
  size_t text = AddString(param.text);
  records_[record].fixups.push_back({offsetof(HsiParam, offset), 8, text});
  return record;
}

namespace {

// Deeper descriptor trees are cut off in the key (never met in practice).
constexpr int kMaxTypeDepth = 64;

void KeyText(std::string &key, const char *text) {
  if (text == nullptr) {
    key += '-';
    return;
  }
  key += std::to_string(std::strlen(text)) + ':' + text;
}

}  // namespace

std::string Writer::TypeKey(const HsiTypeDef *type, int depth) {
  if (type == nullptr || depth > kMaxTypeDepth) return "-";
  auto known = keys_.find(type);
  if (known != keys_.end()) return known->second;
  std::string key = "(" + std::to_string(type->kind) + "," + std::to_string(type->size) + "," +
                    std::to_string(type->bitFlags) + ",";
  KeyText(key, type->name);
  KeyText(key, type->format);
  if (type->kind == HSI_TYPE_ARRAY) {
    key += std::to_string(type->b.elementIndex) + TypeKey(type->a.element, depth + 1);
  } else if (type->kind == HSI_TYPE_STRUCT) {
    for (uint64_t i = 0; i < type->a.count && type->b.fields; i++) {
      const HsiFieldDef &field = type->b.fields[i];
      key += "[" + std::to_string(field.typeIndex) + "," + std::to_string(field.offset) + ",";
      KeyText(key, field.name);
      KeyText(key, field.description);
      key += TypeKey(field.type, depth + 1) + "]";
    }
  } else if (type->kind == HSI_TYPE_ENUM) {
    for (uint64_t i = 0; i < type->a.count && type->b.values; i++) {
      key += "[" + std::to_string(type->b.values[i].value) + ",";
      KeyText(key, type->b.values[i].name);
      KeyText(key, type->b.values[i].description);
      key += "]";
    }
  }
  key += ")";
  keys_[type] = key;
  return key;
}

// Writes a descriptor tree depth first: each descriptor, then its name and
// description, then what it points to.
size_t Writer::AddType(const HsiTypeDef *type) {
  std::string key = TypeKey(type, 0);
  auto known = types_.find(key);
  if (known != types_.end()) return known->second;
  HsiCacheTypeDef out{};
  out.kind = type->kind;
  out.size = type->size;
  out.bitFlags = type->bitFlags;
  bool structOrEnum = type->kind == HSI_TYPE_STRUCT || type->kind == HSI_TYPE_ENUM;
  if (structOrEnum) {
    out.a = type->a.count;
  } else if (type->kind == HSI_TYPE_ARRAY) {
    out.b = type->b.elementIndex;  // an index, not a pointer: kept as it is
  }
  size_t record = NewRecord(BytesOf(out));
  types_.emplace(std::move(key), record);
  auto fix = [&](size_t owner, uint32_t at, size_t target) {
    records_[owner].fixups.push_back({at, 8, target});
  };
  if (type->name) fix(record, offsetof(HsiCacheTypeDef, name), AddString(type->name));
  if (type->format) fix(record, offsetof(HsiCacheTypeDef, description), AddString(type->format));

  if (type->kind == HSI_TYPE_ARRAY && type->a.element) {
    fix(record, offsetof(HsiCacheTypeDef, a), AddType(type->a.element));
  } else if (type->kind == HSI_TYPE_STRUCT && type->a.count && type->b.fields) {
    std::vector<uint8_t> bytes(sizeof(HsiCacheFieldDef) * type->a.count);
    for (uint64_t i = 0; i < type->a.count; i++) {
      HsiCacheFieldDef field{};
      field.typeIndex = type->b.fields[i].typeIndex;
      field.offset = type->b.fields[i].offset;
      std::memcpy(bytes.data() + i * sizeof field, &field, sizeof field);
    }
    size_t array = NewRecord(std::move(bytes));
    fix(record, offsetof(HsiCacheTypeDef, b), array);
    for (uint64_t i = 0; i < type->a.count; i++) {
      const HsiFieldDef &field = type->b.fields[i];
      uint32_t at = static_cast<uint32_t>(i * sizeof(HsiCacheFieldDef));
      if (field.name) fix(array, at + offsetof(HsiCacheFieldDef, name), AddString(field.name));
      if (field.description)
        fix(array, at + offsetof(HsiCacheFieldDef, description), AddString(field.description));
      if (field.type) fix(array, at + offsetof(HsiCacheFieldDef, type), AddType(field.type));
    }
  } else if (type->kind == HSI_TYPE_ENUM && type->a.count && type->b.values) {
    std::vector<uint8_t> bytes(sizeof(HsiCacheEnumValueDef) * type->a.count);
    for (uint64_t i = 0; i < type->a.count; i++) {
      HsiCacheEnumValueDef value{};
      value.value = type->b.values[i].value;
      std::memcpy(bytes.data() + i * sizeof value, &value, sizeof value);
    }
    size_t array = NewRecord(std::move(bytes));
    fix(record, offsetof(HsiCacheTypeDef, b), array);
    for (uint64_t i = 0; i < type->a.count; i++) {
      const HsiEnumValueDef &value = type->b.values[i];
      uint32_t at = static_cast<uint32_t>(i * sizeof(HsiCacheEnumValueDef));
      if (value.name) fix(array, at + offsetof(HsiCacheEnumValueDef, name), AddString(value.name));
      if (value.description)
        fix(array, at + offsetof(HsiCacheEnumValueDef, description), AddString(value.description));
    }
  }
  return record;
}

size_t Writer::AddModule(int32_t id, const std::string &name, int32_t slotCount) {
  HsiCacheModuleRecord record{};
  record.moduleId = static_cast<uint32_t>(id);
  std::strncpy(record.name, name.c_str(), sizeof record.name - 1);
  record.slotCount = slotCount;
  modules_.push_back(Module{NewRecord(BytesOf(record)), {}});
  return modules_.size() - 1;
}

size_t Writer::AddNode(size_t module, uint32_t slot, uint64_t signature, uint32_t dataLength,
                       const uint8_t *def, const std::string &name, const HsiTypeDef *type) {
  if (module >= modules_.size()) return SIZE_MAX;
  HsiCacheNodeRecord record{};
  record.slot = slot;
  record.signature = signature;
  record.dataLength = dataLength;
  Node node{};
  node.module = module;
  node.record = NewRecord(BytesOf(record));
  HsiCacheNodeInfo info{};
  if (def) std::memcpy(info.def, def, sizeof info.def);
  node.info = NewRecord(BytesOf(info));
  node.name = AddString(name);
  records_[node.info].fixups.push_back({offsetof(HsiCacheNodeInfo, name), 8, node.name});
  node.type = SIZE_MAX;
  if (type) {
    node.type = AddType(type);
    keys_.clear();
    records_[node.info].fixups.push_back({offsetof(HsiCacheNodeInfo, type), 8, node.type});
  }
  records_[node.record].fixups.push_back({offsetof(HsiCacheNodeRecord, info), 4, node.info});
  nodes_.push_back(std::move(node));
  modules_[module].nodes.push_back(nodes_.size() - 1);
  return nodes_.size() - 1;
}

// The argument records in call order, then the links from the last
// argument to the first.
Writer::Entry Writer::AddArgs(size_t record, const std::vector<Param> &args) {
  Entry entry{};
  entry.record = record;
  for (const Param &arg : args) entry.argParams.push_back(AddParam(arg));
  for (size_t k = 0; k < args.size(); k++) {
    size_t link = NewRecord(BytesOf(HsiCacheArgLink{}));
    records_[link].fixups.push_back(
        {offsetof(HsiCacheArgLink, param), 4, entry.argParams[args.size() - 1 - k]});
    if (k > 0) records_[entry.argLinks.back()].fixups.push_back({offsetof(HsiCacheArgLink, next), 4, link});
    entry.argLinks.push_back(link);
  }
  return entry;
}

bool Writer::AddGet(size_t node, const std::vector<Param> &args, uint32_t status,
                    const std::vector<uint8_t> &data) {
  if (node >= nodes_.size()) return false;
  HsiCacheGetEntry get{};
  get.status = status;
  Entry entry = AddArgs(NewRecord(BytesOf(get)), args);
  if (!entry.argLinks.empty())
    records_[entry.record].fixups.push_back({offsetof(HsiCacheGetEntry, args), 4, entry.argLinks[0]});
  HsiCacheNodeRecord record;
  std::memcpy(&record, records_[nodes_[node].record].bytes.data(), sizeof record);
  // A failed get's data is never read: it gets none unless some is given.
  if (record.dataLength > 0 && (status == 0 || !data.empty())) {
    std::vector<uint8_t> bytes(record.dataLength, 0);
    if (!data.empty()) std::memcpy(bytes.data(), data.data(), std::min<size_t>(data.size(), bytes.size()));
    entry.data = NewRecord(std::move(bytes));
    records_[entry.record].fixups.push_back({offsetof(HsiCacheGetEntry, data), 4, entry.data});
  }
  gets_.push_back(std::move(entry));
  nodes_[node].gets.push_back(gets_.size() - 1);
  return true;
}

bool Writer::AddList(size_t node, const std::vector<Param> &args, uint32_t status,
                     const std::vector<Param> &items) {
  if (node >= nodes_.size()) return false;
  HsiCacheListEntry list{};
  list.status = status;
  list.itemCount = static_cast<uint32_t>(items.size());
  Entry entry = AddArgs(NewRecord(BytesOf(list)), args);
  if (!entry.argLinks.empty())
    records_[entry.record].fixups.push_back({offsetof(HsiCacheListEntry, args), 4, entry.argLinks[0]});
  for (const Param &item : items) {
    size_t param = AddParam(item);
    size_t link = NewRecord(BytesOf(HsiCacheListItem{}));
    records_[link].fixups.push_back({offsetof(HsiCacheListItem, param), 4, param});
    if (entry.items.empty()) {
      records_[entry.record].fixups.push_back({offsetof(HsiCacheListEntry, firstItem), 4, link});
    } else {
      records_[entry.items.back()].fixups.push_back({offsetof(HsiCacheListItem, next), 4, link});
    }
    entry.items.push_back(link);
    entry.itemParams.push_back(param);
  }
  lists_.push_back(std::move(entry));
  nodes_[node].lists.push_back(lists_.size() - 1);
  return true;
}

// The chains (modules, their nodes, each node's entries) and the counts are
// known only once everything is added: they go into a copy of the records.
std::vector<Writer::Record> Writer::ChainedRecords() const {
  std::vector<Record> records = records_;
  auto link = [&](size_t owner, uint32_t at, size_t target) {
    records[owner].fixups.push_back({at, 4, target});
  };
  auto putU32 = [&](size_t owner, uint32_t at, uint32_t value) {
    std::memcpy(records[owner].bytes.data() + at, &value, sizeof value);
  };
  for (size_t m = 0; m < modules_.size(); m++) {
    const Module &module = modules_[m];
    if (m + 1 < modules_.size())
      link(module.record, offsetof(HsiCacheModuleRecord, nextModule), modules_[m + 1].record);
    putU32(module.record, offsetof(HsiCacheModuleRecord, nodeCount),
           static_cast<uint32_t>(module.nodes.size()));
    for (size_t k = 0; k < module.nodes.size(); k++) {
      const Node &node = nodes_[module.nodes[k]];
      if (k == 0) link(module.record, offsetof(HsiCacheModuleRecord, firstNode), node.record);
      if (k + 1 < module.nodes.size()) {
        link(node.record, offsetof(HsiCacheNodeRecord, nextNode), nodes_[module.nodes[k + 1]].record);
      }
      putU32(node.record, offsetof(HsiCacheNodeRecord, getCount), static_cast<uint32_t>(node.gets.size()));
      putU32(node.record, offsetof(HsiCacheNodeRecord, listCount), static_cast<uint32_t>(node.lists.size()));
      for (size_t g = 0; g < node.gets.size(); g++) {
        if (g == 0)
          link(node.record, offsetof(HsiCacheNodeRecord, firstGet), gets_[node.gets[g]].record);
        else
          link(gets_[node.gets[g - 1]].record, offsetof(HsiCacheGetEntry, next), gets_[node.gets[g]].record);
      }
      for (size_t l = 0; l < node.lists.size(); l++) {
        if (l == 0)
          link(node.record, offsetof(HsiCacheNodeRecord, firstList), lists_[node.lists[l]].record);
        else
          link(lists_[node.lists[l - 1]].record, offsetof(HsiCacheListEntry, next),
               lists_[node.lists[l]].record);
      }
    }
  }
  return records;
}

// Places the records: a block is opened with its header word and closed,
// padded to an even length (bit 0 of the header is the last-block flag),
// when the next record does not fit.  Returns false when the file would
// outgrow 32-bit offsets.
bool Writer::Lay(const std::vector<Record> &records, uint32_t blockSize, Layout &layout) {
  layout.offsets.assign(records.size(), 0);
  layout.blocks = {0};
  uint64_t at = 4;
  for (size_t i = 0; i < records.size(); i++) {
    uint64_t size = records[i].bytes.size();
    if (blockSize && at - layout.blocks.back() + size > blockSize && at > layout.blocks.back() + 4) {
      at += (at - layout.blocks.back()) & 1;
      layout.blocks.push_back(static_cast<uint32_t>(at));
      at += 4;
    }
    layout.offsets[i] = static_cast<uint32_t>(at);
    at += size;
  }
  at += (at - layout.blocks.back()) & 1;
  if (at + sizeof(HsiCacheTrailer) > UINT32_MAX) return false;
  layout.trailer = static_cast<uint32_t>(at);
  return true;
}

// The block headers, the records with their links resolved, and the
// trailer, where layout put them.
std::vector<uint8_t> Writer::Write(const std::vector<Record> &records, const Layout &layout,
                                   const std::string &build, const std::string &signature) const {
  const std::vector<uint32_t> &offsets = layout.offsets;
  std::vector<uint8_t> file(layout.trailer + sizeof(HsiCacheTrailer), 0);
  for (size_t b = 0; b < layout.blocks.size(); b++) {
    bool last = b + 1 == layout.blocks.size();
    uint32_t end = last ? layout.trailer : layout.blocks[b + 1];
    Put<uint32_t>(file, layout.blocks[b], (end - layout.blocks[b]) | (last ? HSI_CACHE_LAST_BLOCK : 0));
  }
  for (size_t i = 0; i < records.size(); i++) {
    std::memcpy(file.data() + offsets[i], records[i].bytes.data(), records[i].bytes.size());
    for (const Fixup &fixup : records[i].fixups) {
      if (fixup.width == 8)
        Put<uint64_t>(file, offsets[i] + fixup.at, offsets[fixup.target]);
      else
        Put<uint32_t>(file, offsets[i] + fixup.at, offsets[fixup.target]);
    }
  }
  HsiCacheTrailer trailer{};
  trailer.moduleCount = static_cast<uint32_t>(modules_.size());
  std::strncpy(trailer.build, build.c_str(), sizeof trailer.build - 1);
  std::strncpy(trailer.signature, signature.c_str(), sizeof trailer.signature - 1);
  trailer.firstModule = modules_.empty() ? 0 : offsets[modules_[0].record];
  std::memcpy(file.data() + layout.trailer, &trailer, sizeof trailer);
  return file;
}

// Where each record the caller added went.
void Writer::Report(const Layout &layout, Placement &p) const {
  const std::vector<uint32_t> &offsets = layout.offsets;
  auto where = [&](const std::vector<size_t> &indexes) {
    std::vector<uint32_t> out;
    for (size_t index : indexes) out.push_back(offsets[index]);
    return out;
  };
  p = Placement{};
  p.blocks = layout.blocks;
  p.trailer = layout.trailer;
  for (const Module &module : modules_) p.modules.push_back(offsets[module.record]);
  for (const Node &node : nodes_) {
    p.nodes.push_back(offsets[node.record]);
    p.infos.push_back(offsets[node.info]);
    p.names.push_back(offsets[node.name]);
    p.types.push_back(node.type == SIZE_MAX ? 0 : offsets[node.type]);
  }
  for (const Entry &get : gets_) {
    p.gets.push_back(offsets[get.record]);
    p.getData.push_back(get.data == SIZE_MAX ? 0 : offsets[get.data]);
    p.getArgs.push_back(where(get.argParams));
    p.getArgLinks.push_back(where(get.argLinks));
  }
  for (const Entry &list : lists_) {
    p.lists.push_back(offsets[list.record]);
    p.listArgs.push_back(where(list.argParams));
    p.listArgLinks.push_back(where(list.argLinks));
    p.listItems.push_back(where(list.items));
    p.listItemParams.push_back(where(list.itemParams));
  }
}

std::vector<uint8_t> Writer::Finish(const std::string &build, const std::string &signature,
                                    uint32_t blockSize, Placement *placement) const {
  std::vector<Record> records = ChainedRecords();
  Layout layout;
  if (!Lay(records, blockSize, layout)) return {};
  std::vector<uint8_t> file = Write(records, layout, build, signature);
  if (placement) Report(layout, *placement);
  return file;
}

}  // namespace hsicache
