// Node look-ups over the generated tables, with module nodes fetched on
// demand.
#include "hyxsysinfo/hsiNodes.h"

#include <cstdlib>
#include <cstring>

#include "common/guard.h"
#include "hyxsysinfo/hsiCacheUser.h"
#include "hyxsysinfo/hsiCallsUser.h"
#include "hyxsysinfo/hsiModuleNodes.h"
#include "hyxsysinfo/hsiTables.h"

namespace {

constexpr uint32_t kNameBufferSize = 128;
// Deeper than any real tree; stops a looping parent chain from a module.
constexpr int kMaxDepth = 64;

bool IsModuleNode(HsiNodeID node) { return node >= HSI_MODULE_NODE_BASE; }

HYX_ReturnStatus GetModuleDef(HsiNodeID node, HsiModuleID module, const HsiNodeDef **def) {
  guard::Malloced<HsiNodeDef> record(static_cast<HsiNodeDef *>(calloc(1, sizeof(HsiNodeDef))));
  guard::Malloced<char> name(static_cast<char *>(calloc(1, kNameBufferSize)));
  if (!record || !name) return HYX_NO_MEMORY;
  HYX_ReturnStatus status = HsiModuleNode_GetDef(node, module, record.get(), name.get(), kNameBufferSize);
  if (status != HYX_OK) return status;
  name.get()[kNameBufferSize - 1] = '\0';
  char *copy = strdup(name.get());
  if (copy == nullptr) return HYX_NO_MEMORY;
  // The id is the one asked for whatever the reply says, so that the
  // record is always recognised (and freed) as a module node's.
  record->id = node;
  record->name = copy;
  record->getTypeDef = record->setInputTypeDef = record->setOutputTypeDef = nullptr;
  *def = record.release();
  return HYX_OK;
}

// The first child of a node; the module root's comes from the module.
HYX_ReturnStatus FirstChild(const HsiNodeDef *def, HsiModuleID module, HsiNodeID *child) {
  if (def->moduleRoot && module != 0) return HsiModuleNode_FirstChild(module, child);
  *child = def->firstChild;
  return HYX_OK;
}

// Calls visit(def) for each child of node in chain order until it returns
// false; every definition is released after its visit.
template <typename Visit>
HYX_ReturnStatus ForEachChild(HsiNodeID node, HsiModuleID module, bool refuseLeaf, Visit visit) {
  const HsiNodeDef *def;
  HYX_ReturnStatus status = HsiNode_GetDef(node, module, &def);
  if (status != HYX_OK) return status;
  HsiNodeID child = HSI_NO_NODE;
  if (refuseLeaf && def->leaf)
    status = HYX_BAD_PARAM;
  else
    status = FirstChild(def, module, &child);
  HsiNode_ReleaseDef(def);
  for (uint32_t steps = 0; status == HYX_OK && child != HSI_NO_NODE; steps++) {
    if (steps > HSI_MODULE_NODE_BASE + hsiTables.nodeCount) return HYX_FAILURE;  // a sibling loop
    if ((status = HsiNode_GetDef(child, module, &def)) != HYX_OK) break;
    bool more = visit(def);
    child = def->nextSibling;
    HsiNode_ReleaseDef(def);
    if (!more) break;
  }
  return status;
}

}  // namespace

HYX_ReturnStatus HsiNode_GetDef(HsiNodeID node, HsiModuleID module, const HsiNodeDef **def) {
  if (!def) return HYX_BAD_PARAM;
  *def = nullptr;
  if (IsModuleNode(node)) return GetModuleDef(node, module, def);
  if (node >= hsiTables.nodeCount) return HYX_BAD_PARAM;
  *def = &hsiTables.nodes[node];
  return HYX_OK;
}

void HsiNode_ReleaseDef(const HsiNodeDef *def) {
  if (!def || !IsModuleNode(def->id)) return;
  free(const_cast<char *>(def->name));
  free(const_cast<HsiNodeDef *>(def));
}

HYX_ReturnStatus HsiNode_GetChildCount(HsiNodeID node, HsiModuleID module, uint32_t *count) {
  if (!count) return HYX_BAD_PARAM;
  uint32_t n = 0;
  HYX_ReturnStatus status = ForEachChild(node, module, false, [&](const HsiNodeDef *) {
    n++;
    return true;
  });
  *count = status == HYX_OK ? n : 0;
  return status;
}

HYX_ReturnStatus HsiNode_GetChildren(HsiNodeID node, HsiModuleID module, HsiNodeID *ids, uint32_t max) {
  if (!ids && max) return HYX_BAD_PARAM;
  uint32_t n = 0;
  return ForEachChild(node, module, true, [&](const HsiNodeDef *child) {
    if (n < max) ids[n++] = child->id;
    return n < max;
  });
}

HYX_ReturnStatus HsiNode_FindChild(HsiNodeID node, HsiModuleID module, const char *name,
                                   const HsiNodeDef **def) {
  if (!name || !def) return HYX_BAD_PARAM;
  *def = nullptr;
  HsiNodeID found = HSI_NO_NODE;
  HYX_ReturnStatus status = ForEachChild(node, module, false, [&](const HsiNodeDef *child) {
    if (strcmp(child->name, name) == 0) found = child->id;
    return found == HSI_NO_NODE;
  });
  if (status != HYX_OK) return status;
  if (found == HSI_NO_NODE) return HYX_NOT_FOUND;
  return HsiNode_GetDef(found, module, def);
}

namespace {

HYX_ReturnStatus TypeOf(HsiNodeID node, HsiModuleID module, uint32_t index, const HsiTypeDef *table,
                        const HsiTypeDef **type) {
  if (!IsModuleNode(node)) {
    *type = table;
    return HYX_OK;
  }
  if (index == HSI_NO_TYPE) return HYX_OK;
  return HsiModuleNode_GetType(module, index, type);
}

}  // namespace

HYX_ReturnStatus HsiNode_GetType(HsiNodeID node, HsiModuleID module, uint32_t which,
                                 const HsiTypeDef **type) {
  if (!type || (which != HSI_TYPE_OF_GET && which != HSI_TYPE_OF_SET_OUTPUT)) return HYX_BAD_PARAM;
  *type = nullptr;
  // The cache records a module node's get-data type only.
  if (IsModuleNode(node) && Hsi_CacheEnabled()) {
    if (which != HSI_TYPE_OF_GET) return HYX_NOT_SUPPORTED;
    return HsiCache_GetNodeType(node, module, type);
  }
  const HsiNodeDef *def;
  HYX_ReturnStatus status = HsiNode_GetDef(node, module, &def);
  if (status != HYX_OK) return status;
  if (which == HSI_TYPE_OF_GET)
    status = TypeOf(node, module, def->getType, def->getTypeDef, type);
  else
    status = TypeOf(node, module, def->setOutputType, def->setOutputTypeDef, type);
  HsiNode_ReleaseDef(def);
  return status;
}

HYX_ReturnStatus HsiNode_GetInputType(HsiNodeID node, HsiModuleID module, const HsiTypeDef **type) {
  if (!type) return HYX_BAD_PARAM;
  *type = nullptr;
  if (IsModuleNode(node) && Hsi_CacheEnabled()) return HYX_NOT_SUPPORTED;
  const HsiNodeDef *def;
  HYX_ReturnStatus status = HsiNode_GetDef(node, module, &def);
  if (status != HYX_OK) return status;
  status = TypeOf(node, module, def->setInputType, def->setInputTypeDef, type);
  HsiNode_ReleaseDef(def);
  return status;
}

void HsiNode_ReleaseType(const HsiTypeDef *type) {
  const HsiTypeDef *table = hsiTables.types;
  if (!type || (type >= table && type < table + hsiTables.typeCount)) return;
  HsiModuleNode_FreeType(type);
}

bool HsiNode_IsValid(HsiNodeID node, HsiModuleID module) {
  if (!IsModuleNode(node)) return node < hsiTables.nodeCount;
  if (Hsi_CacheEnabled()) return HsiCache_NodeExists(node, module);
  uint32_t count = 0;
  return HsiModuleNode_Count(module, &count) == HYX_OK && node - HSI_MODULE_NODE_BASE < count;
}

char *HsiNode_GetIdentifierName(HsiNodeID node, HsiModuleID module) {
  const char *prefix = module ? "HSI_MODULE_NODE" : "HSI_NODE";
  const HsiNodeDef *chain[kMaxDepth];
  int depth = 0;
  guard::ScopeExit releaseChain([&] {
    while (depth > 0) HsiNode_ReleaseDef(chain[--depth]);
  });
  size_t length = strlen(prefix) + 1;
  // Collect the node and its ancestors up to the top of the tree (parent 0,
  // or HSI_MODULE_NODE_BASE for a module's tree).
  for (HsiNodeID at = node;; at = chain[depth - 1]->parent) {
    if (depth == kMaxDepth || HsiNode_GetDef(at, module, &chain[depth]) != HYX_OK) return nullptr;
    const HsiNodeDef *def = chain[depth++];
    length += strlen(def->name) + 1;
    if (def->parent == 0 || def->parent == HSI_MODULE_NODE_BASE) break;
    if (def->parent == HSI_NO_NODE) return nullptr;  // the root has no identifier
  }
  auto *text = static_cast<char *>(malloc(length));
  if (text == nullptr) return nullptr;
  char *out = stpcpy(text, prefix);
  for (int i = depth - 1; i >= 0; i--) out = stpcpy(stpcpy(out, "_"), chain[i]->name);
  return text;
}
