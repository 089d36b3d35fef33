// Counts and fails the allocations the library makes.  The test program
// links hyx_alloc_fail, which defines malloc, calloc, realloc, free, strdup
// and strndup in the program itself: every call the shipped libhyxuser.so
// makes (and every call glibc's own functions make) reaches these first.
// Only calls made by the library's code count: libhyxuser.so when the
// program loads it, else the program itself, which then carries the
// library's archive.  The simulator, the C++ runtime and glibc's own
// allocations are never counted and never failed.
#pragma once

#include <cstdint>

// Makes the nth counted allocation from now (1 = the next one) return null
// with errno ENOMEM; 0 disarms.
void AllocFail_Arm(uint64_t nth);
// Counted allocations since the program started.
uint64_t AllocFail_Count();
// Blocks the library's code allocated that are not yet freed (by anyone);
// -1 once more were live at a time than the injector can follow.
int64_t AllocFail_Outstanding();

// Runs call once to count its allocations, then once more for each of them
// with that one failed, handing check the status and which allocation
// failed.  Returns how many allocations the call makes.
template <typename Call, typename Check>
uint64_t AllocFail_Sweep(Call call, Check check) {
  uint64_t before = AllocFail_Count();
  call();
  uint64_t allocations = AllocFail_Count() - before;
  for (uint64_t nth = 1; nth <= allocations; nth++) {
    AllocFail_Arm(nth);
    auto status = call();
    AllocFail_Arm(0);
    check(status, nth);
  }
  return allocations;
}
