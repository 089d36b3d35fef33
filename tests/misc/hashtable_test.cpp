// The hash table, its atomic insert mode and the errno-text cache.
#include "misc/hashTable.h"

#include <gtest/gtest.h>
#include <sys/resource.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <csignal>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <string>
#include <thread>
#include <vector>

#include "../support/silent_abort.h"
#include "alloc_fail.h"
#include "misc/err.h"
#include "misc/utf8.h"

namespace {

const void *IntKey(intptr_t k) { return reinterpret_cast<const void *>(k); }
void *Value(intptr_t v) { return reinterpret_cast<void *>(v); }

// Frees its table at the end of a test.
struct Table {
  HashTable *t;
  Table(uint32_t buckets, uint32_t flags, HashTableFreeEntryFn fn = nullptr)
      : t(HashTable_Alloc(buckets, flags, fn)) {}
  ~Table() { HashTable_Free(t); }
};

TEST(HashTable, WorkedHashAndFoldExamples) {
  // A table large enough that nothing folds shows the raw hash.
  Table wideInt(1u << 16, HASH_KEY_INT), wideStr(1u << 22, HASH_KEY_STRING);
  EXPECT_EQ(HashTable_Bucket(wideInt.t, IntKey(1)), 48271u);
  EXPECT_EQ(HashTable_Bucket(wideStr.t, "abc"), 3212384u);
  EXPECT_EQ(HashTable_Bucket(wideStr.t, ""), 0u);

  Table intTable(16, HASH_KEY_INT), strTable(16, HASH_KEY_STRING);
  EXPECT_EQ(HashTable_Bucket(intTable.t, IntKey(1)), 0u);  // 48271 -> 3015 -> 187 -> 0
  EXPECT_EQ(HashTable_Bucket(strTable.t, "abc"), 0u);      // 3212384 -> 200774 -> 12546 -> 786 -> 51 -> 0
  // High and low halves of an integer key are combined before multiplying.
  EXPECT_EQ(HashTable_Bucket(wideInt.t, IntKey(intptr_t(1) << 32)), 48271u);

  Table table4096(4096, HASH_KEY_INT);
  EXPECT_EQ(table4096.t->numBits, 12u);
  EXPECT_EQ(table4096.t->numBuckets, 4096u);
}

TEST(HashTable, InsertKeepsTheFirstValue) {
  Table table(16, HASH_KEY_STRING);
  EXPECT_TRUE(HashTable_Insert(table.t, "key", Value(1)));
  EXPECT_FALSE(HashTable_Insert(table.t, "key", Value(2)));
  EXPECT_EQ(HashTable_LookupOrInsert(table.t, "key", Value(3)), Value(1));
  EXPECT_EQ(HashTable_LookupOrInsert(table.t, "other", Value(4)), Value(4));
  void *value = nullptr;
  EXPECT_TRUE(HashTable_Lookup(table.t, "key", &value));
  EXPECT_EQ(value, Value(1));
  EXPECT_TRUE(HashTable_Lookup(table.t, "other", nullptr));
  EXPECT_FALSE(HashTable_Lookup(table.t, "missing", &value));
  EXPECT_EQ(table.t->numElements, 2u);
}

TEST(HashTable, KeyTypesCompareAsTheySay) {
  Table caseless(16, HASH_KEY_ISTRING), cased(16, HASH_KEY_STRING), ints(16, HASH_KEY_INT);
  EXPECT_EQ(HashTable_Bucket(caseless.t, "ABC"), HashTable_Bucket(caseless.t, "abc"));
  EXPECT_TRUE(HashTable_Insert(caseless.t, "ABC", Value(1)));
  EXPECT_FALSE(HashTable_Insert(caseless.t, "abc", Value(2)));
  EXPECT_TRUE(HashTable_Insert(cased.t, "ABC", Value(1)));
  EXPECT_TRUE(HashTable_Insert(cased.t, "abc", Value(2)));
  // Integer keys compare by value; many keys share the 16 buckets.
  for (intptr_t k = -50; k < 50; k++) EXPECT_TRUE(HashTable_Insert(ints.t, IntKey(k), Value(k * 3)));
  for (intptr_t k = -50; k < 50; k++) {
    void *v;
    ASSERT_TRUE(HashTable_Lookup(ints.t, IntKey(k), &v));
    EXPECT_EQ(v, Value(k * 3));
  }
}

TEST(HashTable, CopiedKeysOutliveTheCallersText) {
  Table table(8, HASH_KEY_STRING | HASH_FLAG_COPYKEY);
  char key[] = "transient";
  HashTable_Insert(table.t, key, Value(9));
  strcpy(key, "changed!!");
  EXPECT_TRUE(HashTable_Lookup(table.t, "transient", nullptr));
  EXPECT_FALSE(HashTable_Lookup(table.t, "changed!!", nullptr));
  // A refused insert must release its own copy (checked by the leak checker).
  EXPECT_FALSE(HashTable_Insert(table.t, "transient", Value(1)));
}

// Integer keys are values, not text: the copy-key flag leaves them as they
// are (copying one would read memory at the key's number).
TEST(HashTable, CopyKeyLeavesIntegerKeysAlone) {
  Table copied(8, HASH_KEY_INT | HASH_FLAG_COPYKEY), plain(8, HASH_KEY_INT);
  uint64_t before = AllocFail_Count();
  EXPECT_TRUE(HashTable_Insert(copied.t, IntKey(7), Value(70)));
  uint64_t copiedAllocations = AllocFail_Count() - before;
  before = AllocFail_Count();
  EXPECT_TRUE(HashTable_Insert(plain.t, IntKey(7), Value(70)));
  EXPECT_EQ(copiedAllocations, AllocFail_Count() - before) << "no key copy";
  EXPECT_TRUE(HashTable_Insert(copied.t, IntKey(-1), Value(1)));
  void *value = nullptr;
  EXPECT_TRUE(HashTable_Lookup(copied.t, IntKey(7), &value));
  EXPECT_EQ(value, Value(70));
  EXPECT_TRUE(HashTable_Lookup(copied.t, IntKey(-1), &value));
  EXPECT_EQ(value, Value(1));
  EXPECT_FALSE(HashTable_Insert(copied.t, IntKey(7), Value(71)));
}

std::vector<intptr_t> freed;
void RecordFree(void *value) { freed.push_back(reinterpret_cast<intptr_t>(value)); }

TEST(HashTable, ClearReleasesEveryValueAndTheTableStaysUsable) {
  freed.clear();
  Table table(4, HASH_KEY_INT, RecordFree);
  for (intptr_t k = 1; k <= 10; k++) HashTable_Insert(table.t, IntKey(k), Value(100 + k));
  HashTable_Clear(table.t);
  EXPECT_EQ(table.t->numElements, 0u);
  std::sort(freed.begin(), freed.end());
  ASSERT_EQ(freed.size(), 10u);
  for (intptr_t k = 1; k <= 10; k++) EXPECT_EQ(freed[k - 1], 100 + k);
  EXPECT_FALSE(HashTable_Lookup(table.t, IntKey(3), nullptr));
  EXPECT_TRUE(HashTable_Insert(table.t, IntKey(3), Value(1)));
  HashTable_Free(nullptr);
}

TEST(HashTable, SingleBucketTableWorks) {
  Table table(1, HASH_KEY_STRING);
  EXPECT_EQ(HashTable_Bucket(table.t, "abc"), 0u);
  EXPECT_TRUE(HashTable_Insert(table.t, "a", Value(1)));
  EXPECT_TRUE(HashTable_Insert(table.t, "b", Value(2)));
  EXPECT_TRUE(HashTable_Lookup(table.t, "a", nullptr));
}

TEST(HashTableDeathTest, BadShapesEndTheProcess) {
  EXPECT_SILENT_ABORT(HashTable_Alloc(3000, HASH_KEY_INT, nullptr));
  EXPECT_SILENT_ABORT(HashTable_Alloc(0, HASH_KEY_INT, nullptr));
  // A key type above 2 is refused at the first hash.
  EXPECT_SILENT_ABORT(HashTable_Lookup(HashTable_Alloc(16, 3, nullptr), "x", nullptr));
}

// 2^31 buckets need 16 GiB; with the address space limited (or the
// sanitizers' allocation cap) the bucket array cannot be had.
void AllocateHugeTable() {
#if !defined(__SANITIZE_ADDRESS__) && !defined(__SANITIZE_THREAD__)
  rlimit limit{8ull << 30, 8ull << 30};
  setrlimit(RLIMIT_AS, &limit);
#endif
  HashTable_Alloc(1u << 31, HASH_KEY_INT, nullptr);
}

TEST(HashTableDeathTest, FailedAllocationEndsTheProcess) {
  if (getenv("HYX_UNDER_EMULATOR") != nullptr) GTEST_SKIP() << "the emulator ignores address-space limits";
  EXPECT_SILENT_ABORT(AllocateHugeTable());
}

// Each allocation of an insert with a copied key, and of the first look-up
// of an errno's text, failed in turn: every one ends the process silently.
TEST(HashTableDeathTest, EveryFailedAllocationOfAnInsertOrATextEndsTheProcess) {
  // The cache's tables exist from here on, so a text never asked for costs
  // the same as EMLINK's.
  Err_ErrnoToText(EXDEV);
  const struct {
    const char *what;
    std::function<void()> count, call;
  } cases[] = {
      {"copied-key insert",
       [] {
         HashTable *table = HashTable_Alloc(8, HASH_KEY_STRING | HASH_FLAG_COPYKEY, nullptr);
         HashTable_Insert(table, "key", Value(1));
         HashTable_Free(table);
       },
       nullptr},
      {"errno text", [] { Err_ErrnoToText(EMLINK); }, [] { Err_ErrnoToText(ENOTBLK); }},
  };
  for (const auto &c : cases) {
    uint64_t before = AllocFail_Count();
    c.count();
    uint64_t allocations = AllocFail_Count() - before;
    EXPECT_GT(allocations, 0u) << c.what;
    const std::function<void()> &call = c.call ? c.call : c.count;
    for (uint64_t nth = 1; nth <= allocations; nth++) {
      EXPECT_SILENT_ABORT({
        AllocFail_Arm(nth);
        call();
      }) << c.what
         << ", allocation " << nth;
    }
  }
}

TEST(HashTable, AllocOnceKeepsTheFirstTable) {
  HashTable *shared = nullptr;
  HashTable *first = HashTable_AllocOnce(&shared, 16, HASH_KEY_INT, nullptr);
  EXPECT_EQ(shared, first);
  EXPECT_EQ(HashTable_AllocOnce(&shared, 32, HASH_KEY_STRING, nullptr), first);
  EXPECT_EQ(first->numBuckets, 16u);
  HashTable_Free(shared);
}

// Threads race to create one atomic table and to insert the same keys (each
// must end up once, every loser seeing the winner's value) and their own
// keys, while they also fill the errno-text cache.
TEST(HashTableConcurrency, AtomicInsertsAndErrnoTexts) {
  constexpr int kThreads = 8, kShared = 500, kOwn = 300;
  HashTable *shared = nullptr;
  std::atomic<int> wins{0};
  std::vector<std::thread> threads;
  std::vector<const char *> texts(kThreads * 40);
  for (int t = 0; t < kThreads; t++) {
    threads.emplace_back([&, t] {
      HashTable *table = HashTable_AllocOnce(&shared, 64, HASH_KEY_INT | HASH_FLAG_ATOMIC, nullptr);
      for (int k = 0; k < kShared; k++) {
        void *got = HashTable_LookupOrInsert(table, IntKey(k), Value(t * 100000 + k));
        if (got == Value(t * 100000 + k)) wins++;
        EXPECT_EQ(reinterpret_cast<intptr_t>(got) % 100000, k);
        if (k % 25 == 0) texts[t * 40 + k / 25] = Err_ErrnoToText(k / 25);
      }
      for (int k = 0; k < kOwn; k++)
        EXPECT_TRUE(HashTable_Insert(table, IntKey(-1 - (t * kOwn + k)), Value(k)));
    });
  }
  for (auto &th : threads) th.join();
  EXPECT_EQ(wins.load(), kShared);
  EXPECT_EQ(shared->numElements, uint32_t(kShared + kThreads * kOwn));
  // Each key once: a second insert of every key is refused.
  for (int k = 0; k < kShared; k++) EXPECT_FALSE(HashTable_Insert(shared, IntKey(k), Value(0)));
  for (int t = 0; t < kThreads; t++)
    for (int i = 0; i < 20; i++) {
      EXPECT_EQ(texts[t * 40 + i], texts[i]);
      EXPECT_EQ(Err_TextToErrno(texts[t * 40 + i]), i);
    }
  HashTable_Free(shared);
}

TEST(ErrnoText, TextsAreCachedAndKnownByAddress) {
  const char *text = Err_ErrnoToText(ENOENT);
  EXPECT_STREQ(text, strerror(ENOENT));
  EXPECT_EQ(Err_ErrnoToText(ENOENT), text);
  EXPECT_EQ(Err_TextToErrno(text), ENOENT);
  std::string copy = text;
  EXPECT_EQ(Err_TextToErrno(copy.c_str()), -1);
  EXPECT_EQ(Err_TextToErrno("never handed out"), -1);

  const char *unknown = Err_ErrnoToText(-77);
  EXPECT_STREQ(unknown, "Unknown error -77");
  EXPECT_EQ(Err_TextToErrno(unknown), -77);
}

TEST(ErrnoText, ErrnoIsLeftAlone) {
  for (int n : {EACCES, 31337, EACCES}) {
    errno = 4242;
    Err_ErrnoToText(n);
    EXPECT_EQ(errno, 4242) << n;
  }
}

TEST(ErrnoText, TrailingPartialUtf8IsCut) {
  const struct {
    const char *text;
    size_t keep;
  } cases[] = {
      {"plain", 5},
      {"", 0},
      {"caf\xC3\xA9", 5},       // complete 2-byte character
      {"caf\xC3", 3},           // lead byte without its continuation
      {"x\xE2\x82\xAC", 4},     // complete 3-byte character
      {"x\xE2\x82", 1},         // 3-byte lead with one continuation
      {"\xF0\x9F\x98\x80", 4},  // complete 4-byte character
      {"\xF0\x9F\x98", 0},      // cut down to nothing
      {"\x80\x80", 0},          // only continuation bytes
      {"ab\xC3\xA9\xA9", 2},    // lead followed by too many continuations
  };
  for (const auto &c : cases) EXPECT_EQ(Utf8CompleteLength(c.text, strlen(c.text)), c.keep) << c.text;
}

}  // namespace
