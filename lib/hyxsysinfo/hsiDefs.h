// Records that describe the kernel's system-information tree: one node
// definition per node, type descriptors, and the struct-field and
// enum-value descriptors they point to.  The node record's first 59 bytes
// are also the kernel's reply layout for module nodes, so every layout here
// is fixed byte for byte.
#pragma once

#include <cstddef>
#include <cstdint>

typedef uint32_t HsiNodeID;
typedef int32_t HsiModuleID;  // sign-extended when it goes to the kernel

constexpr HsiNodeID HSI_MODULE_NODE_BASE = 5000;
constexpr uint32_t HSI_NO_NODE = 0xFFFFFFFF;  // sibling, child and parent links
constexpr uint32_t HSI_NO_TYPE = 0xFFFFFFFF;
constexpr uint32_t HSI_NO_STATS_INDEX = 0xFFFFFFFF;

enum : uint32_t {
  HSI_TYPE_SCALAR = 0,
  HSI_TYPE_ARRAY = 1,
  HSI_TYPE_STRUCT = 2,
  HSI_TYPE_ENUM = 3,
};

// Type indexes every interface starts with.
enum : uint32_t {
  HSI_TYPE_INDEX_STRING = 0,
  HSI_TYPE_INDEX_DEC_U32 = 9,
  HSI_TYPE_INDEX_DEC_U64 = 12,
  HSI_TYPE_INDEX_EMPTY_OUTPUT = 14,
  HSI_TYPE_INDEX_EMPTY_INPUT = 15,
  HSI_TYPE_INDEX_TIME_UNIT = 16,
  HSI_TYPE_INDEX_COMPAT_HASH_ARRAY = 21,
  HSI_TYPE_INDEX_COMPAT_DATA = 22,
  HSI_FIXED_TYPE_COUNT = 23,
};

struct HsiTypeDef;

struct HsiFieldDef {
  const char *name;
  const HsiTypeDef *type;  // always the type table's base + 48 * typeIndex
  uint32_t typeIndex;
  uint32_t offset;  // byte offset within the struct
  const char *description;
};

struct HsiEnumValueDef {
  const char *name;
  uint64_t value;
  const char *description;
};

struct HsiTypeDef {
  const char *name;
  uint32_t kind;       // HSI_TYPE_*
  uint32_t size;       // bytes of one value
  const char *format;  // scalar: printf format; struct, enum: description; array: null
  union {
    uint64_t count;             // struct: fields; enum: values; scalar: 0
    const HsiTypeDef *element;  // array
  } a;
  union {
    const HsiFieldDef *fields;      // struct (may point at an empty array)
    uint64_t elementIndex;          // array
    const HsiEnumValueDef *values;  // enum
  } b;
  uint64_t bitFlags;  // enum: 1 when the values are bit flags
};

struct __attribute__((packed)) HsiNodeDef {
  uint32_t id;
  uint8_t leaf;           // has a get and/or set handler
  uint8_t typedSetInput;  // the set handler takes setInputType
  uint8_t variableLength;
  uint8_t instance;    // selected by one parameter value
  uint8_t moduleRoot;  // instances are the kernel's modules
  uint8_t recursive;   // bit 0: instances nest
  uint8_t integerKey;  // instances selected by an integer
  uint32_t parent;
  uint32_t nextSibling;  // next lower-numbered sibling
  uint32_t firstChild;   // highest-numbered child
  uint32_t getSize;
  uint32_t getType;
  uint32_t setInputSize;
  uint32_t setInputType;
  uint32_t setOutputSize;
  uint32_t setOutputType;
  uint32_t statsIndex;
  uint64_t signature;
  // Not part of the kernel's reply:
  const char *name;
  const HsiTypeDef *getTypeDef;
  const HsiTypeDef *setInputTypeDef;
  const HsiTypeDef *setOutputTypeDef;
};

// The part of a node record the kernel fills for a module node.
constexpr size_t HSI_NODE_REPLY_SIZE = 59;

static_assert(sizeof(HsiFieldDef) == 32 && offsetof(HsiFieldDef, type) == 8 &&
              offsetof(HsiFieldDef, typeIndex) == 16 && offsetof(HsiFieldDef, offset) == 20 &&
              offsetof(HsiFieldDef, description) == 24);
static_assert(sizeof(HsiEnumValueDef) == 24 && offsetof(HsiEnumValueDef, value) == 8 &&
              offsetof(HsiEnumValueDef, description) == 16);
static_assert(sizeof(HsiTypeDef) == 48 && offsetof(HsiTypeDef, kind) == 8 &&
              offsetof(HsiTypeDef, size) == 12 && offsetof(HsiTypeDef, format) == 16 &&
              offsetof(HsiTypeDef, a) == 24 && offsetof(HsiTypeDef, b) == 32 &&
              offsetof(HsiTypeDef, bitFlags) == 40);
static_assert(sizeof(HsiNodeDef) == 91);
static_assert(offsetof(HsiNodeDef, leaf) == 4 && offsetof(HsiNodeDef, typedSetInput) == 5 &&
              offsetof(HsiNodeDef, variableLength) == 6 && offsetof(HsiNodeDef, instance) == 7 &&
              offsetof(HsiNodeDef, moduleRoot) == 8 && offsetof(HsiNodeDef, recursive) == 9 &&
              offsetof(HsiNodeDef, integerKey) == 10 && offsetof(HsiNodeDef, parent) == 11 &&
              offsetof(HsiNodeDef, nextSibling) == 15 && offsetof(HsiNodeDef, firstChild) == 19 &&
              offsetof(HsiNodeDef, getSize) == 23 && offsetof(HsiNodeDef, getType) == 27 &&
              offsetof(HsiNodeDef, setInputSize) == 31 && offsetof(HsiNodeDef, setInputType) == 35 &&
              offsetof(HsiNodeDef, setOutputSize) == 39 && offsetof(HsiNodeDef, setOutputType) == 43 &&
              offsetof(HsiNodeDef, statsIndex) == 47 && offsetof(HsiNodeDef, signature) == 51 &&
              offsetof(HsiNodeDef, name) == 59 && offsetof(HsiNodeDef, getTypeDef) == 67 &&
              offsetof(HsiNodeDef, setInputTypeDef) == 75 && offsetof(HsiNodeDef, setOutputTypeDef) == 83);
