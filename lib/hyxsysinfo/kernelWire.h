// Every block the kernel reads from or writes into a caller's memory, laid
// out byte for byte.  The library builds them, the simulated kernel reads and
// answers them, the tests inspect them: all three use these declarations.
//
// Kept elsewhere because they are the library's own records as well:
// HsiNodeDef (hsiDefs.h; the kernel fills its first HSI_NODE_REPLY_SIZE
// bytes for a module node) and the spawn attribute and file-action records
// (the public header).
#pragma once

#include <cstddef>
#include <cstdint>

// ---- parameter lists ------------------------------------------------------
// The list record is the kernel's wire format: the kernel reads and writes it
// in place.

enum : uint32_t {
  HSI_PARAMLIST_VALUES = 0,    // plain value list
  HSI_PARAMLIST_INSTANCE = 1,  // instance list: keeps a total count
};

enum : uint32_t {
  HSI_PARAMLIST_FIXED = 1u << 0,     // the slot capacity never grows
  HSI_PARAMLIST_NO_SPILL = 1u << 1,  // strings that miss the data area are refused
};

enum : uint32_t {
  HSI_PARAM_EMPTY = 0,
  HSI_PARAM_INT = 1,
  HSI_PARAM_STRING = 2,
};

// One 32-byte slot.  For a string, value is the address of the buffer that
// holds it (the record's base for inline strings, a separate allocation for
// spilled ones) and offset locates its first byte in that buffer.
struct HsiParam {
  uint64_t value;
  uint64_t reserved;
  uint64_t offset;
  uint32_t length;  // string bytes with the NUL; 0 for integers
  uint32_t type;
};
static_assert(sizeof(HsiParam) == 32);
static_assert(offsetof(HsiParam, value) == 0 && offsetof(HsiParam, reserved) == 8 &&
              offsetof(HsiParam, offset) == 16 && offsetof(HsiParam, length) == 24 &&
              offsetof(HsiParam, type) == 28);

// The 64-byte record header; capacity slots follow it, then the data area.
struct HsiParamListRecord {
  uint32_t listType;
  uint32_t flags;
  uint32_t count;
  uint32_t totalCount;
  uint32_t capacity;
  uint32_t headerSize;  // 64 + 32 * capacity: where the data area starts
  uint32_t dataUsed;    // inline and spilled string bytes together
  uint32_t dataCapacity;
  uint64_t nextDataOffset;  // from the record start; 0 without a data area
  uint64_t base;            // the record's own address
  uint8_t reserved[16];
};
static_assert(sizeof(HsiParamListRecord) == 64);
static_assert(offsetof(HsiParamListRecord, listType) == 0 && offsetof(HsiParamListRecord, flags) == 4 &&
              offsetof(HsiParamListRecord, count) == 8 && offsetof(HsiParamListRecord, totalCount) == 12 &&
              offsetof(HsiParamListRecord, capacity) == 16 &&
              offsetof(HsiParamListRecord, headerSize) == 20 &&
              offsetof(HsiParamListRecord, dataUsed) == 24 &&
              offsetof(HsiParamListRecord, dataCapacity) == 28 &&
              offsetof(HsiParamListRecord, nextDataOffset) == 32 &&
              offsetof(HsiParamListRecord, base) == 40 && offsetof(HsiParamListRecord, reserved) == 48);

// The header size a record of `capacity` slots declares.
constexpr uint64_t HsiParamList_HeaderSize(uint64_t capacity) {
  return sizeof(HsiParamListRecord) + sizeof(HsiParam) * capacity;
}

// ---- node calls (KERNEL_CALL_HSI_GET to KERNEL_CALL_HSI_LIST) -------------
// Arguments: node, module id, node signature, parameter list, its wire size,
// and the call's block (a u32 length for KERNEL_CALL_HSI_GET_SIZE).

// The first word of a get or set block.
enum HsiCallKind : uint32_t {
  HSI_CALL_GET = 0,
  HSI_CALL_SET_PARAMS = 1,  // set input is a parameter list
  HSI_CALL_SET_BUFFER = 2,
  HSI_CALL_GET_SIZED = 3,  // {capacity, length, data} buffer
  HSI_CALL_SET_SIZED = 4,
};

struct __attribute__((packed)) HsiGetBlock {
  uint32_t kind;
  uint64_t address;
  uint32_t length;
};
static_assert(sizeof(HsiGetBlock) == 16 && offsetof(HsiGetBlock, address) == 4 &&
              offsetof(HsiGetBlock, length) == 12);

struct __attribute__((packed)) HsiSetBlock {
  uint32_t kind;
  uint64_t input;  // unaligned
  uint32_t inputLength;
  uint64_t output;
  uint32_t outputLength;
  uint32_t unused;
};
static_assert(sizeof(HsiSetBlock) == 32 && offsetof(HsiSetBlock, input) == 4 &&
              offsetof(HsiSetBlock, inputLength) == 12 && offsetof(HsiSetBlock, output) == 16 &&
              offsetof(HsiSetBlock, outputLength) == 24);

struct HsiListBlock {
  uint64_t record;
  uint32_t size;
  uint32_t unused;
};
static_assert(sizeof(HsiListBlock) == 16 && offsetof(HsiListBlock, size) == 8);

// A sized buffer's header: capacity, then the length the kernel fills, then
// capacity bytes.
struct HsiSizedHeader {
  uint32_t capacity;
  uint32_t length;
};
static_assert(sizeof(HsiSizedHeader) == 8 && offsetof(HsiSizedHeader, length) == 4);

// The reply of node 1 (sysInfoNodeHashes): the kernel's node signatures by
// its own node ids, then how many it filled.
constexpr uint32_t HSI_NODE_HASH_CAPACITY = 3000;
struct __attribute__((packed)) HsiNodeHashReply {
  uint64_t hashes[HSI_NODE_HASH_CAPACITY];
  uint32_t count;
};
static_assert(sizeof(HsiNodeHashReply) == 24004 && offsetof(HsiNodeHashReply, count) == 24000);

// ---- module calls (KERNEL_CALL_HSI_MODULE_TYPE to _FIELD) -----------------

// KERNEL_CALL_HSI_MODULE_TYPE's reply.
struct __attribute__((packed)) HsiModuleTypeReply {
  uint32_t kind;
  uint32_t size;
  uint32_t countOrElement;  // struct fields, enum values, or an array's element type id
  uint8_t bitFlags;
  uint8_t unused[3];
};
static_assert(sizeof(HsiModuleTypeReply) == 16 && offsetof(HsiModuleTypeReply, size) == 4 &&
              offsetof(HsiModuleTypeReply, countOrElement) == 8 &&
              offsetof(HsiModuleTypeReply, bitFlags) == 12);

// KERNEL_CALL_HSI_MODULE_TYPE's description buffer.
struct HsiModuleTypeText {
  uint64_t address;
  uint32_t size;
  uint32_t unused;
};
static_assert(sizeof(HsiModuleTypeText) == 16 && offsetof(HsiModuleTypeText, size) == 8);

// KERNEL_CALL_HSI_MODULE_ENUM_VALUE: the name goes to a buffer argument of
// its own, nameSize long.
struct __attribute__((packed)) HsiModuleEnumText {
  uint32_t nameSize;
  uint64_t description;
  uint32_t descriptionSize;
};
static_assert(sizeof(HsiModuleEnumText) == 16 && offsetof(HsiModuleEnumText, description) == 4 &&
              offsetof(HsiModuleEnumText, descriptionSize) == 12);

// KERNEL_CALL_HSI_MODULE_FIELD.
struct __attribute__((packed)) HsiModuleFieldText {
  uint64_t name;
  uint32_t nameSize;
  uint64_t description;
  uint32_t descriptionSize;
};
static_assert(sizeof(HsiModuleFieldText) == 24 && offsetof(HsiModuleFieldText, nameSize) == 8 &&
              offsetof(HsiModuleFieldText, description) == 12 &&
              offsetof(HsiModuleFieldText, descriptionSize) == 20);

// ---- process calls ---------------------------------------------------------

// KERNEL_CALL_FORK_EXEC's parameter block, read as packed bytes.
struct __attribute__((packed)) ForkExecParams {
  uint32_t fdCount;
  uint32_t extraA;
  uint32_t extraB;
  uint8_t flag;
  uint64_t pidAddress;
};
static_assert(sizeof(ForkExecParams) == 21);
static_assert(offsetof(ForkExecParams, extraA) == 4 && offsetof(ForkExecParams, extraB) == 8 &&
              offsetof(ForkExecParams, flag) == 12 && offsetof(ForkExecParams, pidAddress) == 13);

// The longest descriptor map KERNEL_CALL_FORK_EXEC takes.
constexpr uint32_t FORK_EXEC_MAX_DESCRIPTORS = 4096;

// ---- device-control requests -------------------------------------------------

// DEVICE_REQUEST_NVD_PASSTHROUGH's argument: a driver command, its words in
// the driver's order.  The driver leaves its result in resultHalf.
struct NvdPassthroughBlock {
  uint64_t pointer1;
  uint64_t pointer2;
  uint32_t word2;
  uint32_t word3;
  uint32_t word1;
  uint32_t word0;
  uint16_t resultHalf;
  uint16_t sentHalf;
  uint8_t zero;  // always 0
  uint8_t unused[3];
};
static_assert(sizeof(NvdPassthroughBlock) == 40);
static_assert(offsetof(NvdPassthroughBlock, pointer2) == 8 && offsetof(NvdPassthroughBlock, word2) == 16 &&
              offsetof(NvdPassthroughBlock, word3) == 20 && offsetof(NvdPassthroughBlock, word1) == 24 &&
              offsetof(NvdPassthroughBlock, word0) == 28 && offsetof(NvdPassthroughBlock, resultHalf) == 32 &&
              offsetof(NvdPassthroughBlock, sentHalf) == 34 && offsetof(NvdPassthroughBlock, zero) == 36);

// ---- HXFS file-system requests ------------------------------------------------

// IOCTLCMD_HXFS_FS_GET_ATTR: the file system fills a reply of this size on a
// descriptor opened inside a volume.  Only these fields are read or set.
constexpr size_t HXFS_ATTR_REPLY_SIZE = 5770;
constexpr size_t HXFS_ATTR_VOLUME_START = 1470;  // u64, unaligned: the volume's start on its device
constexpr size_t HXFS_ATTR_REQUEST = 1633;       // u64, unaligned: set to HXFS_ATTR_REQUEST_VALUE
constexpr size_t HXFS_ATTR_DEVICE_NAME = 1642;   // text: the volume's first device, a file name
constexpr uint64_t HXFS_ATTR_REQUEST_VALUE = 32;

// DEVICE_REQUEST_HXFS_LOCK_QUERY's block.
struct __attribute__((packed)) HxfsLockQuery {
  uint8_t flag;
  uint8_t flagAgain;
  uint64_t lockTime;  // in 0; out: microseconds of system uptime
  uint32_t status;    // in HYX_FAILURE; out: the file system's status
};
static_assert(sizeof(HxfsLockQuery) == 14 && offsetof(HxfsLockQuery, lockTime) == 2 &&
              offsetof(HxfsLockQuery, status) == 10);
