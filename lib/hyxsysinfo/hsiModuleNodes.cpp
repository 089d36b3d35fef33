// Module-node definitions, asked of the kernel (the module calls), or of
// the information cache while it is on.
#include "hyxsysinfo/hsiModuleNodes.h"

#include <cstdlib>
#include <cstring>

#include "hyxsysinfo/hsiCacheUser.h"
#include "hyxsysinfo/hsiCallsUser.h"
#include "hyxsysinfo/kernelCall.h"
#include "hyxsysinfo/kernelWire.h"

namespace {

constexpr uint32_t kTextSize = 128;

// A rebuilt type owns its texts and its field or value array.
struct RebuiltType {
  HsiTypeDef def;
  char name[kTextSize];
  char description[kTextSize];
};

char *CopyText(const char *text) {
  size_t length = strnlen(text, kTextSize - 1);
  char *copy = static_cast<char *>(malloc(length + 1));
  if (copy) {
    memcpy(copy, text, length);
    copy[length] = '\0';
  }
  return copy;
}

HYX_ReturnStatus RebuildType(HsiModuleID module, uint32_t typeId, const HsiTypeDef **out, int depth);

HYX_ReturnStatus RebuildFields(HsiModuleID module, uint32_t typeId, RebuiltType *type, int depth) {
  uint64_t count = type->def.a.count;
  auto *fields = static_cast<HsiFieldDef *>(calloc(count ? count : 1, sizeof(HsiFieldDef)));
  if (fields == nullptr) return HYX_NO_MEMORY;
  type->def.b.fields = fields;
  for (uint32_t i = 0; i < count; i++) {
    char name[kTextSize] = {}, description[kTextSize] = {};
    HsiModuleFieldText texts = {reinterpret_cast<uintptr_t>(name), kTextSize,
                                reinterpret_cast<uintptr_t>(description), kTextSize};
    uint32_t fieldType = 0, offset = 0;
    HYX_ReturnStatus status =
        Kernel_Call(KERNEL_CALL_HSI_MODULE_FIELD, int32_t{module}, typeId, i, static_cast<void *>(&fieldType),
                    static_cast<void *>(&offset), static_cast<void *>(&texts));
    if (status == HYX_OK) status = RebuildType(module, fieldType, &fields[i].type, depth + 1);
    if (status != HYX_OK) return status;
    fields[i].typeIndex = fieldType;
    fields[i].offset = offset;
    fields[i].name = CopyText(name);
    fields[i].description = CopyText(description);
    if (!fields[i].name || !fields[i].description) return HYX_NO_MEMORY;
  }
  return HYX_OK;
}

HYX_ReturnStatus RebuildValues(HsiModuleID module, uint32_t typeId, RebuiltType *type) {
  uint64_t count = type->def.a.count;
  auto *values = static_cast<HsiEnumValueDef *>(calloc(count ? count : 1, sizeof(HsiEnumValueDef)));
  if (values == nullptr) return HYX_NO_MEMORY;
  type->def.b.values = values;
  for (uint32_t i = 0; i < count; i++) {
    char name[kTextSize] = {}, description[kTextSize] = {};
    HsiModuleEnumText texts = {kTextSize, reinterpret_cast<uintptr_t>(description), kTextSize};
    HYX_ReturnStatus status = Kernel_Call(KERNEL_CALL_HSI_MODULE_ENUM_VALUE, int32_t{module}, typeId, i,
                                          static_cast<void *>(&values[i].value), static_cast<void *>(name),
                                          static_cast<void *>(&texts));
    if (status != HYX_OK) return status;
    values[i].name = CopyText(name);
    values[i].description = CopyText(description);
    if (!values[i].name || !values[i].description) return HYX_NO_MEMORY;
  }
  return HYX_OK;
}

// Types nest; a kernel that describes a type as containing itself is cut off.
constexpr int kMaxTypeDepth = 32;

HYX_ReturnStatus RebuildType(HsiModuleID module, uint32_t typeId, const HsiTypeDef **out, int depth) {
  *out = nullptr;
  if (depth > kMaxTypeDepth) return HYX_LIMIT_EXCEEDED;
  auto *type = static_cast<RebuiltType *>(calloc(1, sizeof(RebuiltType)));
  if (type == nullptr) return HYX_NO_MEMORY;
  HsiModuleTypeReply reply = {};
  HsiModuleTypeText description = {reinterpret_cast<uintptr_t>(type->description), kTextSize, 0};
  HYX_ReturnStatus status =
      Kernel_Call(KERNEL_CALL_HSI_MODULE_TYPE, int32_t{module}, typeId, static_cast<void *>(&reply),
                  static_cast<void *>(type->name), kTextSize, static_cast<void *>(&description));
  type->name[kTextSize - 1] = type->description[kTextSize - 1] = '\0';
  type->def.name = type->name;
  type->def.kind = reply.kind;
  type->def.size = reply.size;
  type->def.format = reply.kind == HSI_TYPE_ARRAY ? nullptr : type->description;
  if (status == HYX_OK) {
    if (reply.kind == HSI_TYPE_STRUCT) {
      type->def.a.count = reply.countOrElement;
      status = RebuildFields(module, typeId, type, depth);
    } else if (reply.kind == HSI_TYPE_ENUM) {
      type->def.a.count = reply.countOrElement;
      type->def.bitFlags = reply.bitFlags;
      status = RebuildValues(module, typeId, type);
    } else if (reply.kind == HSI_TYPE_ARRAY) {
      type->def.b.elementIndex = reply.countOrElement;
      status = RebuildType(module, reply.countOrElement, &type->def.a.element, depth + 1);
    }
  }
  if (status != HYX_OK) {
    HsiModuleNode_FreeType(&type->def);
    return status;
  }
  *out = &type->def;
  return HYX_OK;
}

}  // namespace

HYX_ReturnStatus HsiModuleNode_Count(HsiModuleID module, uint32_t *count) {
  if (count == nullptr) return HYX_BAD_PARAM;
  *count = 0;
  if (Hsi_CacheEnabled()) return HYX_NOT_SUPPORTED;  // validity asks the cache itself (HsiNode_IsValid)
  return Kernel_Call(KERNEL_CALL_HSI_MODULE_NODE_COUNT, int32_t{module}, static_cast<void *>(count));
}

HYX_ReturnStatus HsiModuleNode_FirstChild(HsiModuleID module, HsiNodeID *node) {
  if (node == nullptr) return HYX_BAD_PARAM;
  *node = HSI_NO_NODE;
  if (Hsi_CacheEnabled()) return HsiCache_GetModuleRootChild(module, node);
  return Kernel_Call(KERNEL_CALL_HSI_MODULE_FIRST_NODE, int32_t{module}, static_cast<void *>(node));
}

HYX_ReturnStatus HsiModuleNode_GetDef(HsiNodeID node, HsiModuleID module, HsiNodeDef *reply, char *name,
                                      uint32_t nameSize) {
  if (reply == nullptr || name == nullptr || nameSize == 0) return HYX_BAD_PARAM;
  memset(name, 0, nameSize);
  HYX_ReturnStatus status =
      Hsi_CacheEnabled() ? HsiCache_GetNodeDef(node, module, reply, name, nameSize)
                         : Kernel_Call(KERNEL_CALL_HSI_MODULE_NODE_DEF, node, int32_t{module},
                                       static_cast<void *>(reply), static_cast<void *>(name), nameSize);
  name[nameSize - 1] = '\0';
  return status;
}

HYX_ReturnStatus HsiModuleNode_GetType(HsiModuleID module, uint32_t typeIndex, const HsiTypeDef **type) {
  if (type == nullptr) return HYX_BAD_PARAM;
  *type = nullptr;
  if (Hsi_CacheEnabled()) return HYX_NOT_SUPPORTED;  // the cache keeps types by node (HsiNode_GetType)
  return RebuildType(module, typeIndex, type, 0);
}

void HsiModuleNode_FreeType(const HsiTypeDef *type) {
  if (type == nullptr) return;
  auto *rebuilt = reinterpret_cast<RebuiltType *>(const_cast<HsiTypeDef *>(type));
  if (type->kind == HSI_TYPE_STRUCT && type->b.fields) {
    for (uint64_t i = 0; i < type->a.count; i++) {
      HsiModuleNode_FreeType(type->b.fields[i].type);
      free(const_cast<char *>(type->b.fields[i].name));
      free(const_cast<char *>(type->b.fields[i].description));
    }
    free(const_cast<HsiFieldDef *>(type->b.fields));
  } else if (type->kind == HSI_TYPE_ENUM && type->b.values) {
    for (uint64_t i = 0; i < type->a.count; i++) {
      free(const_cast<char *>(type->b.values[i].name));
      free(const_cast<char *>(type->b.values[i].description));
    }
    free(const_cast<HsiEnumValueDef *>(type->b.values));
  } else if (type->kind == HSI_TYPE_ARRAY) {
    HsiModuleNode_FreeType(type->a.element);
  }
  free(rebuilt);
}
