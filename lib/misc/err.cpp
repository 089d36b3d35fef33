// The errno-text cache: two atomic tables created on first use, one keyed by
// number and one by the text's address.  Records are never freed, which is
// what makes the texts valid for the life of the process.
#include "misc/err.h"

#include <cerrno>
#include <cstdint>
#include <cstdlib>
#include <cstring>

#include "misc/hashTable.h"
#include "misc/utf8.h"
#include "misc/util.h"

namespace {

constexpr uint32_t kBuckets = 2048;
constexpr uint32_t kFlags = HASH_KEY_INT | HASH_FLAG_ATOMIC;

struct ErrnoText {
  int32_t number;
  char *text;
};

HashTable *byNumber;
HashTable *byText;

void FreeRecord(void *value) {
  ErrnoText *record = static_cast<ErrnoText *>(value);
  free(record->text);
  free(record);
}

const void *NumberKey(int number) { return reinterpret_cast<const void *>(static_cast<intptr_t>(number)); }

ErrnoText *NewRecord(int number) {
  char buffer[2048];
  const char *system = strerror_r(number, buffer, sizeof buffer);
  ErrnoText *record = static_cast<ErrnoText *>(Util_SafeMalloc(sizeof *record));
  record->number = number;
  record->text = Util_SafeStrdup(system);
  record->text[Utf8CompleteLength(record->text, strlen(record->text))] = '\0';
  return record;
}

}  // namespace

const char *Err_ErrnoToText(int errorNumber) {
  int saved = errno;
  HashTable *numbers = HashTable_AllocOnce(&byNumber, kBuckets, kFlags, FreeRecord);
  void *found;
  ErrnoText *record;
  if (HashTable_Lookup(numbers, NumberKey(errorNumber), &found)) {
    record = static_cast<ErrnoText *>(found);
  } else {
    ErrnoText *fresh = NewRecord(errorNumber);
    record = static_cast<ErrnoText *>(HashTable_LookupOrInsert(numbers, NumberKey(errorNumber), fresh));
    if (record != fresh) FreeRecord(fresh);
  }
  HashTable *texts = HashTable_AllocOnce(&byText, kBuckets, kFlags, nullptr);
  HashTable_LookupOrInsert(texts, record->text, record);
  errno = saved;
  return record->text;
}

int Err_TextToErrno(const char *text) {
  HashTable *texts = HashTable_AllocOnce(&byText, kBuckets, kFlags, nullptr);
  void *found;
  if (!HashTable_Lookup(texts, text, &found)) return -1;
  return static_cast<ErrnoText *>(found)->number;
}
