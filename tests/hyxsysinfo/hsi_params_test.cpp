// Parameter lists: the record as the kernel sees it, growth, spilling and
// packing, removal, the instance count rule and every failure status.
#include <gtest/gtest.h>

#include <cstring>
#include <iterator>
#include <memory>
#include <string>
#include <vector>

#include "alloc_fail.h"
#include "hyxsysinfo/hsiParams.h"

namespace {

template <typename T>
T At(const void *base, size_t offset) {
  T v;
  memcpy(&v, static_cast<const char *>(base) + offset, sizeof v);
  return v;
}

// Header, slots and the used part of the data area, as raw bytes.
std::vector<uint8_t> Image(HsiParamList list) {
  const HsiParamListRecord *rec = HsiParamList_Record(list);
  size_t end = rec->headerSize;
  if (rec->nextDataOffset > end) end = rec->nextDataOffset;
  auto *p = reinterpret_cast<const uint8_t *>(rec);
  return {p, p + end};
}

struct ListDeleter {
  void operator()(HsiParamListCell *l) const { HsiParamList_Free(l); }
};
using List = std::unique_ptr<HsiParamListCell, ListDeleter>;

List Make(uint32_t type, uint32_t capacity, uint32_t data = 0, uint8_t flags = 0) {
  return List(HsiParamList_AllocSized(type, capacity, data, flags));
}

std::string Str(HsiParamList list, uint32_t i) {
  const char *s = nullptr;
  EXPECT_EQ(HsiParamList_GetString(list, i, &s), HYX_OK) << "index " << i;
  return s ? s : "<none>";
}

TEST(HsiParams, CreationRules) {
  List small(HsiParamList_Alloc(HSI_PARAMLIST_INSTANCE, 1));
  ASSERT_TRUE(small);
  EXPECT_EQ(HsiParamList_Capacity(small.get()), 16u);
  EXPECT_EQ(HsiParamList_Record(small.get())->headerSize, 64u + 32 * 16);
  EXPECT_EQ(HsiParamList_Record(small.get())->nextDataOffset, 0u);
  EXPECT_TRUE(HsiParamList_IsPacked(small.get()));

  // A data area or the fixed flag keeps the capacity asked for.
  EXPECT_EQ(HsiParamList_Capacity(Make(HSI_PARAMLIST_VALUES, 2, 10).get()), 2u);
  EXPECT_EQ(HsiParamList_Capacity(Make(HSI_PARAMLIST_VALUES, 2, 0, HSI_PARAMLIST_FIXED).get()), 2u);
  EXPECT_FALSE(Make(HSI_PARAMLIST_VALUES, 0, 10));
  EXPECT_FALSE(Make(HSI_PARAMLIST_VALUES, 0x7ffffff, 0));          // header alone beyond 4 GiB
  EXPECT_FALSE(Make(HSI_PARAMLIST_VALUES, 16, 0xffffffffu - 64));  // header + data beyond 4 GiB
  EXPECT_FALSE(Make(7, 16, 0));

  List empty = Make(HSI_PARAMLIST_VALUES, 0, 0, HSI_PARAMLIST_FIXED);
  ASSERT_TRUE(empty);
  EXPECT_EQ(HsiParamList_AddInt(empty.get(), 1), HYX_LIMIT_EXCEEDED);
  EXPECT_EQ(HsiParamList_WireSize(empty.get()), 64u);
}

TEST(HsiParams, WireLayoutByteForByte) {
  List list = Make(HSI_PARAMLIST_INSTANCE, 2, 32);
  ASSERT_EQ(HsiParamList_AddInt(list.get(), 0x1122334455667788ull), HYX_OK);
  ASSERT_EQ(HsiParamList_AddString(list.get(), "vmk0"), HYX_OK);
  const void *r = HsiParamList_Record(list.get());
  const uint64_t base = reinterpret_cast<uintptr_t>(r);

  EXPECT_EQ(At<uint32_t>(r, 0), 1u);     // instance list
  EXPECT_EQ(At<uint32_t>(r, 4), 0u);     // flags
  EXPECT_EQ(At<uint32_t>(r, 8), 2u);     // count
  EXPECT_EQ(At<uint32_t>(r, 12), 2u);    // total count
  EXPECT_EQ(At<uint32_t>(r, 16), 2u);    // capacity
  EXPECT_EQ(At<uint32_t>(r, 20), 128u);  // header size
  EXPECT_EQ(At<uint32_t>(r, 24), 5u);    // data used
  EXPECT_EQ(At<uint32_t>(r, 28), 32u);   // data capacity
  EXPECT_EQ(At<uint64_t>(r, 32), 133u);  // next data offset
  EXPECT_EQ(At<uint64_t>(r, 40), base);  // base address

  EXPECT_EQ(At<uint64_t>(r, 64), 0x1122334455667788ull);
  EXPECT_EQ(At<uint64_t>(r, 72), 0u);
  EXPECT_EQ(At<uint64_t>(r, 80), 0u);
  EXPECT_EQ(At<uint32_t>(r, 88), 0u);
  EXPECT_EQ(At<uint32_t>(r, 92), 1u);  // HSI_PARAM_INT

  EXPECT_EQ(At<uint64_t>(r, 96), base);
  EXPECT_EQ(At<uint64_t>(r, 104), 0u);
  EXPECT_EQ(At<uint64_t>(r, 112), 128u);
  EXPECT_EQ(At<uint32_t>(r, 120), 5u);
  EXPECT_EQ(At<uint32_t>(r, 124), 2u);  // HSI_PARAM_STRING
  EXPECT_EQ(memcmp(static_cast<const char *>(r) + 128, "vmk0", 5), 0);

  EXPECT_EQ(HsiParamList_WireSize(list.get()), 133u);
  EXPECT_EQ(HsiParamList_BufferSize(list.get()), 160u);
  EXPECT_TRUE(HsiParamList_IsPacked(list.get()));
}

TEST(HsiParams, StringLengthLimit) {
  List list = Make(HSI_PARAMLIST_VALUES, 4, 4096);
  std::string longest(2047, 'a'), tooLong(2048, 'b');
  ASSERT_EQ(HsiParamList_AddString(list.get(), longest.c_str()), HYX_OK);
  EXPECT_EQ(HsiParamList_GetParam(list.get(), 0)->length, 2048u);
  auto before = Image(list.get());
  EXPECT_EQ(HsiParamList_AddString(list.get(), tooLong.c_str()), HYX_LIMIT_EXCEEDED);
  EXPECT_EQ(HsiParamList_AddStringFront(list.get(), tooLong.c_str()), HYX_LIMIT_EXCEEDED);
  EXPECT_EQ(HsiParamList_AddString(list.get(), nullptr), HYX_BAD_PARAM);
  EXPECT_EQ(Image(list.get()), before);
}

TEST(HsiParams, SpillAndPackedCopy) {
  List list = Make(HSI_PARAMLIST_INSTANCE, 4, 8);
  ASSERT_EQ(HsiParamList_AddString(list.get(), "abc"), HYX_OK);      // inline, 4 bytes
  ASSERT_EQ(HsiParamList_AddString(list.get(), "defghij"), HYX_OK);  // 8 bytes: spills
  ASSERT_EQ(HsiParamList_AddInt(list.get(), 42), HYX_OK);
  ASSERT_EQ(HsiParamList_AddString(list.get(), "x"), HYX_OK);  // used 12 of 8: spills
  const HsiParam *spilled = HsiParamList_GetParam(list.get(), 1);
  EXPECT_EQ(spilled->offset, 0u);
  EXPECT_NE(spilled->value, HsiParamList_Record(list.get())->base);
  EXPECT_EQ(HsiParamList_Record(list.get())->dataUsed, 14u);
  EXPECT_FALSE(HsiParamList_IsPacked(list.get()));
  EXPECT_EQ(HsiParamList_WireSize(list.get()), 64u + 4 * 32 + 14);
  EXPECT_EQ(HsiParamList_BufferSize(list.get()), 64u + 4 * 32 + 8);

  for (uint32_t first : {0u, 1u, 4u}) {
    List copy(HsiParamList_Copy(list.get(), first));
    ASSERT_TRUE(copy);
    const HsiParamListRecord *rec = HsiParamList_Record(copy.get());
    EXPECT_TRUE(HsiParamList_IsPacked(copy.get()));
    EXPECT_EQ(rec->count, 4 - first);
    EXPECT_EQ(rec->totalCount, 4 - first);
    for (uint32_t i = first; i < 4; i++)
      EXPECT_TRUE(
          HsiParam_Equal(HsiParamList_GetParam(list.get(), i), HsiParamList_GetParam(copy.get(), i - first)));
    if (first == 0) {
      EXPECT_EQ(rec->capacity, 4u);
      EXPECT_EQ(rec->dataCapacity, 14u);
      EXPECT_EQ(rec->nextDataOffset, rec->headerSize + 14u);
      EXPECT_EQ(Str(copy.get(), 1), "defghij");
    }
    if (first == 4) {
      EXPECT_EQ(rec->capacity, 16u);  // nothing copied: the creation minimum
    }
  }
  EXPECT_FALSE(HsiParamList_Copy(list.get(), 5));
}

TEST(HsiParams, GrowthKeepsInlineStringsReadable) {
  List list = Make(HSI_PARAMLIST_INSTANCE, 2, 64);
  ASSERT_EQ(HsiParamList_AddString(list.get(), "first"), HYX_OK);
  ASSERT_EQ(HsiParamList_AddString(list.get(), "second"), HYX_OK);
  const HsiParamListRecord *old = HsiParamList_Record(list.get());
  uint64_t oldOffset = HsiParamList_GetParam(list.get(), 1)->offset;
  ASSERT_EQ(HsiParamList_AddIntFront(list.get(), 7), HYX_OK);
  for (uint32_t want = 4; want <= 16; want *= 2)
    while (HsiParamList_Capacity(list.get()) < want) ASSERT_EQ(HsiParamList_AddInt(list.get(), want), HYX_OK);

  const HsiParamListRecord *rec = HsiParamList_Record(list.get());
  EXPECT_NE(rec, old);
  EXPECT_EQ(rec->capacity, 16u);
  EXPECT_EQ(rec->base, reinterpret_cast<uintptr_t>(rec));
  EXPECT_EQ(rec->dataCapacity, 64u);
  EXPECT_EQ(rec->totalCount, rec->count);
  EXPECT_EQ(HsiParamList_GetParam(list.get(), 2)->offset, oldOffset + (16 - 2) * 32);
  EXPECT_EQ(HsiParamList_GetParam(list.get(), 2)->value, rec->base);
  EXPECT_EQ(Str(list.get(), 1), "first");
  EXPECT_EQ(Str(list.get(), 2), "second");
  EXPECT_TRUE(HsiParamList_IsPacked(list.get()));
  uint64_t v;
  EXPECT_EQ(HsiParamList_GetInt(list.get(), 0, &v), HYX_OK);
  EXPECT_EQ(v, 7u);
}

TEST(HsiParams, GrownRecordHasFlagsZero) {
  List list = Make(HSI_PARAMLIST_VALUES, 1, 4, HSI_PARAMLIST_NO_SPILL);
  ASSERT_EQ(HsiParamList_AddInt(list.get(), 1), HYX_OK);
  auto before = Image(list.get());
  EXPECT_EQ(HsiParamList_AddString(list.get(), "abcd"), HYX_NO_MEMORY_RETRY);  // no room and no spill
  EXPECT_EQ(Image(list.get()), before);
  ASSERT_EQ(HsiParamList_AddString(list.get(), "abc"), HYX_OK);  // grows, fills the data area
  EXPECT_EQ(HsiParamList_Capacity(list.get()), 2u);
  EXPECT_EQ(At<uint32_t>(HsiParamList_Record(list.get()), 4), 0u);  // the flags word the kernel sees
  ASSERT_EQ(HsiParamList_AddString(list.get(), "d"), HYX_OK);       // spills now
  EXPECT_EQ(Str(list.get(), 1), "abc");
  EXPECT_EQ(Str(list.get(), 2), "d");
  EXPECT_FALSE(HsiParamList_IsPacked(list.get()));
}

TEST(HsiParams, RemoveClosesUpTheDataArea) {
  List list = Make(HSI_PARAMLIST_INSTANCE, 8, 64);
  for (const char *s : {"alpha", "be", "gamma", "delta"})
    ASSERT_EQ(HsiParamList_AddString(list.get(), s), HYX_OK);
  ASSERT_EQ(HsiParamList_AddStringFront(list.get(), "zero"), HYX_OK);
  List spillList = Make(HSI_PARAMLIST_INSTANCE, 2, 0);
  ASSERT_EQ(HsiParamList_Remove(list.get(), 2), HYX_OK);  // "be"
  const HsiParamListRecord *rec = HsiParamList_Record(list.get());
  EXPECT_EQ(rec->count, 4u);
  EXPECT_EQ(rec->totalCount, 4u);
  EXPECT_EQ(rec->dataUsed, 6u + 6 + 6 + 5);
  EXPECT_TRUE(HsiParamList_IsPacked(list.get()));
  EXPECT_EQ(Str(list.get(), 0), "zero");
  EXPECT_EQ(Str(list.get(), 1), "alpha");
  EXPECT_EQ(Str(list.get(), 2), "gamma");
  EXPECT_EQ(Str(list.get(), 3), "delta");
  EXPECT_EQ(HsiParamList_GetParam(list.get(), 4)->type, HSI_PARAM_EMPTY);
  // The bytes lie one after the other from the header on, in insertion order.
  const char *area = reinterpret_cast<const char *>(rec) + rec->headerSize;
  EXPECT_EQ(std::string(area, rec->dataUsed), std::string("alpha\0gamma\0delta\0zero\0", 23));

  while (HsiParamList_Count(list.get())) ASSERT_EQ(HsiParamList_RemoveLast(list.get()), HYX_OK);
  EXPECT_EQ(rec->nextDataOffset, rec->headerSize);
  EXPECT_EQ(rec->dataUsed, 0u);
  EXPECT_EQ(rec->totalCount, 0u);
  EXPECT_EQ(HsiParamList_RemoveLast(list.get()), HYX_LIMIT_EXCEEDED);
  EXPECT_EQ(HsiParamList_Remove(list.get(), 0), HYX_BAD_PARAM);

  // A spilled string is freed on removal (the leak checker of the sanitizer
  // builds would see it otherwise) and leaves inline strings alone.
  ASSERT_EQ(HsiParamList_AddString(spillList.get(), "spilled"), HYX_OK);
  ASSERT_EQ(HsiParamList_AddInt(spillList.get(), 3), HYX_OK);
  ASSERT_EQ(HsiParamList_Remove(spillList.get(), 0), HYX_OK);
  EXPECT_EQ(HsiParamList_Record(spillList.get())->dataUsed, 0u);
  EXPECT_TRUE(HsiParamList_IsPacked(spillList.get()));
}

TEST(HsiParams, TotalCountOnlyInInstanceLists) {
  List values = Make(HSI_PARAMLIST_VALUES, 4);
  ASSERT_EQ(HsiParamList_AddInt(values.get(), 1), HYX_OK);
  ASSERT_EQ(HsiParamList_AddString(values.get(), "a"), HYX_OK);
  EXPECT_EQ(HsiParamList_TotalCount(values.get()), 0u);
  List copy(HsiParamList_Copy(values.get(), 0));
  EXPECT_EQ(HsiParamList_TotalCount(copy.get()), 0u);

  // A list the kernel filled: more instances than slots.
  List filled = Make(HSI_PARAMLIST_INSTANCE, 16);
  HsiParamList_Record(filled.get())->totalCount = 40;
  EXPECT_EQ(HsiParamList_TotalCount(filled.get()), 40u);
  EXPECT_EQ(HsiParamList_Count(filled.get()), 0u);
}

TEST(HsiParams, FixedListRefusesWhenFull) {
  List list = Make(HSI_PARAMLIST_VALUES, 1, 16, HSI_PARAMLIST_FIXED);
  ASSERT_EQ(HsiParamList_AddString(list.get(), "one"), HYX_OK);
  auto before = Image(list.get());
  EXPECT_EQ(HsiParamList_AddInt(list.get(), 1), HYX_LIMIT_EXCEEDED);
  EXPECT_EQ(HsiParamList_AddStringFront(list.get(), "two"), HYX_LIMIT_EXCEEDED);
  EXPECT_EQ(HsiParamList_AddLongString(list.get(), "three"), HYX_LIMIT_EXCEEDED);
  EXPECT_EQ(Image(list.get()), before);
}

TEST(HsiParams, LongStringsAreCutIntoPieces) {
  std::string text(5000, 'q');
  text[2047] = 'A';  // last byte of the first piece
  List list = Make(HSI_PARAMLIST_VALUES, 2);
  ASSERT_EQ(HsiParamList_AddLongString(list.get(), text.c_str()), HYX_OK);
  ASSERT_EQ(HsiParamList_Count(list.get()), 4u);
  uint64_t length;
  ASSERT_EQ(HsiParamList_GetInt(list.get(), 0, &length), HYX_OK);
  EXPECT_EQ(length, 5001u);
  std::string joined;
  const uint32_t pieces[] = {2048, 2048, 905};
  for (uint32_t i = 0; i < 3; i++) {
    const HsiParam *p = HsiParamList_GetParam(list.get(), i + 1);
    EXPECT_EQ(p->length, pieces[i]);
    joined.append(HsiParam_GetString(p), p->length);
  }
  EXPECT_EQ(joined, text + '\0');
  // Only the last piece is a NUL-terminated string.
  const char *s;
  EXPECT_EQ(HsiParamList_GetString(list.get(), 1, &s), HYX_BAD_PARAM_TYPE);
  EXPECT_EQ(HsiParamList_GetString(list.get(), 3, &s), HYX_OK);

  // No room for every piece: nothing stays behind.
  List fixed = Make(HSI_PARAMLIST_INSTANCE, 3, 0, HSI_PARAMLIST_FIXED);
  ASSERT_EQ(HsiParamList_AddInt(fixed.get(), 9), HYX_OK);
  auto before = Image(fixed.get());
  EXPECT_EQ(HsiParamList_AddLongString(fixed.get(), text.c_str()), HYX_LIMIT_EXCEEDED);
  EXPECT_EQ(Image(fixed.get()), before);
  EXPECT_EQ(HsiParamList_AddLongString(nullptr, "x"), HYX_BAD_PARAM);
  EXPECT_EQ(HsiParamList_AddLongString(fixed.get(), nullptr), HYX_BAD_PARAM);
}

TEST(HsiParams, CheckedReads) {
  List list = Make(HSI_PARAMLIST_VALUES, 4);
  ASSERT_EQ(HsiParamList_AddInt(list.get(), 0x1ffffffffull), HYX_OK);
  ASSERT_EQ(HsiParamList_AddInt(list.get(), 300), HYX_OK);
  ASSERT_EQ(HsiParamList_AddString(list.get(), "s"), HYX_OK);
  const char *s;
  uint64_t u64;
  uint32_t u32;
  uint16_t u16;
  uint8_t u8;
  EXPECT_EQ(HsiParamList_GetString(list.get(), 0, &s), HYX_BAD_PARAM_TYPE);
  EXPECT_EQ(HsiParamList_GetString(list.get(), 3, &s), HYX_BAD_PARAM_COUNT);
  EXPECT_EQ(HsiParamList_GetInt(list.get(), 2, &u64), HYX_BAD_PARAM_TYPE);
  EXPECT_EQ(HsiParamList_GetInt(list.get(), 3, &u64), HYX_BAD_PARAM_COUNT);
  EXPECT_EQ(HsiParamList_GetUint32(list.get(), 0, &u32), HYX_BAD_PARAM);
  EXPECT_EQ(HsiParamList_GetLow32(list.get(), 0, &u32), HYX_OK);
  EXPECT_EQ(u32, 0xffffffffu);
  EXPECT_EQ(HsiParamList_GetUint16(list.get(), 1, &u16), HYX_OK);
  EXPECT_EQ(u16, 300);
  EXPECT_EQ(HsiParamList_GetUint8(list.get(), 1, &u8), HYX_BAD_PARAM);
  EXPECT_EQ(HsiParamList_SetInt(list.get(), 1, 255), HYX_OK);
  EXPECT_EQ(HsiParamList_GetUint8(list.get(), 1, &u8), HYX_OK);
  EXPECT_EQ(u8, 255);
  EXPECT_EQ(HsiParamList_SetInt(list.get(), 2, 1), HYX_BAD_PARAM_TYPE);
  EXPECT_EQ(HsiParamList_SetInt(list.get(), 3, 1), HYX_BAD_PARAM_COUNT);

  EXPECT_TRUE(HsiParamList_FindInt(list.get(), 255));
  EXPECT_FALSE(HsiParamList_FindInt(list.get(), 300));
  EXPECT_TRUE(HsiParamList_FindString(list.get(), "s"));
  EXPECT_FALSE(HsiParamList_FindString(list.get(), ""));
  EXPECT_FALSE(HsiParamList_FindString(list.get(), "st"));
}

// Slots as a kernel might write them: a string must lie inside the data
// area, be non-empty and end in its NUL before it is handed out.
TEST(HsiParams, StringsFromTheKernelAreChecked) {
  List list = Make(HSI_PARAMLIST_INSTANCE, 2, 16);
  HsiParamListRecord *rec = HsiParamList_Record(list.get());
  memcpy(reinterpret_cast<char *>(rec) + rec->headerSize, "nic0\0nic1", 10);
  rec->count = 2;
  HsiParam *p = HsiParamList_GetParam(list.get(), 0);
  const char *s;
  struct Case {
    uint64_t offset;
    uint32_t length;
    HYX_ReturnStatus want;
  } cases[] = {
      {rec->headerSize, 5, HYX_OK},
      {rec->headerSize, 4, HYX_BAD_PARAM_TYPE},       // no NUL at length - 1
      {rec->headerSize, 0, HYX_BAD_PARAM_TYPE},       // empty
      {rec->headerSize + 12, 5, HYX_BAD_PARAM_TYPE},  // runs past the data area
      {rec->headerSize - 8, 5, HYX_BAD_PARAM_TYPE},   // inside the slots
  };
  for (const Case &c : cases) {
    *p = HsiParam{rec->base, 0, c.offset, c.length, HSI_PARAM_STRING};
    EXPECT_EQ(HsiParamList_GetString(list.get(), 0, &s), c.want) << c.offset << "/" << c.length;
  }
  *p = HsiParam{rec->base, 0, rec->headerSize + 5, 5, HSI_PARAM_STRING};
  ASSERT_EQ(HsiParamList_GetString(list.get(), 0, &s), HYX_OK);
  EXPECT_STREQ(s, "nic1");
  rec->count = 0;
}

TEST(HsiParams, NullHandles) {
  const char *s;
  uint64_t v;
  EXPECT_EQ(HsiParamList_Free(nullptr), HYX_BAD_PARAM);
  EXPECT_EQ(HsiParamList_AddInt(nullptr, 1), HYX_BAD_PARAM);
  EXPECT_EQ(HsiParamList_AddIntFront(nullptr, 1), HYX_BAD_PARAM);
  EXPECT_EQ(HsiParamList_AddString(nullptr, "a"), HYX_BAD_PARAM);
  EXPECT_EQ(HsiParamList_AddStringFront(nullptr, "a"), HYX_BAD_PARAM);
  EXPECT_EQ(HsiParamList_Remove(nullptr, 0), HYX_BAD_PARAM);
  EXPECT_EQ(HsiParamList_RemoveLast(nullptr), HYX_BAD_PARAM);
  EXPECT_EQ(HsiParamList_Count(nullptr), 0u);
  EXPECT_EQ(HsiParamList_TotalCount(nullptr), 0u);
  EXPECT_EQ(HsiParamList_Capacity(nullptr), 0u);
  EXPECT_EQ(HsiParamList_WireSize(nullptr), 0u);
  EXPECT_EQ(HsiParamList_BufferSize(nullptr), 0u);
  EXPECT_FALSE(HsiParamList_IsPacked(nullptr));
  EXPECT_FALSE(HsiParamList_Copy(nullptr, 0));
  EXPECT_EQ(HsiParamList_GetString(nullptr, 0, &s), HYX_BAD_PARAM);
  EXPECT_EQ(HsiParamList_GetInt(nullptr, 0, &v), HYX_BAD_PARAM);

  // A handle whose record is gone is still freed.
  HsiParamList list = HsiParamList_Alloc(HSI_PARAMLIST_VALUES, 1);
  free(list->record);
  list->record = nullptr;
  EXPECT_EQ(HsiParamList_Free(list), HYX_BAD_PARAM);
}

// Every allocation an operation makes is failed in turn: the operation says
// HYX_NO_MEMORY (or null) and the list is exactly as it was.
TEST(HsiParams, AllocationFailuresLeaveListsUnchanged) {
  for (uint64_t nth = 1; nth <= 2; nth++) {
    AllocFail_Arm(nth);
    EXPECT_EQ(HsiParamList_AllocSized(HSI_PARAMLIST_VALUES, 4, 16, 0), nullptr) << nth;
  }
  AllocFail_Arm(0);

  using Op = HYX_ReturnStatus (*)(HsiParamList);
  const Op ops[] = {
      [](HsiParamList l) { return HsiParamList_AddInt(l, 5); },              // grows
      [](HsiParamList l) { return HsiParamList_AddStringFront(l, "xyz"); },  // spills and grows
      [](HsiParamList l) { return HsiParamList_AddString(l, "q"); },
      [](HsiParamList l) { return HsiParamList_AddLongString(l, std::string(3000, 'w').c_str()); },
  };
  for (size_t op = 0; op < std::size(ops); op++) {
    for (uint64_t nth = 1;; nth++) {
      List list = Make(HSI_PARAMLIST_INSTANCE, 2, 2);
      ASSERT_EQ(HsiParamList_AddString(list.get(), "a"), HYX_OK);
      ASSERT_EQ(HsiParamList_AddInt(list.get(), 1), HYX_OK);
      auto before = Image(list.get());
      uint32_t capacity = HsiParamList_Capacity(list.get());
      AllocFail_Arm(nth);
      HYX_ReturnStatus status = ops[op](list.get());
      AllocFail_Arm(0);
      if (status == HYX_OK) break;
      EXPECT_EQ(status, HYX_NO_MEMORY) << "op " << op << " allocation " << nth;
      if (op != 3) {
        EXPECT_EQ(Image(list.get()), before) << "op " << op << " allocation " << nth;
      } else {  // a long string may have grown the list before it failed
        EXPECT_EQ(HsiParamList_Count(list.get()), 2u);
        EXPECT_EQ(HsiParamList_Record(list.get())->dataUsed, 2u);
        EXPECT_EQ(Str(list.get(), 0), "a");
      }
      if (op != 3) {
        EXPECT_EQ(HsiParamList_Capacity(list.get()), capacity);
      }
      ASSERT_LT(nth, 10u);
    }
  }

  List list = Make(HSI_PARAMLIST_VALUES, 2, 0);
  ASSERT_EQ(HsiParamList_AddString(list.get(), "spilled"), HYX_OK);
  AllocFail_Arm(2);
  EXPECT_EQ(HsiParamList_Copy(list.get(), 0), nullptr);
  AllocFail_Arm(0);
}

}  // namespace
