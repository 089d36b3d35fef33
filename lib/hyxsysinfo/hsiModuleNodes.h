// Module nodes: the parts of the node tree that kernel modules define at
// run time (ids from HSI_MODULE_NODE_BASE).  Their definitions come from
// the kernel (the module calls of kernelCall.h) or, when it is active, the information
// cache; the node look-ups reach them only through these functions.
#pragma once

#include <cstdint>

#include "hyxsysinfo/hsiDefs.h"
#include "hyxuser/hyxuser.h"

// Number of nodes module defines (KERNEL_CALL_HSI_MODULE_NODE_COUNT).
HYX_ReturnStatus HsiModuleNode_Count(HsiModuleID module, uint32_t *count);
// The top node of module's tree, the first child of the module root (KERNEL_CALL_HSI_MODULE_FIRST_NODE).
HYX_ReturnStatus HsiModuleNode_FirstChild(HsiModuleID module, HsiNodeID *node);
// The first HSI_NODE_REPLY_SIZE bytes of node's record and its name, NUL
// terminated within nameSize bytes (KERNEL_CALL_HSI_MODULE_NODE_DEF).
HYX_ReturnStatus HsiModuleNode_GetDef(HsiNodeID node, HsiModuleID module, HsiNodeDef *reply, char *name,
                                      uint32_t nameSize);
// A type descriptor tree rebuilt from KERNEL_CALL_HSI_MODULE_TYPE, _ENUM_VALUE and _FIELD; released with
// HsiModuleNode_FreeType.
HYX_ReturnStatus HsiModuleNode_GetType(HsiModuleID module, uint32_t typeIndex, const HsiTypeDef **type);
// Frees a built descriptor tree: each descriptor is one allocation with its
// own texts; field and value arrays, their texts and element and field
// types are allocations of their own.  The cache's type copies share this
// layout.
void HsiModuleNode_FreeType(const HsiTypeDef *type);
