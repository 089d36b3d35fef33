// The shell's resource-group argument, built from an attribute record.
#include <gtest/gtest.h>

#include <string>

#include "hyxuser/forkExec.h"

namespace {

struct GroupCase {
  const char *what;
  uint32_t flags;
  const char *group;
  uint64_t memMB;
  std::string expected;
};

TEST(GroupArg, OnlyTheGroupFlagMakesAnArgument) {
  const std::string longGroup(300, 'g');
  const GroupCase cases[] = {
      {"no flags", 0, "pool/a", 512, ""},
      {"group", HYXUSER_SPAWN_SETRP, "pool/a", 512, "++group=pool/a"},
      {"group and memory", HYXUSER_SPAWN_SETRP | HYXUSER_SPAWN_SETMEMMB, "pool/a", 512,
       "++group=pool/a,mem=512"},
      {"memory without group", HYXUSER_SPAWN_SETMEMMB, "pool/a", 512, ""},
      {"flag without a group", HYXUSER_SPAWN_SETRP | HYXUSER_SPAWN_SETMEMMB, nullptr, 512, ""},
      {"other flags ignored", 0xFFFFFCFF, "pool/a", 512, ""},
      {"whole 64-bit limit", HYXUSER_SPAWN_SETRP | HYXUSER_SPAWN_SETMEMMB, "p", UINT64_MAX,
       "++group=p,mem=18446744073709551615"},
      {"300-character group", HYXUSER_SPAWN_SETRP, longGroup.c_str(), 0,
       ("++group=" + longGroup).substr(0, 199)},
  };
  for (const GroupCase &c : cases) {
    HyxuserSpawnAttr attr{};
    attr.flags = c.flags;
    attr.resourceGroup = const_cast<char *>(c.group);
    attr.memMB = c.memMB;
    char buffer[GROUP_ARG_SIZE];
    memset(buffer, 'x', sizeof buffer);
    GroupArg_Build(&attr, buffer);
    EXPECT_EQ(buffer, c.expected) << c.what;
  }
  char buffer[GROUP_ARG_SIZE] = "stale";
  GroupArg_Build(nullptr, buffer);
  EXPECT_STREQ(buffer, "");
}

}  // namespace
