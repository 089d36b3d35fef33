// Random sequences of parameter-list operations against a plain model of
// the list.  After every operation the list must hold what the model holds,
// report packed exactly when no string is spilled, and, when packed, hold
// its strings one after the other in the data area from the header on.
#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>
#include <utility>
#include <vector>

#include "hyxsysinfo/hsiParams.h"

namespace {

struct Value {
  bool isInt;
  uint64_t v;
  std::string s;  // a string's bytes with the NUL
};
Value Int(uint64_t v) { return {true, v, {}}; }
Value Str(std::string s) { return {false, 0, std::move(s)}; }

struct Input {
  const uint8_t *p;
  size_t n;
  uint32_t Take(uint32_t bound) {  // a value below bound (bound > 0)
    uint32_t v = 0;
    for (int i = 0; i < 2 && n; i++, p++, n--) v = v << 8 | *p;
    return v % bound;
  }
};

void Check(bool ok) {
  if (!ok) abort();
}

void CheckList(HsiParamList list, const std::vector<Value> &model) {
  const HsiParamListRecord *rec = HsiParamList_Record(list);
  Check(rec->count == model.size() && rec->count <= rec->capacity);
  Check(rec->listType != HSI_PARAMLIST_INSTANCE || rec->totalCount == rec->count);
  Check(rec->base == reinterpret_cast<uintptr_t>(rec) && rec->headerSize == 64 + 32 * rec->capacity);
  uint64_t used = 0, inlineBytes = 0;
  bool spilled = false;
  std::vector<bool> covered;
  for (uint32_t i = 0; i < rec->count; i++) {
    const HsiParam *p = HsiParamList_GetParam(list, i);
    if (model[i].isInt) {
      Check(p->type == HSI_PARAM_INT && p->value == model[i].v && p->length == 0);
      continue;
    }
    const std::string &s = model[i].s;
    Check(p->type == HSI_PARAM_STRING && p->length == s.size());
    Check(memcmp(HsiParam_GetString(p), s.data(), s.size()) == 0);
    used += s.size();
    if (p->offset == 0) {
      spilled = true;
      continue;
    }
    Check(p->value == rec->base && p->offset >= rec->headerSize);
    Check(p->offset + p->length <= rec->nextDataOffset);
    inlineBytes += p->length;
    covered.resize(rec->nextDataOffset - rec->headerSize);
    for (uint64_t b = p->offset - rec->headerSize; b < p->offset - rec->headerSize + p->length; b++) {
      Check(!covered[b]);  // inline strings never overlap
      covered[b] = true;
    }
  }
  Check(rec->dataUsed == used);
  Check(HsiParamList_WireSize(list) == rec->headerSize + used);
  Check(HsiParamList_IsPacked(list) == !spilled);
  // The inline strings tile the data area's used part: removal closed it up.
  Check(rec->nextDataOffset == (rec->dataCapacity ? rec->headerSize + inlineBytes : 0));
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  Input in{data, size};
  uint32_t type = in.Take(2), flags = in.Take(4);
  HsiParamList list = HsiParamList_AllocSized(type, in.Take(20), in.Take(300), static_cast<uint8_t>(flags));
  if (!list) return 0;
  std::vector<Value> model;
  std::string text;
  while (in.n) {
    const HsiParamListRecord *rec = HsiParamList_Record(list);
    bool full = rec->count == rec->capacity && (rec->flags & HSI_PARAMLIST_FIXED);
    uint32_t op = in.Take(9);
    uint32_t count = static_cast<uint32_t>(model.size());
    HYX_ReturnStatus status = HYX_OK;
    if (op <= 1) {
      uint64_t v = in.Take(65536) * 0x100000001ull;
      status = op ? HsiParamList_AddIntFront(list, v) : HsiParamList_AddInt(list, v);
      Check(status == (full ? HYX_LIMIT_EXCEEDED : HYX_OK));
      if (status == HYX_OK) model.insert(op ? model.begin() : model.end(), Int(v));
    } else if (op <= 3) {
      text.assign(in.Take(2100), static_cast<char>('a' + count % 26));
      std::string bytes(text.c_str(), text.size() + 1);
      bool fits = rec->dataUsed + bytes.size() <= rec->dataCapacity;
      HYX_ReturnStatus want = bytes.size() > HSI_PARAM_MAX_STRING                ? HYX_LIMIT_EXCEEDED
                              : full                                             ? HYX_LIMIT_EXCEEDED
                              : (!fits && (rec->flags & HSI_PARAMLIST_NO_SPILL)) ? HYX_NO_MEMORY_RETRY
                                                                                 : HYX_OK;
      status = op == 3 ? HsiParamList_AddStringFront(list, text.c_str())
                       : HsiParamList_AddString(list, text.c_str());
      Check(status == want);
      if (status == HYX_OK) model.insert(op == 3 ? model.begin() : model.end(), Str(bytes));
    } else if (op == 4) {
      uint32_t index = in.Take(count + 1);
      status = HsiParamList_Remove(list, index);
      Check(status == (index < count ? HYX_OK : HYX_BAD_PARAM));
      if (status == HYX_OK) model.erase(model.begin() + index);
    } else if (op == 5) {
      status = HsiParamList_RemoveLast(list);
      Check(status == (count ? HYX_OK : HYX_LIMIT_EXCEEDED));
      if (status == HYX_OK) model.pop_back();
    } else if (op == 6) {
      text.assign(in.Take(5000), 'L');
      status = HsiParamList_AddLongString(list, text.c_str());
      if (status == HYX_OK) {
        model.push_back(Int(text.size() + 1));
        for (size_t at = 0; at <= text.size(); at += HSI_PARAM_MAX_STRING)
          model.push_back(Str(
              std::string(text.c_str() + at, std::min<size_t>(HSI_PARAM_MAX_STRING, text.size() + 1 - at))));
      }
    } else if (op == 7) {
      uint32_t first = in.Take(count + 2);
      HsiParamList copy = HsiParamList_Copy(list, first);
      Check((copy != nullptr) == (first <= count));
      if (copy) {
        Check(HsiParamList_IsPacked(copy));
        HsiParamList_Free(list);
        list = copy;
        model.erase(model.begin(), model.begin() + first);
      }
    } else {
      uint32_t index = in.Take(count + 1);
      uint64_t v = in.Take(256);
      status = HsiParamList_SetInt(list, index, v);
      bool isInt = index < count && model[index].isInt;
      Check(status == (index >= count ? HYX_BAD_PARAM_COUNT : isInt ? HYX_OK : HYX_BAD_PARAM_TYPE));
      if (status == HYX_OK) model[index].v = v;
    }
    CheckList(list, model);
  }
  Check(HsiParamList_Free(list) == HYX_OK);
  return 0;
}
