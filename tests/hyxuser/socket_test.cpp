// Sockets: the kernel's native address family.
#include <gtest/gtest.h>

#include "hyxuser/hyxuser.h"
#include "status_matchers.h"

namespace {

TEST(Socket, TheNativeFamilyIs26AndANullOutputIsRefused) {
  int family = 0;
  EXPECT_THAT(HyxuserSocket_NativeSocketFamily(&family), IsOk());
  EXPECT_EQ(family, 26);
  EXPECT_THAT(HyxuserSocket_NativeSocketFamily(nullptr), IsStatus(HYX_BAD_PARAM));
}

}  // namespace
