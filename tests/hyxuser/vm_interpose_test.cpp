// A program that interposes the default VM mapping: programs bound to the
// oldest version reach it too, since that version calls the default through
// the dynamic binding.
#include <dlfcn.h>
#include <gtest/gtest.h>

#include <cstring>

#include "hyxuser/hyxuser.h"
#include "status_matchers.h"

namespace {

using MapFn = HYX_ReturnStatus (*)(uint32_t, char *, char *);
int interposedCalls = 0;

}  // namespace

// The program's own default: counts, then hands on to the library's.
extern "C" HYX_ReturnStatus HyxuserVM_MapWorldIdToUUIDAndPath(uint32_t worldId, char *uuidOut,
                                                              char *pathOut) {
  interposedCalls++;
  auto next = reinterpret_cast<MapFn>(
      dlvsym(RTLD_NEXT, "HyxuserVM_MapWorldIdToUUIDAndPath", "NORVEX_HYXUSERVERSION_0.15"));
  return next ? next(worldId, uuidOut, pathOut) : static_cast<HYX_ReturnStatus>(HYX_FAILURE);
}

namespace {

TEST(VmInterposed, TheOldestVersionReachesTheInterposedDefault) {
  // (Also what keeps the library a needed one of this program.)
  ASSERT_THAT(HyxuserCompat_VerifyHSISigniture(), IsStatus(HYX_OK));
  auto oldest = reinterpret_cast<MapFn>(
      dlvsym(RTLD_DEFAULT, "HyxuserVM_MapWorldIdToUUIDAndPath", "NORVEX_HYXUSERVERSION_0.11.1"));
  auto later = reinterpret_cast<MapFn>(
      dlvsym(RTLD_DEFAULT, "HyxuserVM_MapWorldIdToUUIDAndPath", "NORVEX_HYXUSERVERSION_0.24"));
  ASSERT_NE(oldest, nullptr);
  ASSERT_NE(later, nullptr);
  char uuid[128] = {};
  interposedCalls = 0;
  ASSERT_THAT(oldest(526441, uuid, nullptr), IsStatus(HYX_OK));
  EXPECT_EQ(interposedCalls, 1);
  EXPECT_STREQ(uuid, "42 1c 5e 0a 9b 3d 47 21-8f 6a 0e 2d 71 c4 93 58");
  // The other versions do not go through the default.
  ASSERT_THAT(later(526441, uuid, nullptr), IsStatus(HYX_OK));
  EXPECT_EQ(interposedCalls, 1);
}

}  // namespace
