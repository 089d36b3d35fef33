// Counts and fails malloc calls of the code linked into a test.  The test
// links with -Wl,--wrap=malloc (hyx_wrap_malloc), so this sees every malloc
// of the library's static archive and of the test itself, and nothing of
// the C++ runtime's operator new.
#pragma once

#include <cstdint>

// Makes the nth malloc from now (1 = the next one) return null; 0 disarms.
void AllocFail_Arm(uint64_t nth);
// malloc calls since the program started.
uint64_t AllocFail_Count();
