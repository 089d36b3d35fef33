// C names for the allocation counters, for programs that reach them with
// dlsym (the Python suites, through ctypes).
#include <cstdint>

#include "alloc_fail.h"

extern "C" __attribute__((visibility("default"))) uint64_t HyxAllocPreload_Count() {
  return AllocFail_Count();
}
extern "C" __attribute__((visibility("default"))) int64_t HyxAllocPreload_Outstanding() {
  return AllocFail_Outstanding();
}
