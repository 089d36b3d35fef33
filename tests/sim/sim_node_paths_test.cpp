// Node paths over the kernel's tables, as the simulator and hyxsim read
// them: hyxsim checks --trace-nodes against the interface's own numbering
// only, which holds because a renumbered kernel names the same nodes by the
// same paths.
#include <gtest/gtest.h>

#include <string>

#include "models/hsiPaths.h"
#include "simhsi_renumbered/hsiTablesSim.h"

namespace {

using hyxsim::HsiTableSet;

const HsiTableSet &Renumbered() {
  static const HsiTableSet tables{simhsi_renumbered::hsiTables.nodes, simhsi_renumbered::hsiTables.nodeCount,
                                  simhsi_renumbered::HSI_SIGNATURE, simhsi_renumbered::hsiTables.types,
                                  simhsi_renumbered::hsiTables.typeCount};
  return tables;
}

std::string PathOf(const HsiTableSet &tables, uint32_t node) {
  std::string path;
  EXPECT_TRUE(hyxsim::HsiAppendNodePath(tables, node, path)) << node;
  return path;
}

// Every node of one numbering is found in the other by its path, in both
// spellings, and is spelt there the same way.
void ExpectSameNodes(const HsiTableSet &from, const HsiTableSet &to) {
  for (uint32_t id = from.base + 1; from.Has(id); id++) {
    std::string path = PathOf(from, id);
    std::string underscored = path;
    for (char &c : underscored)
      if (c == '/') c = '_';
    for (const std::string &spelling : {path, underscored}) {
      uint32_t found = hyxsim::HsiNodeByPath(to, spelling);
      ASSERT_TRUE(to.Has(found)) << spelling;
      EXPECT_EQ(PathOf(to, found), path) << spelling;
    }
  }
}

TEST(SimNodePaths, BothNumberingsNameTheSameNodes) {
  const HsiTableSet &own = hyxsim::OwnHsiTables();
  ASSERT_EQ(own.nodeCount, Renumbered().nodeCount);
  uint32_t moved = 0;
  for (uint32_t id = 1; id < own.nodeCount; id++) moved += PathOf(own, id) != PathOf(Renumbered(), id);
  EXPECT_GT(moved, 0u) << "the renumbered tables number the nodes as the own ones do";
  ExpectSameNodes(own, Renumbered());
  ExpectSameNodes(Renumbered(), own);
}

TEST(SimNodePaths, TraceNodePrefixes) {
  struct Case {
    const char *given;
    bool named;
    const char *prefix;
  } cases[] = {
      {"net/pNics", true, "net/pNics"},
      {"net_pNics", true, "net/pNics"},
      {"net/pNics//", true, "net/pNics"},
      {"storage:", true, "storage:"},
      {"mod:a/b/", true, "mod:a/b"},
      {"bogus", false, ""},
      {"net/pN", false, ""},
      {"net/pNics/nosuch", false, ""},
      {"/", false, ""},
      {"pNics", false, ""},
  };
  for (const Case &c : cases) {
    std::string prefix = "stale";
    EXPECT_EQ(hyxsim::HsiTraceNodePrefix(hyxsim::OwnHsiTables(), c.given, prefix), c.named) << c.given;
    if (c.named) {
      EXPECT_EQ(prefix, c.prefix) << c.given;
    }
  }
}

}  // namespace
