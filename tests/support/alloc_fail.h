// Counts and fails malloc and calloc calls of the code linked into a test.
// The test links with -Wl,--wrap=malloc,--wrap=calloc (hyx_alloc_fail), so
// this sees every such call of the library's static archive and of the test
// itself, and nothing of the C++ runtime's operator new.
#pragma once

#include <cstdint>

// Makes the nth allocation from now (1 = the next one) return null; 0 disarms.
void AllocFail_Arm(uint64_t nth);
// Allocations since the program started.
uint64_t AllocFail_Count();
