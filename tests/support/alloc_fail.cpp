#include "alloc_fail.h"

#include <cstddef>

extern "C" void *__real_malloc(size_t size);
extern "C" void *__real_calloc(size_t count, size_t size);

namespace {
uint64_t gCalls;
uint64_t gFailAt;  // call number that fails; 0 = none
}  // namespace

extern "C" void *__wrap_malloc(size_t size) {
  if (++gCalls == gFailAt) {
    gFailAt = 0;
    return nullptr;
  }
  return __real_malloc(size);
}

extern "C" void *__wrap_calloc(size_t count, size_t size) {
  if (++gCalls == gFailAt) {
    gFailAt = 0;
    return nullptr;
  }
  return __real_calloc(count, size);
}

void AllocFail_Arm(uint64_t nth) { gFailAt = nth ? gCalls + nth : 0; }

uint64_t AllocFail_Count() { return gCalls; }
