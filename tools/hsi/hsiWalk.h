// Walks the host's system-information tree through the library's HSI
// client: the static nodes of the generated tables, the kernel's modules
// below the module root, the instances of every instance node (for every
// combination of the instances above it) and the values of the leaves.
// Shared by hyxsnap and hyxinfo; the programs link the library's internal
// archive for the client.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "hsiCacheWriter.h"
#include "hyxsysinfo/hsiDefs.h"
#include "hyxuser/hyxuser.h"

namespace hsiwalk {

// An instance value: an integer or a string.
using Arg = hsicache::Param;
using Args = std::vector<Arg>;

// A node of the static tree (module 0) or of one kernel module.
struct Node {
  HsiNodeID id = 0;
  HsiModuleID module = 0;
  std::string moduleName;  // empty for the static tree
  HsiNodeDef def{};        // the first HSI_NODE_REPLY_SIZE bytes; pointers left null
  std::string name;

  bool IsModuleNode() const { return id >= HSI_MODULE_NODE_BASE; }
  // A value can be read: fixed-size data or a variable-length value.
  bool Readable() const { return def.leaf && (def.variableLength || def.getSize > 0); }
  // The slot of the node in its table: the id, less the base for a module node.
  uint32_t Slot() const { return IsModuleNode() ? id - HSI_MODULE_NODE_BASE : id; }
};

struct Module {
  std::string name;
  HsiModuleID id = 0;
  uint32_t nodeCount = 0;  // from a snapshot: the nodes it holds from the top on
};

// The definition of a node (module nodes: of module, named moduleName).
HYX_ReturnStatus Definition(HsiNodeID id, HsiModuleID module, const std::string &moduleName, Node &node);
// The node's children in chain order (highest id first).  Below the module
// root, module's own top nodes when module is given.
HYX_ReturnStatus Children(const Node &node, std::vector<Node> &children);
// The instance nodes from the top of the node's tree down to the node
// (included): one argument is due for each.
HYX_ReturnStatus InstancePath(const Node &node, std::vector<Node> &path);
// The kernel's modules: the module root's instances, each with its id and
// node count.
HYX_ReturnStatus Modules(std::vector<Module> &modules);
HYX_ReturnStatus ModuleByName(const std::string &name, Module &module);

// The instances of an instance node under args (one per instance node
// above it).
HYX_ReturnStatus List(const Node &node, const Args &args, Args &items);
// A leaf's value: getSize bytes, or for a variable-length value its data
// (asked for its size first).
HYX_ReturnStatus Read(const Node &node, const Args &args, std::vector<uint8_t> &data);

// The node's data type descriptor; release it with ReleaseType.
HYX_ReturnStatus GetType(const Node &node, uint32_t which, const HsiTypeDef **type);
HYX_ReturnStatus GetInputType(const Node &node, const HsiTypeDef **type);
void ReleaseType(const HsiTypeDef *type);

// "net/pNics/properties"; "MODULE:mounts/info" for a module node; "/" for
// the root.
std::string PathOf(const Node &node);
// The node a path names: names joined by "/" or "_" (as the identifiers
// join them), a module node's path after "MODULE:".
HYX_ReturnStatus Resolve(const std::string &path, Node &node);

// What the walk reports, in tree order.
class Visitor {
 public:
  virtual ~Visitor() = default;
  virtual void OnModule(const Module &) {}
  virtual void OnNode(const Node &) {}
  virtual void OnList(const Node &, const Args &, HYX_ReturnStatus, const Args &) {}
  virtual void OnGet(const Node &, const Args &, HYX_ReturnStatus, const std::vector<uint8_t> &) {}
};

// Reports every node definition, of the static tree and of each module
// (listing the module root for their names), and nothing else.
HYX_ReturnStatus Describe(Visitor &visitor);

// Walks node and everything below it, node's ancestors' instances given by
// args.  Each node is reported once (before its lists and gets), each
// list and get as it is made.  Below the module root every module is
// reported and walked.  Fails only when the tree itself cannot be read.
HYX_ReturnStatus Walk(const Node &node, const Args &args, Visitor &visitor);

}  // namespace hsiwalk
