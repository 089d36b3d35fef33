// Look-ups in the node tree: static nodes come from the generated tables,
// module nodes (ids from HSI_MODULE_NODE_BASE) from hsiModuleNodes.
#pragma once

#include <cstdint>

#include "hyxsysinfo/hsiDefs.h"
#include "hyxuser/hyxuser.h"

// The definition of node.  A static node's row is returned in place; a
// module node's record and name are allocated and must go back through
// HsiNode_ReleaseDef.
HYX_ReturnStatus HsiNode_GetDef(HsiNodeID node, HsiModuleID module, const HsiNodeDef **def);
void HsiNode_ReleaseDef(const HsiNodeDef *def);

HYX_ReturnStatus HsiNode_GetChildCount(HsiNodeID node, HsiModuleID module, uint32_t *count);
// Up to max child ids, highest first; HYX_BAD_PARAM for a leaf.
HYX_ReturnStatus HsiNode_GetChildren(HsiNodeID node, HsiModuleID module, HsiNodeID *ids, uint32_t max);
// The child named name (exact compare); HYX_NOT_FOUND when there is none.
// The definition is released with HsiNode_ReleaseDef.
HYX_ReturnStatus HsiNode_FindChild(HsiNodeID node, HsiModuleID module, const char *name,
                                   const HsiNodeDef **def);

enum : uint32_t { HSI_TYPE_OF_GET = 0, HSI_TYPE_OF_SET_OUTPUT = 1 };
// The descriptor of the get data or the set output (null when there is
// none); for a module node a rebuilt tree released with HsiNode_ReleaseType.
HYX_ReturnStatus HsiNode_GetType(HsiNodeID node, HsiModuleID module, uint32_t which, const HsiTypeDef **type);
HYX_ReturnStatus HsiNode_GetInputType(HsiNodeID node, HsiModuleID module, const HsiTypeDef **type);
// Frees a rebuilt descriptor tree; descriptors of the static table stay.
void HsiNode_ReleaseType(const HsiTypeDef *type);

bool HsiNode_IsValid(HsiNodeID node, HsiModuleID module);
// "HSI_NODE_<path>" (module 0) or "HSI_MODULE_NODE_<path>", allocated with
// malloc; null on failure and for the root, which has no identifier.
char *HsiNode_GetIdentifierName(HsiNodeID node, HsiModuleID module);
