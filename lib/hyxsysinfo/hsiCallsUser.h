// System-information calls: read, write and list the kernel's HSI nodes
// (the HSI node calls and the module id look-up), with module-node resolution, node
// translation and list sizing.
#pragma once

#include <cstdint>

#include "hyxsysinfo/hsiDefs.h"
#include "hyxsysinfo/hsiParams.h"
#include "hyxuser/hyxuser.h"

// A variable-length value: capacity, length, then capacity bytes.
struct HsiSizedBuffer {
  uint32_t capacity;
  uint32_t length;
  uint8_t data[];
};

// Null when length > capacity, length is non-zero without data, or the
// total size (capacity + 8) does not fit 32 bits.
HsiSizedBuffer *HsiSizedBuffer_Alloc(uint32_t capacity, const void *data, uint32_t length);
HYX_ReturnStatus HsiSizedBuffer_Free(HsiSizedBuffer *buffer);
uint32_t HsiSizedBuffer_TotalSize(const HsiSizedBuffer *buffer);  // capacity + 8; 0 for null

// The module id and the list that go to the kernel for (node, params).
// *toSend is params itself or a list the caller frees with HsiParamList_Free.
HYX_ReturnStatus Hsi_ResolveParams(HsiNodeID node, HsiParamList params, HsiModuleID *module,
                                   HsiParamList *toSend);

HYX_ReturnStatus Hsi_Get(HsiNodeID node, HsiParamList params, void *buffer, uint32_t length);
// As Hsi_Get; *answered tells a failure the kernel answered (or the cache
// in its place) from one of the library's own, such as memory running out
// for the parameters it sends.
HYX_ReturnStatus Hsi_GetAnswered(HsiNodeID node, HsiParamList params, void *buffer, uint32_t length,
                                 bool *answered);
HYX_ReturnStatus Hsi_GetSized(HsiNodeID node, HsiParamList params, HsiSizedBuffer *buffer);
HYX_ReturnStatus Hsi_GetSize(HsiNodeID node, HsiParamList params, uint32_t *length);
HYX_ReturnStatus Hsi_Set(HsiNodeID node, HsiParamList params, const void *input, uint32_t inputLength,
                         void *output, uint32_t outputLength);
HYX_ReturnStatus Hsi_SetWithParams(HsiNodeID node, HsiParamList params, HsiParamList input, void *output,
                                   uint32_t outputLength);
HYX_ReturnStatus Hsi_SetSized(HsiNodeID node, HsiParamList params, const HsiSizedBuffer *input,
                              HsiSizedBuffer *output);
// Lists node's instances into out, an instance list the caller made;
// HYX_HSI_LIST_OVERFLOW when the kernel had more than out has slots.
HYX_ReturnStatus Hsi_GetListInto(HsiNodeID node, HsiParamList params, HsiParamList out);
// Lists node's instances into a list it sizes (and resizes) itself; the
// caller frees *out with HsiParamList_Free.  firstCapacity 0 means 10.
HYX_ReturnStatus Hsi_GetList(HsiNodeID node, HsiParamList params, uint32_t firstCapacity, HsiParamList *out);
// As Hsi_GetList; *answered tells a failure the kernel answered (or the
// cache in its place) from one of the library's own, such as memory
// running out for the list.
HYX_ReturnStatus Hsi_GetListAnswered(HsiNodeID node, HsiParamList params, uint32_t firstCapacity,
                                     HsiParamList *out, bool *answered);
HYX_ReturnStatus Hsi_GetModuleID(const char *name, HsiModuleID *id);

// Bound on the bytes of one list buffer; values outside 1..0x1FFFFFF are
// ignored.
void Hsi_SetMaxListBytes(uint32_t value);
uint32_t Hsi_MaxListBytes();

// The information cache (hsiCacheUser.h) in place of the kernel.  While it
// is on, gets, lists, module ids and module-node look-ups answer from the
// snapshot with no node translation, and sets and size queries give
// HYX_NOT_SUPPORTED.  It is on only after Hsi_EnableCache succeeded;
// switching must not race the calls.
HYX_ReturnStatus Hsi_EnableCache(const char *path, int32_t verbosity);
void Hsi_DisableCache();
bool Hsi_CacheEnabled();

// Node translation, for a kernel whose node numbering differs: built at most
// once from the kernel's node signatures (node 1).
bool HsiNodeTranslation_Build();
HsiNodeID HsiNodeTranslation_Apply(HsiNodeID node);
