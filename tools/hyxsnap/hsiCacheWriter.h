// Builds a system-information cache file in memory (the layout in
// hyxsysinfo/hsiCacheFormat.h).  Tooling, not the library: it uses std
// containers and reports misuse by returning an empty file.
//
// Add modules, nodes and recorded results in any order, then Finish.  Every
// record lands in the file in the order it was added; a node's get and list
// entries are chained in the order they were added for that node.  Finish
// also reports where each record went, so that tests can patch a file.
#pragma once

#include <cstddef>
#include <cstdint>
#include <map>
#include <string>
#include <vector>

#include "hyxsysinfo/hsiDefs.h"

namespace hsicache {

// One instance argument or list item: an integer or a string.
struct Param {
  bool isString = false;
  uint64_t value = 0;
  std::string text;

  static Param Int(uint64_t value) { return Param{false, value, {}}; }
  static Param String(std::string text) { return Param{true, 0, std::move(text)}; }
  bool operator==(const Param &) const = default;
};

// Where Finish put things: file offsets, each list in the order of the
// matching Add calls.
struct Placement {
  std::vector<uint32_t> blocks;  // header word of each block
  uint32_t trailer = 0;
  std::vector<uint32_t> modules;  // HsiCacheModuleRecord
  std::vector<uint32_t> nodes;    // HsiCacheNodeRecord
  std::vector<uint32_t> infos;    // HsiCacheNodeInfo
  std::vector<uint32_t> names;    // node names
  std::vector<uint32_t> types;    // a node's HsiCacheTypeDef, 0 without one
  std::vector<uint32_t> gets;     // HsiCacheGetEntry
  std::vector<uint32_t> getData;  // 0 when the node's data length is 0
  std::vector<uint32_t> lists;    // HsiCacheListEntry
  // Parameter records of each entry's arguments, in call order (the chain
  // runs the other way), and the argument links, first link first.
  std::vector<std::vector<uint32_t>> getArgs;
  std::vector<std::vector<uint32_t>> getArgLinks;
  std::vector<std::vector<uint32_t>> listArgs;
  std::vector<std::vector<uint32_t>> listArgLinks;
  // Each list entry's items: the HsiCacheListItem records and their
  // parameter records, in item order.
  std::vector<std::vector<uint32_t>> listItems;
  std::vector<std::vector<uint32_t>> listItemParams;
};

class Writer {
 public:
  // Returns the module's index for AddNode.
  size_t AddModule(int32_t id, const std::string &name, int32_t slotCount);

  // slot: the node id, minus HSI_MODULE_NODE_BASE for a module node.
  // def: the first HSI_NODE_REPLY_SIZE bytes of the packed definition.
  // type: the node's data type descriptor tree (null: none); it is copied
  // at once, so the caller may free it afterwards.  Descriptors equal to
  // ones already added are not written again.  Returns the node's index
  // for AddGet and AddList, or SIZE_MAX for a module index never added.
  size_t AddNode(size_t module, uint32_t slot, uint64_t signature, uint32_t dataLength, const uint8_t *def,
                 const std::string &name, const HsiTypeDef *type = nullptr);

  // args in call order.  data must hold the node's data length in bytes
  // (shorter is padded with zeros, longer cut); a failed get may pass none,
  // and then has no data record.
  // Returns false for a node index never added.
  bool AddGet(size_t node, const std::vector<Param> &args, uint32_t status, const std::vector<uint8_t> &data);
  bool AddList(size_t node, const std::vector<Param> &args, uint32_t status, const std::vector<Param> &items);

  // The whole file.  build is cut to 20 bytes, signature to 32.  blockSize
  // 0 puts the data area in one block; otherwise blocks of at most that many
  // bytes (header word included), except a record larger than a block gets
  // a block of its own, as large as it needs.
  std::vector<uint8_t> Finish(const std::string &build, const std::string &signature, uint32_t blockSize = 0,
                              Placement *placement = nullptr) const;

 private:
  struct Fixup {
    uint32_t at;    // within the record
    uint8_t width;  // 4 or 8
    size_t target;  // record index
  };
  struct Record {
    std::vector<uint8_t> bytes;
    std::vector<Fixup> fixups;
  };
  struct Entry {
    size_t record;
    std::vector<size_t> argParams;  // call order
    std::vector<size_t> argLinks;   // chain order
    size_t data = SIZE_MAX;
    std::vector<size_t> items;
    std::vector<size_t> itemParams;
  };
  struct Node {
    size_t module, record, info, name, type;
    std::vector<size_t> gets, lists;  // indexes into gets_ / lists_
  };
  struct Module {
    size_t record;
    std::vector<size_t> nodes;
  };

  // Where Finish puts the records: each one's offset, the blocks' header
  // words and the trailer.
  struct Layout {
    std::vector<uint32_t> offsets;
    std::vector<uint32_t> blocks;
    uint32_t trailer = 0;
  };

  // Finish's steps: chain, lay out, write, report.
  std::vector<Record> ChainedRecords() const;
  static bool Lay(const std::vector<Record> &records, uint32_t blockSize, Layout &layout);
  std::vector<uint8_t> Write(const std::vector<Record> &records, const Layout &layout,
                             const std::string &build, const std::string &signature) const;
  void Report(const Layout &layout, Placement &placement) const;

  size_t NewRecord(std::vector<uint8_t> bytes);
  size_t AddString(const std::string &text);
  size_t AddParam(const Param &param);
  size_t AddType(const HsiTypeDef *type);
  Entry AddArgs(size_t record, const std::vector<Param> &args);

  std::vector<Record> records_;
  std::vector<Module> modules_;
  std::vector<Node> nodes_;
  std::vector<Entry> gets_, lists_;
  // Descriptors are written once per content: a key spelling out the whole
  // tree below a descriptor maps to its record.  keys_ caches the keys of
  // the tree AddNode is copying.
  std::string TypeKey(const HsiTypeDef *type, int depth);
  std::map<std::string, size_t> types_;
  std::map<const HsiTypeDef *, std::string> keys_;
};

}  // namespace hsicache
