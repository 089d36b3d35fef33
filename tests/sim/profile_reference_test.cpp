// The host-profile reference is the simulator's own list: every section and
// field the simulator reads has a row in docs/host-profiles.md, and every
// row names one it reads.  Run on the host whose profile has every section
// (lists with elements), so the simulator has read every field there is.
#include <gtest/gtest.h>

#include <fstream>
#include <regex>
#include <set>
#include <string>

#include "hyxsim/hyxsim.h"

namespace {

// The first cells of the reference's table rows: "| `kernel.type` | ...".
std::set<std::string> Documented() {
  std::set<std::string> fields;
  std::ifstream in(HYX_PROFILE_REFERENCE);
  static const std::regex row("^\\| `([^`]+)` \\|");
  std::smatch match;
  for (std::string line; std::getline(in, line);)
    if (std::regex_search(line, match, row)) fields.insert(match[1]);
  return fields;
}

std::set<std::string> Read() {
  std::set<std::string> fields;
  HyxSim_ProfileFields(
      [](const char *path, void *context) { static_cast<std::set<std::string> *>(context)->insert(path); },
      &fields);
  return fields;
}

// Node values are named by node path and field names of the node's type:
// the reference gives their rule, not each one.
bool NodeValue(const std::string &field) {
  return field.rfind("hsi.", 0) == 0 || field.find(".hsi.") != std::string::npos;
}

TEST(ProfileReference, DocumentsEveryFieldTheSimulatorReads) {
  std::set<std::string> documented = Documented(), read = Read();
  ASSERT_GT(read.size(), 30u);
  for (const std::string &field : read)
    if (!NodeValue(field)) {
      EXPECT_EQ(documented.count(field), 1u) << field << " is read but not documented";
    }
  for (const std::string &field : documented)
    if (!NodeValue(field)) {
      EXPECT_EQ(read.count(field), 1u) << field << " is documented but never read";
    }
}

}  // namespace
