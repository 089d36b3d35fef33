// Chained hash table with a fixed power-of-two bucket count.  Keys are
// strings, case-insensitive strings or pointer-sized integers; values are
// opaque words.  With HASH_FLAG_ATOMIC any number of threads may insert and
// look up at once without a lock (entries are published by compare-and-swap).
#pragma once

#include <cstdint>

#define HASH_KEY_STRING 0
#define HASH_KEY_ISTRING 1
#define HASH_KEY_INT 2
#define HASH_KEY_TYPE_MASK 7
#define HASH_FLAG_ATOMIC 0x08
#define HASH_FLAG_COPYKEY 0x10

// Called with an entry's value when the entry is cleared.
typedef void (*HashTableFreeEntryFn)(void *value);

struct HashTableEntry;

struct HashTable {
  uint32_t numBuckets;
  uint32_t numBits;
  uint32_t keyType;
  uint8_t atomic;
  uint8_t copyKey;
  HashTableFreeEntryFn freeEntryFn;
  HashTableEntry **buckets;
  uint32_t numElements;
};

// A bucket count that is not a power of two (0 included) ends the process.
HashTable *HashTable_Alloc(uint32_t numBuckets, uint32_t flags, HashTableFreeEntryFn freeFn);
// Returns *var, creating the table and publishing it there first if *var is
// null; safe when several threads race to create it.
HashTable *HashTable_AllocOnce(HashTable **var, uint32_t numBuckets, uint32_t flags,
                               HashTableFreeEntryFn freeFn);
void HashTable_Free(HashTable *table);
void HashTable_Clear(HashTable *table);

// Integer keys are passed as the key's value cast to a pointer.
bool HashTable_Lookup(const HashTable *table, const void *key, void **value);
// False (and no change) when the key is already present.
bool HashTable_Insert(HashTable *table, const void *key, void *value);
// The value already stored under key, or value once the entry is added.
void *HashTable_LookupOrInsert(HashTable *table, const void *key, void *value);

// The bucket a key lands in; exposed for the tests of the hash itself.
uint32_t HashTable_Bucket(const HashTable *table, const void *key);
