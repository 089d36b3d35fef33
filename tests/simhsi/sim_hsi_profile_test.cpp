// A profile whose system-information section names a node, field or value
// the kernel's tables do not have stops the host at once, saying which.
#include <gtest/gtest.h>
#include <sys/wait.h>

#include <cstdio>
#include <string>

#include "run_command.h"

namespace {

using Outcome = CommandOutcome;

Outcome RunWith(const std::string &name, const std::string &hsi) {
  std::string path = std::string(WORK_DIR) + "/" + name + ".json";
  FILE *file = fopen(path.c_str(), "w");
  fprintf(file, "{\"kernel\": {\"type\": \"hyxkernel\"}, %s}\n", hsi.c_str());
  fclose(file);
  std::string command = std::string(HYXSIM_PATH) + " --profile " + path + " -- /bin/true 2>&1";
  return RunCommand(command);
}

TEST(SimHsiProfile, FaultsAreNamed) {
  struct Case {
    const char *name, *hsi, *says;
  } cases[] = {
      {"no-node", R"("hsi": {"system_nosuch": {"value": 1}})", "no node system_nosuch"},
      {"no-field", R"("hsi": {"timer_info": {"value": {"tcHertz": 1}}})", "has no field tcHertz"},
      {"bad-enum", R"("hsi": {"system_version": {"value": {"cpuArch": "Sparc"}}})", "cpuArch"},
      {"long-text",
       R"("hsi": {"system_version": {"value": {"product": "0123456789012345678901234567890123"}}})",
       "longer than"},
      {"instances", R"("hsi": {"net_pNics_properties": {"value": {}}})", "takes 1 instance values"},
      {"module-type", R"("hsiModules": [{"name": "m", "nodes": [{"name": "x", "get": "NoSuchType"}]}])",
       "no type NoSuchType"},
  };
  for (const Case &c : cases) {
    Outcome outcome = RunWith(c.name, c.hsi);
    EXPECT_TRUE(WIFEXITED(outcome.status) && WEXITSTATUS(outcome.status) != 0) << c.name;
    EXPECT_NE(outcome.output.find(c.says), std::string::npos) << c.name << ": " << outcome.output;
  }
  EXPECT_EQ(RunWith("fine", R"("hsi": {"timer_info": {"value": {"tc": 5}}})").status, 0);
}

}  // namespace
