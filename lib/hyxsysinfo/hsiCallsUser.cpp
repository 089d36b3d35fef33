#include "hyxsysinfo/hsiCallsUser.h"

#include <cstddef>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "hyxsysinfo/hsiCacheUser.h"
#include "hyxsysinfo/hsiNodes.h"
#include "hyxsysinfo/hsiTables.h"
#include "hyxsysinfo/kernelCall.h"
#include "hyxsysinfo/kernelWire.h"
#include "misc/hashTable.h"
#include "misc/util.h"

namespace {

constexpr uint32_t kDefaultMaxListBytes = 0x2000000;
constexpr uint32_t kListHeaderBytes = 64;
constexpr uint32_t kSlotBytes = 32;
constexpr uint32_t kStringEntryBytes = 128;
constexpr uint32_t kMaxEntryBytes = 2048;
constexpr uint32_t kDefaultListCapacity = 10;

uint32_t hsiMaxListBytes = kDefaultMaxListBytes;
bool hsiCacheEnabled = false;

uint64_t Address(const void *p) { return reinterpret_cast<uintptr_t>(p); }

// The 64-bit signature of a node of the library's own table; 0 for others.
uint64_t NodeSignature(HsiNodeID node) {
  return node < hsiTables.nodeCount ? hsiTables.nodes[node].signature : 0;
}

// Prepared parameters of one call; frees the list it made.
struct Prepared {
  HsiModuleID module = 0;
  HsiParamList list = nullptr;
  bool owned = false;
  ~Prepared() {
    if (owned) HsiParamList_Free(list);
  }
};

HYX_ReturnStatus Prepare(HsiNodeID node, HsiParamList params, Prepared &p) {
  HYX_ReturnStatus status = Hsi_ResolveParams(node, params, &p.module, &p.list);
  p.owned = status == HYX_OK && p.list != params;
  return status;
}

// Issues one of the node calls (get, size, set, list) with the prepared list.
HYX_ReturnStatus NodeCall(uint32_t number, HsiNodeID node, const Prepared &p, const void *block) {
  return Kernel_Call(number, uint32_t{HsiNodeTranslation_Apply(node)}, int32_t{p.module}, NodeSignature(node),
                     static_cast<const void *>(HsiParamList_Record(p.list)), HsiParamList_WireSize(p.list),
                     block);
}

// The list to send, packed, for a list the caller gave (possibly null).
HsiParamList PackedOrEmpty(HsiParamList list, uint32_t emptyType, bool &owned) {
  owned = true;
  if (list == nullptr) return HsiParamList_Alloc(emptyType, 0);
  if (!HsiParamList_IsPacked(list)) return HsiParamList_Copy(list, 0);
  owned = false;
  return list;
}

HYX_ReturnStatus SetCall(HsiNodeID node, HsiParamList params, const HsiSetBlock &block) {
  Prepared p;
  HYX_ReturnStatus status = Prepare(node, params, p);
  if (status != HYX_OK) return status;
  if (hsiCacheEnabled) return HYX_NOT_SUPPORTED;
  return NodeCall(KERNEL_CALL_HSI_SET, node, p, &block);
}

// A sized get from the cache: the buffer with its header is the recorded
// value.  A recorded header that claims more room than the caller's buffer
// has is refused, and the caller's header put back.
HYX_ReturnStatus CachedSizedGet(HsiNodeID node, const Prepared &p, HsiSizedBuffer *buffer) {
  HsiSizedHeader asked = {};
  if (buffer != nullptr) asked = {buffer->capacity, buffer->length};
  HYX_ReturnStatus status = HsiCache_Get(node, p.module, p.list, buffer, HsiSizedBuffer_TotalSize(buffer));
  if (status == HYX_OK && buffer != nullptr &&
      (buffer->capacity != asked.capacity || buffer->length > asked.capacity)) {
    buffer->capacity = asked.capacity;
    buffer->length = asked.length;
    return HYX_READ_ERROR;
  }
  return status;
}

// The translation map: signature text -> the kernel's node index.
struct TranslationEntry {
  char key[64];
  uint32_t index;
};
static_assert(sizeof(TranslationEntry) == 68);

constexpr uint32_t kCompatSignatures = HSI_NODE_HASH_CAPACITY;
constexpr uint32_t kCompatDataSize = sizeof(HsiNodeHashReply);
constexpr uint32_t kTranslationBuckets = 4096;

HashTable *translationMap = nullptr;
bool translationReady = false;

void SignatureKey(uint64_t signature, char (&key)[64]) {
  snprintf(key, sizeof key, "%lu", static_cast<unsigned long>(signature));
}

}  // namespace

HsiSizedBuffer *HsiSizedBuffer_Alloc(uint32_t capacity, const void *data, uint32_t length) {
  if (length > capacity || (length != 0 && data == nullptr)) return nullptr;
  // Its total size (capacity and header) goes to the kernel as 32 bits.
  if (capacity > UINT32_MAX - sizeof(HsiSizedBuffer)) return nullptr;
  auto *buffer = static_cast<HsiSizedBuffer *>(calloc(1, size_t{capacity} + 8));
  if (buffer == nullptr) return nullptr;
  buffer->capacity = capacity;
  buffer->length = length;
  if (length) memcpy(buffer->data, data, length);
  return buffer;
}

HYX_ReturnStatus HsiSizedBuffer_Free(HsiSizedBuffer *buffer) {
  if (buffer == nullptr) return HYX_BAD_PARAM;
  free(buffer);
  return HYX_OK;
}

uint32_t HsiSizedBuffer_TotalSize(const HsiSizedBuffer *buffer) { return buffer ? buffer->capacity + 8 : 0; }

HYX_ReturnStatus Hsi_ResolveParams(HsiNodeID node, HsiParamList params, HsiModuleID *module,
                                   HsiParamList *toSend) {
  *module = 0;
  *toSend = nullptr;
  HsiParamList list = params;
  if (params == nullptr) {
    list = HsiParamList_Alloc(HSI_PARAMLIST_INSTANCE, 0);
  } else if (node >= HSI_MODULE_NODE_BASE) {
    if (HsiParamList_Count(params) == 0) return HYX_BAD_PARAM_COUNT;
    const char *moduleName = nullptr;
    HYX_ReturnStatus status = HsiParamList_GetString(params, 0, &moduleName);
    if (status == HYX_OK) status = Hsi_GetModuleID(moduleName, module);
    if (status != HYX_OK) return status;
    list = HsiParamList_Copy(params, 1);
  }
  if (list != nullptr && !HsiParamList_IsPacked(list)) {
    HsiParamList packed = HsiParamList_Copy(list, 0);
    if (list != params) HsiParamList_Free(list);
    list = packed;
  }
  if (list == nullptr) return HYX_NO_MEMORY;
  *toSend = list;
  return HYX_OK;
}

HYX_ReturnStatus Hsi_Get(HsiNodeID node, HsiParamList params, void *buffer, uint32_t length) {
  bool answered;
  return Hsi_GetAnswered(node, params, buffer, length, &answered);
}

HYX_ReturnStatus Hsi_GetAnswered(HsiNodeID node, HsiParamList params, void *buffer, uint32_t length,
                                 bool *answered) {
  *answered = false;
  if (buffer == nullptr && length != 0) return HYX_BAD_PARAM;
  Prepared p;
  HYX_ReturnStatus status = Prepare(node, params, p);
  if (status != HYX_OK) return status;
  *answered = true;
  if (hsiCacheEnabled) return HsiCache_Get(node, p.module, p.list, buffer, length);
  HsiGetBlock block = {HSI_CALL_GET, Address(buffer), length};
  return NodeCall(KERNEL_CALL_HSI_GET, node, p, &block);
}

HYX_ReturnStatus Hsi_GetSized(HsiNodeID node, HsiParamList params, HsiSizedBuffer *buffer) {
  Prepared p;
  HYX_ReturnStatus status = Prepare(node, params, p);
  if (status != HYX_OK) return status;
  if (hsiCacheEnabled) return CachedSizedGet(node, p, buffer);
  HsiGetBlock block = {HSI_CALL_GET_SIZED, Address(buffer), HsiSizedBuffer_TotalSize(buffer)};
  return NodeCall(KERNEL_CALL_HSI_GET, node, p, &block);
}

HYX_ReturnStatus Hsi_GetSize(HsiNodeID node, HsiParamList params, uint32_t *length) {
  if (length == nullptr) return HYX_BAD_PARAM;
  Prepared p;
  HYX_ReturnStatus status = Prepare(node, params, p);
  if (status != HYX_OK) return status;
  if (hsiCacheEnabled) return HYX_NOT_SUPPORTED;
  return NodeCall(KERNEL_CALL_HSI_GET_SIZE, node, p, length);
}

HYX_ReturnStatus Hsi_Set(HsiNodeID node, HsiParamList params, const void *input, uint32_t inputLength,
                         void *output, uint32_t outputLength) {
  if (input == nullptr || (output == nullptr && outputLength != 0)) return HYX_BAD_PARAM;
  return SetCall(node, params,
                 {HSI_CALL_SET_BUFFER, Address(input), inputLength, Address(output), outputLength, 0});
}

HYX_ReturnStatus Hsi_SetWithParams(HsiNodeID node, HsiParamList params, HsiParamList input, void *output,
                                   uint32_t outputLength) {
  if (output == nullptr && outputLength != 0) return HYX_BAD_PARAM;
  bool owned;
  HsiParamList sent = PackedOrEmpty(input, HSI_PARAMLIST_VALUES, owned);
  if (sent == nullptr) return HYX_NO_MEMORY;
  HYX_ReturnStatus status = SetCall(node, params,
                                    {HSI_CALL_SET_PARAMS, Address(HsiParamList_Record(sent)),
                                     HsiParamList_WireSize(sent), Address(output), outputLength, 0});
  if (owned) HsiParamList_Free(sent);
  return status;
}

HYX_ReturnStatus Hsi_SetSized(HsiNodeID node, HsiParamList params, const HsiSizedBuffer *input,
                              HsiSizedBuffer *output) {
  if (input == nullptr) return HYX_BAD_PARAM;
  Prepared p;
  HYX_ReturnStatus status = Prepare(node, params, p);
  if (status != HYX_OK) return status;
  if (hsiCacheEnabled) return HYX_NOT_SUPPORTED;
  if (!p.owned && HsiParamList_Count(p.list) > 0) {
    // Sized sets always carry a list of their own.
    p.list = HsiParamList_Copy(params, 0);
    if (p.list == nullptr) return HYX_NO_MEMORY;
    p.owned = true;
  }
  HsiSetBlock block = {HSI_CALL_SET_SIZED,
                       Address(input),
                       HsiSizedBuffer_TotalSize(input),
                       Address(output),
                       HsiSizedBuffer_TotalSize(output),
                       0};
  return NodeCall(KERNEL_CALL_HSI_SET, node, p, &block);
}

namespace {

// One list call into out; *answered is set when the status is the kernel's
// answer (or the cache's in its place) rather than the library's own.
HYX_ReturnStatus ListInto(HsiNodeID node, HsiParamList params, HsiParamList out, bool *answered) {
  *answered = false;
  if (out == nullptr) return HYX_BAD_PARAM;
  Prepared p;
  HYX_ReturnStatus status = Prepare(node, params, p);
  if (status != HYX_OK) return status;
  *answered = true;
  if (hsiCacheEnabled) return HsiCache_GetInstanceList(node, p.module, p.list, out);
  HsiListBlock block = {Address(HsiParamList_Record(out)), HsiParamList_BufferSize(out), 0};
  const HsiParamListRecord sent = *HsiParamList_Record(out);
  status = NodeCall(KERNEL_CALL_HSI_LIST, node, p, &block);
  // Whatever the status, the kernel may have written into the record: check
  // it before anything reads or frees what it says.
  bool sane = HsiParamList_AcceptFilled(out, sent);
  if (status != HYX_OK) return status;
  if (!sane) return HYX_READ_ERROR;
  return HsiParamList_TotalCount(out) > HsiParamList_Capacity(out) ? HYX_HSI_LIST_OVERFLOW : HYX_OK;
}

}  // namespace

HYX_ReturnStatus Hsi_GetListInto(HsiNodeID node, HsiParamList params, HsiParamList out) {
  bool answered;
  return ListInto(node, params, out, &answered);
}

namespace {

// Bytes per instance value in a list's data area: integer keys need none.
HYX_ReturnStatus EntryBytes(HsiNodeID node, HsiParamList params, uint32_t *bytes) {
  HsiModuleID module = 0;
  if (node >= HSI_MODULE_NODE_BASE) {
    if (HsiParamList_Count(params) == 0) return HYX_BAD_PARAM_COUNT;
    const char *moduleName = nullptr;
    HYX_ReturnStatus status = HsiParamList_GetString(params, 0, &moduleName);
    if (status == HYX_OK) status = Hsi_GetModuleID(moduleName, &module);
    if (status != HYX_OK) return status;
  }
  const HsiNodeDef *def = nullptr;
  HYX_ReturnStatus status = HsiNode_GetDef(node, module, &def);
  if (status != HYX_OK) return status;
  *bytes = def->instance && def->integerKey ? 0 : kStringEntryBytes;
  HsiNode_ReleaseDef(def);
  return HYX_OK;
}

uint64_t ListBytes(uint64_t capacity, uint64_t entryBytes) {
  return kListHeaderBytes + kSlotBytes * capacity + capacity * entryBytes;
}

// The next attempt's size after a failed one, fitted under hsiMaxListBytes;
// false when it cannot grow or would not change.  Sizes are 64-bit so that
// a count the kernel reported cannot wrap them.
bool NextListSize(uint64_t tried, uint32_t triedBytes, uint64_t &capacity, uint64_t fallback,
                  uint32_t &bytes) {
  while (ListBytes(capacity, 0) > hsiMaxListBytes) {
    if (capacity <= fallback) return false;
    capacity = fallback;
  }
  if (capacity != 0 && ListBytes(capacity, bytes) > hsiMaxListBytes)
    bytes = static_cast<uint32_t>((hsiMaxListBytes - ListBytes(capacity, 0)) / capacity);
  return ListBytes(capacity, bytes) != ListBytes(tried, triedBytes);
}

// An empty instance list of capacity slots with bytes of data per slot, or
// null when memory is short; *fits is false when no record can be that big.
HsiParamList NewListAttempt(uint64_t capacity, uint32_t bytes, bool *fits) {
  *fits = capacity <= UINT32_MAX && ListBytes(capacity, bytes) <= UINT32_MAX;
  if (!*fits) return nullptr;
  return HsiParamList_AllocSized(HSI_PARAMLIST_INSTANCE, static_cast<uint32_t>(capacity),
                                 static_cast<uint32_t>(capacity * bytes), 0);
}

}  // namespace

HYX_ReturnStatus Hsi_GetList(HsiNodeID node, HsiParamList params, uint32_t firstCapacity, HsiParamList *out) {
  bool answered;
  return Hsi_GetListAnswered(node, params, firstCapacity, out, &answered);
}

HYX_ReturnStatus Hsi_GetListAnswered(HsiNodeID node, HsiParamList params, uint32_t firstCapacity,
                                     HsiParamList *out, bool *answered) {
  *answered = false;
  if (out == nullptr) return HYX_BAD_PARAM;
  *out = nullptr;
  uint64_t capacity = firstCapacity ? firstCapacity : kDefaultListCapacity;
  uint32_t bytes = 0;
  HYX_ReturnStatus status = EntryBytes(node, params, &bytes);
  if (status != HYX_OK) return status;
  for (;;) {
    *answered = false;
    bool fits;
    HsiParamList list = NewListAttempt(capacity, bytes, &fits);
    if (!fits) return HYX_LIMIT_EXCEEDED;
    if (list == nullptr) return HYX_NO_MEMORY;
    status = ListInto(node, params, list, answered);
    if (status == HYX_OK) {
      *out = list;
      return HYX_OK;
    }
    uint64_t tried = capacity, fallback;
    uint32_t triedBytes = bytes;
    if (status == HYX_HSI_LIST_OVERFLOW) {
      uint64_t n = HsiParamList_TotalCount(list);
      capacity = n > 99 ? n + n / 20 : n + 5;
      fallback = n;
    } else if (status == HYX_NO_MEMORY_RETRY && bytes < kMaxEntryBytes) {
      bytes = bytes * 2 < kMaxEntryBytes ? bytes * 2 : kMaxEntryBytes;
      fallback = capacity;
    } else {
      HsiParamList_Free(list);
      return status == HYX_NO_MEMORY_RETRY ? static_cast<HYX_ReturnStatus>(HYX_LIMIT_EXCEEDED) : status;
    }
    HsiParamList_Free(list);
    if (!NextListSize(tried, triedBytes, capacity, fallback, bytes)) return HYX_LIMIT_EXCEEDED;
  }
}

HYX_ReturnStatus Hsi_GetModuleID(const char *name, HsiModuleID *id) {
  if (name == nullptr || id == nullptr) return HYX_BAD_PARAM;
  *id = -1;
  if (hsiCacheEnabled) return HsiCache_GetModuleID(name, id);
  return Kernel_Call(KERNEL_CALL_HSI_MODULE_ID, static_cast<const void *>(name),
                     static_cast<const void *>(id));
}

HYX_ReturnStatus Hsi_EnableCache(const char *path, int32_t verbosity) {
  HYX_ReturnStatus status = HsiCache_Init(path, verbosity);
  if (status == HYX_OK) hsiCacheEnabled = true;
  return status;
}

void Hsi_DisableCache() {
  HsiCache_Cleanup();
  hsiCacheEnabled = false;
}

bool Hsi_CacheEnabled() { return hsiCacheEnabled; }

void Hsi_SetMaxListBytes(uint32_t value) {
  if (value >= 1 && value <= 0x1FFFFFF) hsiMaxListBytes = value;
}

uint32_t Hsi_MaxListBytes() { return hsiMaxListBytes; }

bool HsiNodeTranslation_Build() {
  VERIFY(hsiTables.nodeCount < kCompatSignatures);
  if (translationMap != nullptr) return true;
  auto *compat = static_cast<uint8_t *>(calloc(1, kCompatDataSize));
  if (compat == nullptr) return false;
  if (Hsi_Get(HSI_NODE_sysInfoNodeHashes, nullptr, compat, kCompatDataSize) != HYX_OK) {
    free(compat);
    return false;
  }
  uint32_t numNodes;
  memcpy(&numNodes, compat + offsetof(HsiNodeHashReply, count), sizeof numNodes);
  if (numNodes > kCompatSignatures) numNodes = kCompatSignatures;  // the reply holds no more
  HashTable *map = HashTable_Alloc(kTranslationBuckets, HASH_KEY_ISTRING, free);
  for (uint32_t i = 0; i < numNodes; i++) {
    auto *entry = static_cast<TranslationEntry *>(malloc(sizeof(TranslationEntry)));
    if (entry == nullptr) {
      HashTable_Free(map);
      free(compat);
      return false;
    }
    uint64_t signature;
    memcpy(&signature, compat + offsetof(HsiNodeHashReply, hashes) + size_t{i} * sizeof signature,
           sizeof signature);
    SignatureKey(signature, entry->key);
    entry->index = i;
    if (!HashTable_Insert(map, entry->key, entry)) free(entry);  // a repeated signature keeps its first index
  }
  free(compat);
  translationMap = map;
  translationReady = true;
  return true;
}

HsiNodeID HsiNodeTranslation_Apply(HsiNodeID node) {
  if (!translationReady || node >= HSI_MODULE_NODE_BASE) return node;
  char key[64];
  SignatureKey(NodeSignature(node), key);
  void *found = nullptr;
  if (HashTable_Lookup(translationMap, key, &found)) return static_cast<TranslationEntry *>(found)->index;
  return node;
}
