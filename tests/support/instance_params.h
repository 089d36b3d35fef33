// A packed instance list built in one line for tests that make HSI calls:
// strings from an initializer list, integers with Int().
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <initializer_list>

#include "hyxsysinfo/hsiParams.h"
#include "hyxsysinfo/kernelWire.h"

struct Params {
  HsiParamList list = HsiParamList_AllocSized(HSI_PARAMLIST_INSTANCE, 4, 256, 0);
  Params() = default;
  Params(std::initializer_list<const char *> texts) {
    for (const char *text : texts) EXPECT_EQ(HsiParamList_AddString(list, text), HYX_OK);
  }
  ~Params() { HsiParamList_Free(list); }
  Params(const Params &) = delete;
  Params &operator=(const Params &) = delete;
  Params &Int(uint64_t value) {
    EXPECT_EQ(HsiParamList_AddInt(list, value), HYX_OK);
    return *this;
  }
  HsiParamListRecord *Record() { return HsiParamList_Record(list); }
  uint32_t Size() { return HsiParamList_WireSize(list); }
};
