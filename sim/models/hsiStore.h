// The system-information server's state: the kernel's node table (the
// interface's own numbering or a renumbered one), the node values the host
// holds, and the encoder that turns profile values into the kernel's bytes.
#pragma once

#include <cstdint>
#include <map>
#include <nlohmann/json.hpp>
#include <string>
#include <vector>

#include "hsiPaths.h"
#include "hyxsysinfo/hsiDefs.h"

namespace hyxsim {

// The table the kernel serves: "hsiNumbering": "renumbered" in the
// profile's kernel section selects the renumbered one.
const HsiTableSet &KernelHsiTables();

// One instance value: an integer or a string.
struct HsiValue {
  bool isInt = false;
  uint64_t number = 0;
  std::string text;
  bool operator==(const HsiValue &) const = default;
};

struct HsiEntry {
  std::vector<HsiValue> instances;  // one per instance node on the path
  bool hasValue = false;
  std::vector<uint8_t> bytes;
  uint32_t status = 0;  // a snapshot's recorded failure: the get answers it
};

// Node id (in the kernel's numbering) to its entries, in profile order.
using HsiStore = std::map<uint32_t, std::vector<HsiEntry>>;

// A list a snapshot recorded: the outer instance values it was asked with,
// its status, and the instances it returned.
struct HsiListEntry {
  std::vector<HsiValue> instances;
  uint32_t status = 0;
  std::vector<HsiValue> items;
};
using HsiListStore = std::map<uint32_t, std::vector<HsiListEntry>>;

// A kernel module's node tree, built from the profile's "hsiModules".
struct HsiModule {
  std::string name;
  int32_t id = 0;
  std::vector<HsiNodeDef> nodes;  // index 0: the module's root
  std::vector<std::string> names;
  HsiTableSet tables{};
  HsiStore store;
  // From a snapshot: the lists as recorded (instances are not derived from
  // the values), and which node slots the snapshot describes.
  HsiListStore lists;
  std::vector<uint8_t> described;
};

// Reads one module: its nodes (name, parent path, flags, get and set types
// by name from the kernel's type table) and its values ("hsi").  Faults name
// the field below `where` ("hsiModules[0].nodes[2].get: ...").
bool HsiLoadModule(const HsiTableSet &kernel, const nlohmann::json &item, const std::string &where,
                   HsiModule &module, std::string &error);

// The path of node `node` as the tools spell it ("net/pNics/properties";
// "MODULE:path" for a node of module `moduleId`).  False for a node or
// module the kernel lacks.
bool HsiNodePath(int32_t moduleId, uint32_t node, std::string &path);

// The instance nodes from the root down to node, node included.
std::vector<uint32_t> HsiInstancePath(const HsiTableSet &tables, uint32_t node);

// Encodes value as type into out (type->size bytes, zeroed first).  On a
// value that does not fit the type returns false and says why in error.
bool HsiEncode(const HsiTypeDef *type, const nlohmann::json &value, uint8_t *out, std::string &error);

// Whether the kernel's top-level instance node at path ("storage_scsifw_adapters")
// holds the string instance name.
bool HsiHasInstance(const char *path, const std::string &name);

// Reads the profile's "hsi" section into store; false with a reason on
// a path, field or value the tables do not know.
bool HsiLoadStore(const HsiTableSet &tables, const nlohmann::json &section, HsiStore &store,
                  std::string &error);

}  // namespace hyxsim
