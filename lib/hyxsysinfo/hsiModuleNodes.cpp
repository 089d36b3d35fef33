// Module-node definitions.  Until the kernel-call layer answers them, every
// module look-up reports HYX_NOT_SUPPORTED; static nodes do not need this.
#include "hyxsysinfo/hsiModuleNodes.h"

HYX_ReturnStatus HsiModuleNode_Count(HsiModuleID, uint32_t *count) {
  if (count) *count = 0;
  return HYX_NOT_SUPPORTED;
}

HYX_ReturnStatus HsiModuleNode_FirstChild(HsiModuleID, HsiNodeID *node) {
  if (node) *node = HSI_NO_NODE;
  return HYX_NOT_SUPPORTED;
}

HYX_ReturnStatus HsiModuleNode_GetDef(HsiNodeID, HsiModuleID, HsiNodeDef *, char *, uint32_t) {
  return HYX_NOT_SUPPORTED;
}

HYX_ReturnStatus HsiModuleNode_GetType(HsiModuleID, uint32_t, const HsiTypeDef **type) {
  if (type) *type = nullptr;
  return HYX_NOT_SUPPORTED;
}

void HsiModuleNode_FreeType(const HsiTypeDef *) {}
