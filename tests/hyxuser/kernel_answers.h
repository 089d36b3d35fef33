// Scripted kernel answers for the host-information suites: what the host
// profile cannot produce (odd lists, lengths the kernel should not report).
#pragma once

#include <malloc.h>

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "hyxsim/hyxsim.h"
#include "hyxsysinfo/kernelWire.h"
#include "hyxuser/hyxuser.h"

// One value of a scripted instance list: text, or an integer where the
// caller expects text.
struct ListItem {
  std::string text;
  bool isInt = false;
};

// Fills the caller's instance list in place, as the kernel does: strings one
// after the other in the record's data area.
inline void AnswerInstanceList(HyxSimCall *call, void *context) {
  const auto &items = *static_cast<const std::vector<ListItem> *>(context);
  HsiListBlock block;
  memcpy(&block, reinterpret_cast<const void *>(call->args[5]), sizeof block);
  auto *record = reinterpret_cast<HsiParamListRecord *>(block.record);
  auto *slots = reinterpret_cast<HsiParam *>(record + 1);
  uint32_t fill = static_cast<uint32_t>(std::min<size_t>(items.size(), record->capacity));
  uint64_t next = record->headerSize;
  uint32_t used = 0;
  for (uint32_t i = 0; i < fill; i++) {
    HsiParam &slot = slots[i];
    memset(&slot, 0, sizeof slot);
    if (items[i].isInt) {
      slot.value = 5;
      slot.type = HSI_PARAM_INT;
      continue;
    }
    uint32_t length = static_cast<uint32_t>(items[i].text.size() + 1);
    memcpy(reinterpret_cast<uint8_t *>(record) + next, items[i].text.c_str(), length);
    slot.value = record->base;
    slot.offset = next;
    slot.length = length;
    slot.type = HSI_PARAM_STRING;
    next += length;
    used += length;
  }
  record->count = fill;
  record->totalCount = static_cast<uint32_t>(items.size());
  record->dataUsed = used;
  record->nextDataOffset = next;
  call->status = HYX_OK;
  call->error = 0;
}

// The get call's block: where the kernel writes and how much room it has.
inline HsiGetBlock GetBlockOf(const HyxSimCall *call) {
  HsiGetBlock block;
  memcpy(&block, reinterpret_cast<const void *>(call->args[5]), sizeof block);
  return block;
}

// Bytes the process holds from malloc: equal before and after a call that
// keeps nothing (the suites run single-threaded).
inline size_t HeapInUse() { return mallinfo2().uordblks; }
