// The system-information cache file: a snapshot of one host's HSI tree (node
// definitions, recorded get results and recorded list results, each keyed by
// the instance arguments it was recorded with).  The library reads it, the
// snapshot writer writes it, the simulated kernel can serve from it: all use
// these declarations.
//
// Every integer is little-endian; every offset is a u32 byte offset from the
// start of the file (0 = none).  Records carry no alignment, so they are
// read and written with memcpy.
//
// Layout: a chain of blocks from offset 0, each starting with a u32 header
// word (bits 31..1: the block's length with the header word; bit 0: set on
// the last block), then the 66-byte trailer, which ends the file.  Every
// record lies inside the blocks and is reached only through offsets.
#pragma once

#include <cstddef>
#include <cstdint>

constexpr uint32_t HSI_CACHE_LAST_BLOCK = 1;  // bit 0 of a block header word

inline constexpr uint32_t HsiCacheBlockLength(uint32_t header) { return header & ~HSI_CACHE_LAST_BLOCK; }

constexpr size_t HSI_CACHE_BUILD_SIZE = 21;
constexpr size_t HSI_CACHE_SIGNATURE_SIZE = 33;  // 32 lowercase hex digits and a NUL
constexpr size_t HSI_CACHE_MODULE_NAME_SIZE = 32;

struct __attribute__((packed)) HsiCacheTrailer {
  uint32_t moduleCount;
  char build[HSI_CACHE_BUILD_SIZE];
  char signature[HSI_CACHE_SIGNATURE_SIZE];
  uint32_t unused;
  uint32_t firstModule;
};

struct __attribute__((packed)) HsiCacheModuleRecord {
  uint32_t moduleId;
  char name[HSI_CACHE_MODULE_NAME_SIZE];
  uint32_t nodeCount;  // node records of the module
  int32_t slotCount;   // size of the module's node table
  uint32_t firstNode;
  uint32_t nextModule;
};

struct __attribute__((packed)) HsiCacheNodeRecord {
  uint32_t slot;  // node id; node id - HSI_MODULE_NODE_BASE for module nodes
  uint64_t signature;
  uint32_t firstList;
  uint32_t listCount;
  uint32_t firstGet;
  uint32_t getCount;
  uint32_t dataLength;  // of every recorded get result of the node
  uint32_t info;        // its HsiCacheNodeInfo
  uint32_t nextNode;
};

// The first HSI_NODE_REPLY_SIZE bytes of a packed node definition, then the
// offsets of the node's name and of its data type descriptor (0 = none).
struct __attribute__((packed)) HsiCacheNodeInfo {
  uint8_t def[59];
  uint64_t name;
  uint64_t type;
};

struct __attribute__((packed)) HsiCacheGetEntry {
  uint32_t args;    // HsiCacheArgLink chain; 0 = recorded without arguments
  uint32_t status;  // 0 = success
  uint32_t data;    // dataLength bytes (from the node record)
  uint32_t next;
};

struct __attribute__((packed)) HsiCacheListEntry {
  uint32_t args;
  uint32_t status;
  uint32_t firstItem;
  uint32_t itemCount;
  uint32_t next;
};

// Arguments are chained from the last to the first.
struct __attribute__((packed)) HsiCacheArgLink {
  uint32_t next;   // 0 = end
  uint32_t param;  // a 32-byte parameter record
};

struct __attribute__((packed)) HsiCacheListItem {
  uint32_t unused;
  uint32_t param;
  uint32_t next;
};

// Parameter records are HsiParam slots (kernelWire.h): an integer's value in
// bytes 0..7; a string's file offset in its offset field, its base (bytes
// 0..7) set to the mapping's address before use.

// Type descriptors: the HsiTypeDef, HsiFieldDef and HsiEnumValueDef layouts
// (hsiDefs.h) with every pointer replaced by a u64 file offset.
struct __attribute__((packed)) HsiCacheTypeDef {
  uint64_t name;
  uint32_t kind;  // HSI_TYPE_*
  uint32_t size;
  uint64_t description;  // 0 = none
  uint64_t a;            // array: element type offset; struct, enum: count
  uint64_t b;            // struct: field array offset; enum: value array offset
  uint64_t bitFlags;
};

struct __attribute__((packed)) HsiCacheFieldDef {
  uint64_t name;
  uint64_t type;
  uint32_t typeIndex;
  uint32_t offset;
  uint64_t description;
};

struct __attribute__((packed)) HsiCacheEnumValueDef {
  uint64_t name;
  uint64_t value;
  uint64_t description;
};

static_assert(sizeof(HsiCacheTrailer) == 66 && offsetof(HsiCacheTrailer, build) == 4 &&
              offsetof(HsiCacheTrailer, signature) == 25 && offsetof(HsiCacheTrailer, unused) == 58 &&
              offsetof(HsiCacheTrailer, firstModule) == 62);
static_assert(sizeof(HsiCacheModuleRecord) == 52 && offsetof(HsiCacheModuleRecord, name) == 4 &&
              offsetof(HsiCacheModuleRecord, nodeCount) == 36 &&
              offsetof(HsiCacheModuleRecord, slotCount) == 40 &&
              offsetof(HsiCacheModuleRecord, firstNode) == 44 &&
              offsetof(HsiCacheModuleRecord, nextModule) == 48);
static_assert(sizeof(HsiCacheNodeRecord) == 40 && offsetof(HsiCacheNodeRecord, signature) == 4 &&
              offsetof(HsiCacheNodeRecord, firstList) == 12 &&
              offsetof(HsiCacheNodeRecord, listCount) == 16 && offsetof(HsiCacheNodeRecord, firstGet) == 20 &&
              offsetof(HsiCacheNodeRecord, getCount) == 24 &&
              offsetof(HsiCacheNodeRecord, dataLength) == 28 && offsetof(HsiCacheNodeRecord, info) == 32 &&
              offsetof(HsiCacheNodeRecord, nextNode) == 36);
static_assert(sizeof(HsiCacheNodeInfo) == 75 && offsetof(HsiCacheNodeInfo, name) == 59 &&
              offsetof(HsiCacheNodeInfo, type) == 67);
static_assert(sizeof(HsiCacheGetEntry) == 16 && offsetof(HsiCacheGetEntry, data) == 8);
static_assert(sizeof(HsiCacheListEntry) == 20 && offsetof(HsiCacheListEntry, firstItem) == 8 &&
              offsetof(HsiCacheListEntry, itemCount) == 12 && offsetof(HsiCacheListEntry, next) == 16);
static_assert(sizeof(HsiCacheArgLink) == 8 && sizeof(HsiCacheListItem) == 12 &&
              offsetof(HsiCacheListItem, param) == 4 && offsetof(HsiCacheListItem, next) == 8);
static_assert(sizeof(HsiCacheTypeDef) == 48 && offsetof(HsiCacheTypeDef, kind) == 8 &&
              offsetof(HsiCacheTypeDef, size) == 12 && offsetof(HsiCacheTypeDef, description) == 16 &&
              offsetof(HsiCacheTypeDef, a) == 24 && offsetof(HsiCacheTypeDef, b) == 32 &&
              offsetof(HsiCacheTypeDef, bitFlags) == 40);
static_assert(sizeof(HsiCacheFieldDef) == 32 && offsetof(HsiCacheFieldDef, type) == 8 &&
              offsetof(HsiCacheFieldDef, typeIndex) == 16 && offsetof(HsiCacheFieldDef, offset) == 20 &&
              offsetof(HsiCacheFieldDef, description) == 24);
static_assert(sizeof(HsiCacheEnumValueDef) == 24 && offsetof(HsiCacheEnumValueDef, value) == 8 &&
              offsetof(HsiCacheEnumValueDef, description) == 16);
