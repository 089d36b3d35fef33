// The hash table.  Chains only grow (single entries are never removed), so an
// entry once published stays valid until the table is cleared; that is what
// lets atomic tables be read and extended without a lock.
#include "misc/hashTable.h"

#include <strings.h>

#include <bit>
#include <cctype>
#include <cstdlib>
#include <cstring>

#include "misc/util.h"

struct HashTableEntry {
  HashTableEntry *next;
  const void *key;
  void *value;
};

namespace {

uint32_t HashString(const unsigned char *s) {
  uint32_t h = 0;
  for (; *s != 0; s++) h = std::rotl(h ^ *s, 5);
  return h;
}

uint32_t HashIString(const unsigned char *s) {
  uint32_t h = 0;
  for (; *s != 0; s++) h = std::rotl(h ^ static_cast<unsigned char>(tolower(*s)), 5);
  return h;
}

uint32_t Hash(const HashTable *table, const void *key) {
  switch (table->keyType) {
    case HASH_KEY_STRING:
      VERIFY(key != nullptr);
      return HashString(static_cast<const unsigned char *>(key));
    case HASH_KEY_ISTRING:
      VERIFY(key != nullptr);
      return HashIString(static_cast<const unsigned char *>(key));
    case HASH_KEY_INT: {
      uint64_t k = reinterpret_cast<uintptr_t>(key);
      return (static_cast<uint32_t>(k >> 32) ^ static_cast<uint32_t>(k)) * 48271u;
    }
    default:
      NOT_REACHED();
  }
}

uint32_t Fold(uint32_t h, uint32_t bits) {
  if (bits == 0) return 0;  // one bucket: folding by 0 bits would never end
  uint32_t mask = (1u << bits) - 1;
  while (h > mask) h = (h & mask) ^ (h >> bits);
  return h;
}

bool KeysEqual(const HashTable *table, const void *a, const void *b) {
  switch (table->keyType) {
    case HASH_KEY_STRING:
      return strcmp(static_cast<const char *>(a), static_cast<const char *>(b)) == 0;
    case HASH_KEY_ISTRING:
      return strcasecmp(static_cast<const char *>(a), static_cast<const char *>(b)) == 0;
    default:
      return a == b;
  }
}

HashTableEntry *LoadHead(HashTableEntry *const *slot) { return __atomic_load_n(slot, __ATOMIC_ACQUIRE); }

HashTableEntry *FindInChain(const HashTable *table, HashTableEntry *e, const void *key) {
  for (; e != nullptr; e = e->next)
    if (KeysEqual(table, e->key, key)) return e;
  return nullptr;
}

void ReleaseKey(const HashTable *table, const void *key) {
  if (table->copyKey) free(const_cast<void *>(key));
}

// Adds key/value unless the key is present; returns the entry that holds the
// key afterwards and whether it is the new one.
HashTableEntry *InsertOrFind(HashTable *table, const void *key, void *value, bool *added) {
  HashTableEntry **slot = &table->buckets[HashTable_Bucket(table, key)];
  HashTableEntry *fresh = nullptr;
  for (;;) {
    HashTableEntry *head = LoadHead(slot);
    if (HashTableEntry *found = FindInChain(table, head, key)) {
      if (fresh != nullptr) {
        ReleaseKey(table, fresh->key);
        free(fresh);
      }
      *added = false;
      return found;
    }
    if (fresh == nullptr) {
      fresh = static_cast<HashTableEntry *>(Util_SafeMalloc(sizeof *fresh));
      fresh->key = table->copyKey ? Util_SafeStrdup(static_cast<const char *>(key)) : key;
      fresh->value = value;
    }
    fresh->next = head;
    if (!table->atomic) {
      *slot = fresh;
      table->numElements++;
      break;
    }
    if (__atomic_compare_exchange_n(slot, &head, fresh, false, __ATOMIC_SEQ_CST, __ATOMIC_SEQ_CST)) {
      // Several inserters may count at once; a relaxed add keeps them all.
      __atomic_fetch_add(&table->numElements, 1, __ATOMIC_RELAXED);
      break;
    }
  }
  *added = true;
  return fresh;
}

}  // namespace

uint32_t HashTable_Bucket(const HashTable *table, const void *key) {
  return Fold(Hash(table, key), table->numBits);
}

HashTable *HashTable_Alloc(uint32_t numBuckets, uint32_t flags, HashTableFreeEntryFn freeFn) {
  if (!std::has_single_bit(numBuckets)) Panic("%s only takes powers of 2 \n", "HashTable_Alloc");
  HashTable *table = static_cast<HashTable *>(Util_SafeMalloc(sizeof *table));
  table->numBuckets = numBuckets;
  table->numBits = static_cast<uint32_t>(std::countr_zero(numBuckets));
  table->keyType = flags & HASH_KEY_TYPE_MASK;
  table->atomic = (flags & HASH_FLAG_ATOMIC) != 0;
  // Only strings can be copied; an integer key is its own copy.
  table->copyKey = (flags & HASH_FLAG_COPYKEY) != 0 && table->keyType != HASH_KEY_INT;
  table->freeEntryFn = freeFn;
  table->buckets = static_cast<HashTableEntry **>(Util_SafeCalloc(numBuckets, sizeof(HashTableEntry *)));
  table->numElements = 0;
  return table;
}

HashTable *HashTable_AllocOnce(HashTable **var, uint32_t numBuckets, uint32_t flags,
                               HashTableFreeEntryFn freeFn) {
  HashTable *table = __atomic_load_n(var, __ATOMIC_ACQUIRE);
  if (table != nullptr) return table;
  HashTable *fresh = HashTable_Alloc(numBuckets, flags, freeFn);
  HashTable *expected = nullptr;
  if (__atomic_compare_exchange_n(var, &expected, fresh, false, __ATOMIC_SEQ_CST, __ATOMIC_SEQ_CST))
    return fresh;
  HashTable_Free(fresh);
  return expected;
}

void HashTable_Clear(HashTable *table) {
  table->numElements = 0;
  for (uint32_t i = 0; i < table->numBuckets; i++) {
    HashTableEntry *e = table->buckets[i];
    table->buckets[i] = nullptr;
    while (e != nullptr) {
      HashTableEntry *next = e->next;
      ReleaseKey(table, e->key);
      if (table->freeEntryFn != nullptr) table->freeEntryFn(e->value);
      free(e);
      e = next;
    }
  }
}

void HashTable_Free(HashTable *table) {
  if (table == nullptr) return;
  HashTable_Clear(table);
  free(table->buckets);
  free(table);
}

bool HashTable_Lookup(const HashTable *table, const void *key, void **value) {
  const HashTableEntry *e = FindInChain(table, LoadHead(&table->buckets[HashTable_Bucket(table, key)]), key);
  if (e == nullptr) return false;
  if (value != nullptr) *value = e->value;
  return true;
}

bool HashTable_Insert(HashTable *table, const void *key, void *value) {
  bool added;
  InsertOrFind(table, key, value, &added);
  return added;
}

void *HashTable_LookupOrInsert(HashTable *table, const void *key, void *value) {
  bool added;
  return InsertOrFind(table, key, value, &added)->value;
}
