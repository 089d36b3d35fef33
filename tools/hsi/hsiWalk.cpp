#include "hsiWalk.h"

#include <algorithm>
#include <cstring>
#include <set>
#include <utility>

#include "hyxsysinfo/hsiCallsUser.h"
#include "hyxsysinfo/hsiModuleNodes.h"
#include "hyxsysinfo/hsiNodes.h"
#include "hyxsysinfo/hsiParams.h"
#include "hyxsysinfo/hsiTables.h"

namespace hsiwalk {
namespace {

// Deeper than any real tree: stops a looping parent chain.
constexpr int kMaxDepth = 64;
// More nodes than a module's table can hold (node ids are 32 bits wide,
// but the count is asked of a snapshot only to show it).
constexpr uint32_t kMaxModuleNodes = 1u << 20;
// How far the instances of a nesting (recursive) instance node are followed.
constexpr int kMaxNesting = 8;

struct ListOwner {
  HsiParamList list = nullptr;
  ~ListOwner() {
    if (list) HsiParamList_Free(list);
  }
};

// The list a call sends: the module's name first for a module node, then
// the instance values.
HYX_ReturnStatus MakeParams(const Node &node, const Args &args, ListOwner &owner) {
  owner.list = HsiParamList_Alloc(HSI_PARAMLIST_INSTANCE, static_cast<uint32_t>(args.size() + 1));
  if (!owner.list) return HYX_NO_MEMORY;
  HYX_ReturnStatus status = HYX_OK;
  if (node.IsModuleNode()) status = HsiParamList_AddString(owner.list, node.moduleName.c_str());
  for (size_t i = 0; status == HYX_OK && i < args.size(); i++) {
    status = args[i].isString ? HsiParamList_AddString(owner.list, args[i].text.c_str())
                              : HsiParamList_AddInt(owner.list, args[i].value);
  }
  return status;
}

bool IsTop(HsiNodeID id) { return id == 0 || id == HSI_MODULE_NODE_BASE || id == HSI_NO_NODE; }

class Walker {
 public:
  explicit Walker(Visitor &visitor) : visitor_(visitor) {}

  void Report(const Node &node) {
    if (reported_.insert({node.module, node.id}).second) visitor_.OnNode(node);
  }

  HYX_ReturnStatus ListAndReport(const Node &node, const Args &args, Args &items) {
    HYX_ReturnStatus status = List(node, args, items);
    visitor_.OnList(node, args, status, items);
    return status;
  }

  void Get(const Node &node, const Args &args) {
    std::vector<uint8_t> data;
    HYX_ReturnStatus status = Read(node, args, data);
    visitor_.OnGet(node, args, status, data);
  }

  // Reports a module and its top node (HSI_MODULE_NODE_BASE); its own
  // nodes below the module root go to children.
  HYX_ReturnStatus EnterModule(const std::string &name, std::vector<Node> *children) {
    Module module;
    HYX_ReturnStatus status = ModuleByName(name, module);
    if (status != HYX_OK) return status;
    visitor_.OnModule(module);
    Node top, inModule;
    if ((status = Definition(HSI_MODULE_NODE_BASE, module.id, module.name, top)) != HYX_OK) return status;
    Report(top);
    if (children == nullptr) return HYX_OK;
    if ((status = Definition(HSI_NODE_hyxModules, 0, "", inModule)) != HYX_OK) return status;
    inModule.module = module.id;
    inModule.moduleName = module.name;
    return Children(inModule, *children);
  }

  // Every definition of the static tree and of each module, with the
  // module root's list that names the modules.
  HYX_ReturnStatus DescribeAll() {
    Node root, moduleRoot;
    HYX_ReturnStatus status = Definition(0, 0, "", root);
    if (status == HYX_OK) status = Definitions(root, 0);
    if (status == HYX_OK) status = Definition(HSI_NODE_hyxModules, 0, "", moduleRoot);
    if (status != HYX_OK) return status;
    Args names;
    if (ListAndReport(moduleRoot, {}, names) != HYX_OK) return HYX_OK;
    for (const Arg &name : names) {
      std::vector<Node> children;
      if (name.isString && (status = EnterModule(name.text, &children)) != HYX_OK) return status;
      for (const Node &child : children) {
        if ((status = Definitions(child, 1)) != HYX_OK) return status;
      }
    }
    return HYX_OK;
  }

  HYX_ReturnStatus Subtree(const Node &node, const Args &args, int depth) {
    if (depth > kMaxDepth) return HYX_FAILURE;
    Report(node);
    if (node.def.moduleRoot && !node.IsModuleNode()) {
      Args names;
      if (ListAndReport(node, args, names) != HYX_OK) return HYX_OK;
      for (const Arg &name : names) {
        std::vector<Node> children;
        HYX_ReturnStatus status =
            name.isString ? EnterModule(name.text, &children) : HYX_ReturnStatus{HYX_OK};
        for (size_t i = 0; status == HYX_OK && i < children.size(); i++) status = Subtree(children[i], {}, 0);
        if (status != HYX_OK) return status;
      }
      return HYX_OK;
    }
    if (!node.def.instance) return Below(node, args, depth);
    // The definitions below are reported even when there is no instance.
    HYX_ReturnStatus status = Definitions(node, depth);
    if (status != HYX_OK) return status;
    Args items;
    if (ListAndReport(node, args, items) != HYX_OK) return HYX_OK;
    for (const Arg &item : items) {
      Args inner = args;
      inner.push_back(item);
      if ((status = Instance(node, inner, depth, 0)) != HYX_OK) return status;
    }
    return HYX_OK;
  }

 private:
  // Reports every node below node, once.
  HYX_ReturnStatus Definitions(const Node &node, int depth) {
    if (depth > kMaxDepth) return HYX_FAILURE;
    if (!described_.insert({node.module, node.id}).second) return HYX_OK;
    Report(node);
    if (node.def.moduleRoot && !node.IsModuleNode()) return HYX_OK;
    std::vector<Node> children;
    HYX_ReturnStatus status = Children(node, children);
    for (size_t i = 0; status == HYX_OK && i < children.size(); i++)
      status = Definitions(children[i], depth + 1);
    return status;
  }

  // One instance of an instance node (its value last in args): its own
  // value, the nodes below it, and for a nesting node the instances inside.
  HYX_ReturnStatus Instance(const Node &node, const Args &args, int depth, int nesting) {
    HYX_ReturnStatus status = Below(node, args, depth);
    if (status != HYX_OK || !(node.def.recursive & 1) || nesting >= kMaxNesting) return status;
    Args inside;
    if (List(node, args, inside) != HYX_OK || inside.empty()) return HYX_OK;
    visitor_.OnList(node, args, HYX_OK, inside);
    for (const Arg &item : inside) {
      Args inner = args;
      inner.push_back(item);
      if ((status = Instance(node, inner, depth, nesting + 1)) != HYX_OK) return status;
    }
    return HYX_OK;
  }

  // The node's own value and its children, under args.
  HYX_ReturnStatus Below(const Node &node, const Args &args, int depth) {
    if (node.Readable()) Get(node, args);
    if (node.def.leaf && node.def.firstChild == HSI_NO_NODE) return HYX_OK;
    std::vector<Node> children;
    HYX_ReturnStatus status = Children(node, children);
    if (status != HYX_OK) return status;
    for (const Node &child : children) {
      if ((status = Subtree(child, args, depth + 1)) != HYX_OK) return status;
    }
    return HYX_OK;
  }

  Visitor &visitor_;
  std::set<std::pair<HsiModuleID, HsiNodeID>> reported_, described_;
};

}  // namespace

HYX_ReturnStatus Definition(HsiNodeID id, HsiModuleID module, const std::string &moduleName, Node &node) {
  const HsiNodeDef *def = nullptr;
  HYX_ReturnStatus status = HsiNode_GetDef(id, id >= HSI_MODULE_NODE_BASE ? module : 0, &def);
  if (status != HYX_OK) return status;
  node = Node{};
  node.id = id;
  node.module = module;
  node.moduleName = moduleName;
  std::memcpy(&node.def, def, HSI_NODE_REPLY_SIZE);
  node.name = def->name ? def->name : "";
  HsiNode_ReleaseDef(def);
  return HYX_OK;
}

HYX_ReturnStatus Children(const Node &node, std::vector<Node> &children) {
  children.clear();
  HsiModuleID module = node.module;
  uint32_t count = 0;
  HYX_ReturnStatus status = HsiNode_GetChildCount(node.id, module, &count);
  if (status != HYX_OK || count == 0) return status;
  std::vector<HsiNodeID> ids(count);
  if ((status = HsiNode_GetChildren(node.id, module, ids.data(), count)) != HYX_OK) return status;
  for (HsiNodeID id : ids) {
    Node child;
    if ((status = Definition(id, module, node.moduleName, child)) != HYX_OK) return status;
    if (!child.IsModuleNode()) child.module = 0, child.moduleName.clear();
    children.push_back(std::move(child));
  }
  return HYX_OK;
}

HYX_ReturnStatus InstancePath(const Node &node, std::vector<Node> &path) {
  path.clear();
  Node at = node;
  for (int depth = 0; !IsTop(at.id); depth++) {
    if (depth > kMaxDepth) return HYX_FAILURE;
    if (at.def.instance) path.push_back(at);
    if (IsTop(at.def.parent)) break;
    HYX_ReturnStatus status = Definition(at.def.parent, at.module, at.moduleName, at);
    if (status != HYX_OK) return status;
  }
  std::reverse(path.begin(), path.end());
  return HYX_OK;
}

HYX_ReturnStatus ModuleByName(const std::string &name, Module &module) {
  module = Module{};
  module.name = name;
  HYX_ReturnStatus status = Hsi_GetModuleID(name.c_str(), &module.id);
  if (status != HYX_OK || HsiModuleNode_Count(module.id, &module.nodeCount) == HYX_OK) return status;
  // A snapshot does not answer the count: the nodes it holds are counted,
  // from the module's top up to the first it lacks.
  module.nodeCount = 0;
  while (module.nodeCount < kMaxModuleNodes &&
         HsiNode_IsValid(HSI_MODULE_NODE_BASE + module.nodeCount, module.id))
    module.nodeCount++;
  return HYX_OK;
}

HYX_ReturnStatus Modules(std::vector<Module> &modules) {
  modules.clear();
  Node root;
  HYX_ReturnStatus status = Definition(HSI_NODE_hyxModules, 0, "", root);
  Args names;
  if (status == HYX_OK) status = List(root, {}, names);
  for (size_t i = 0; status == HYX_OK && i < names.size(); i++) {
    Module module;
    if (names[i].isString && (status = ModuleByName(names[i].text, module)) == HYX_OK)
      modules.push_back(module);
  }
  return status;
}

HYX_ReturnStatus List(const Node &node, const Args &args, Args &items) {
  items.clear();
  ListOwner params, out;
  HYX_ReturnStatus status = MakeParams(node, args, params);
  if (status == HYX_OK) status = Hsi_GetList(node.id, params.list, 0, &out.list);
  if (status != HYX_OK) return status;
  for (uint32_t i = 0; i < HsiParamList_Count(out.list); i++) {
    const HsiParam *param = HsiParamList_GetParam(out.list, i);
    if (param->type == HSI_PARAM_STRING) {
      items.push_back(Arg::String(HsiParam_GetString(param)));
    } else {
      items.push_back(Arg::Int(HsiParam_GetInt(param)));
    }
  }
  return HYX_OK;
}

HYX_ReturnStatus Read(const Node &node, const Args &args, std::vector<uint8_t> &data) {
  data.clear();
  ListOwner params;
  HYX_ReturnStatus status = MakeParams(node, args, params);
  if (status != HYX_OK) return status;
  if (!node.def.variableLength) {
    data.resize(node.def.getSize);
    status = Hsi_Get(node.id, params.list, data.data(), node.def.getSize);
    if (status != HYX_OK) data.clear();
    return status;
  }
  uint32_t size = 0;
  if ((status = Hsi_GetSize(node.id, params.list, &size)) != HYX_OK) return status;
  HsiSizedBuffer *buffer = HsiSizedBuffer_Alloc(size, nullptr, 0);
  if (!buffer) return HYX_NO_MEMORY;
  status = Hsi_GetSized(node.id, params.list, buffer);
  if (status == HYX_OK) data.assign(buffer->data, buffer->data + std::min(buffer->length, buffer->capacity));
  HsiSizedBuffer_Free(buffer);
  return status;
}

HYX_ReturnStatus GetType(const Node &node, uint32_t which, const HsiTypeDef **type) {
  return HsiNode_GetType(node.id, node.module, which, type);
}

HYX_ReturnStatus GetInputType(const Node &node, const HsiTypeDef **type) {
  return HsiNode_GetInputType(node.id, node.module, type);
}

void ReleaseType(const HsiTypeDef *type) { HsiNode_ReleaseType(type); }

std::string PathOf(const Node &node) {
  std::string path;
  Node at = node;
  for (int depth = 0; !IsTop(at.id) && depth <= kMaxDepth; depth++) {
    path = at.name + (path.empty() ? "" : "/") + path;
    if (IsTop(at.def.parent) || Definition(at.def.parent, at.module, at.moduleName, at) != HYX_OK) break;
  }
  if (node.IsModuleNode()) return node.moduleName + ":" + path;
  return path.empty() ? "/" : path;
}

namespace {

// Finds the node that rest names below node: names joined by '/' (exact)
// or '_' (each child whose name and a '_' start rest is tried in turn).
HYX_ReturnStatus Descend(const Node &node, const std::string &rest, bool slashes, Node &found, int depth) {
  if (rest.empty()) {
    found = node;
    return HYX_OK;
  }
  if (depth > kMaxDepth) return HYX_NOT_FOUND;
  std::vector<Node> children;
  HYX_ReturnStatus status = Children(node, children);
  if (status != HYX_OK) return status;
  char separator = slashes ? '/' : '_';
  for (const Node &child : children) {
    const std::string &name = child.name;
    if (rest.compare(0, name.size(), name) != 0) continue;
    if (rest.size() == name.size()) {
      found = child;
      return HYX_OK;
    }
    if (rest[name.size()] != separator) continue;
    size_t next = name.size() + 1;
    while (slashes && next < rest.size() && rest[next] == '/') next++;
    if (Descend(child, rest.substr(next), slashes, found, depth + 1) == HYX_OK) return HYX_OK;
  }
  return HYX_NOT_FOUND;
}

}  // namespace

HYX_ReturnStatus Resolve(const std::string &path, Node &node) {
  std::string rest = path;
  Node start;
  HYX_ReturnStatus status;
  size_t colon = rest.find(':');
  if (colon != std::string::npos) {
    Module module;
    module.name = rest.substr(0, colon);
    if ((status = Hsi_GetModuleID(module.name.c_str(), &module.id)) != HYX_OK) return status;
    rest.erase(0, colon + 1);
    // The module's tree hangs below the module root; its own top node
    // stands for the module.
    if ((status = Definition(HSI_NODE_hyxModules, 0, "", start)) != HYX_OK) return status;
    start.module = module.id;
    start.moduleName = module.name;
    if (rest.empty() || rest == "/") return Definition(HSI_MODULE_NODE_BASE, module.id, module.name, node);
  } else if ((status = Definition(0, 0, "", start)) != HYX_OK) {
    return status;
  }
  while (!rest.empty() && rest.front() == '/') rest.erase(0, 1);
  while (!rest.empty() && rest.back() == '/') rest.pop_back();
  bool slashes = rest.find('/') != std::string::npos;
  if ((status = Descend(start, rest, slashes, node, 0)) == HYX_OK || slashes) return status;
  // A single name with no separator at all is also tried as a '/' path.
  return Descend(start, rest, true, node, 0);
}

HYX_ReturnStatus Describe(Visitor &visitor) {
  Walker walker(visitor);
  return walker.DescribeAll();
}

HYX_ReturnStatus Walk(const Node &node, const Args &args, Visitor &visitor) {
  Walker walker(visitor);
  if (node.IsModuleNode()) {
    HYX_ReturnStatus status = walker.EnterModule(node.moduleName, nullptr);
    if (status != HYX_OK) return status;
  }
  // The instances of every instance node above the node, when args does
  // not give them.
  std::vector<Node> above;
  HYX_ReturnStatus status = InstancePath(node, above);
  if (status != HYX_OK) return status;
  if (!above.empty() && above.back().id == node.id && above.back().module == node.module) above.pop_back();
  std::vector<Args> combinations{args};
  for (size_t level = args.size(); level < above.size(); level++) {
    walker.Report(above[level]);
    std::vector<Args> next;
    for (const Args &outer : combinations) {
      Args items;
      if (walker.ListAndReport(above[level], outer, items) != HYX_OK) continue;
      for (const Arg &item : items) {
        next.push_back(outer);
        next.back().push_back(item);
      }
    }
    combinations = std::move(next);
  }
  for (const Args &combination : combinations) {
    if ((status = walker.Subtree(node, combination, 0)) != HYX_OK) return status;
  }
  return HYX_OK;
}

}  // namespace hsiwalk
