// hyxhsi's storage lists and hyxinfo's storage, vm and nvd commands end to end, inside the sandbox of
// the example host: their --json output parsed, their tables read.
#include <gtest/gtest.h>
#include <sys/wait.h>

#include <nlohmann/json.hpp>
#include <string>

#include "run_command.h"

namespace {

nlohmann::json Json(const std::string &arguments, const char *tool = HYX_HYXINFO) {
  CommandOutcome outcome = RunCommand(std::string(tool) + " " + arguments + " --json");
  EXPECT_EQ(outcome.status, 0) << arguments << ": " << outcome.output;
  return nlohmann::json::parse(outcome.output, nullptr, false);
}

TEST(HyxinfoHost, StoragePathsShowEveryPathOfTheHost) {
  nlohmann::json paths = Json("storage paths", HYX_HYXHSI);
  ASSERT_TRUE(paths.is_array());
  ASSERT_EQ(paths.size(), 7u);
  size_t onFc = 0;
  for (const auto &path : paths) onFc += path["adapter"] == "vmhba2";
  EXPECT_EQ(onFc, 6u);
  EXPECT_EQ(paths[0]["device"], "naa.614187704e5b3a002a3c5b2e1f0e8d41");
  EXPECT_EQ(paths[0]["adapter"], "vmhba0");
  EXPECT_EQ(paths[0]["channel"], 2);

  CommandOutcome table = RunCommand(HYX_HYXHSI " storage paths");
  EXPECT_EQ(table.status, 0);
  EXPECT_EQ(table.output.rfind("ADAPTER", 0), 0u) << table.output;
  EXPECT_NE(table.output.find("vmhba2       0       1      2    naa.600a098038314d6a2b5d4f7a6c2f6b42"),
            std::string::npos)
      << table.output;
}

TEST(HyxinfoHost, StorageAdaptersDevicesAndPciLocation) {
  nlohmann::json adapters = Json("storage adapters", HYX_HYXHSI);
  ASSERT_EQ(adapters.size(), 2u);
  EXPECT_EQ(adapters[1]["name"], "vmhba2");
  EXPECT_EQ(adapters[1]["pci"]["bus"], 59);
  EXPECT_EQ(adapters[1]["activeDevices"].size(), 4u);
  nlohmann::json devices = Json("storage devices", HYX_HYXHSI);
  ASSERT_EQ(devices.size(), 5u);
  size_t nextgen = 0;
  for (const auto &device : devices) nextgen += device["nextgenNvme"] == true;
  EXPECT_EQ(nextgen, 1u);
  EXPECT_EQ(devices[1]["vpd83"], "0083001401030010600a098038314d6a2b5d4f7a6c2f6b41");
  nlohmann::json pci = Json("storage pci vmhba0");
  EXPECT_EQ(pci["bus"], 2);
  CommandOutcome missing = RunCommand(HYX_HYXINFO " storage pci vmhba9 2>&1");
  EXPECT_EQ(WEXITSTATUS(missing.status), 1);
  EXPECT_NE(missing.output.find("HYX_NOT_FOUND"), std::string::npos) << missing.output;
}

TEST(HyxinfoHost, VmShowsTheWorldsVirtualMachine) {
  nlohmann::json vm = Json("vm 527120");
  EXPECT_EQ(vm["world"], 527120);
  EXPECT_EQ(vm["uuid"], "42 1c 8d 7f 02 b6 4e 93-a1 55 c0 6e 3b 28 d7 f1");
  EXPECT_EQ(vm["instanceUuid"], "50139d4e-2f87-4c60-b1a3-95d0e7f2c816");
  EXPECT_EQ(vm["configPath"], "/vmfs/volumes/fc-lun1/db-01/db-01.vmx");
  CommandOutcome table = RunCommand(HYX_HYXINFO " vm 526441");
  EXPECT_EQ(table.status, 0);
  EXPECT_NE(table.output.find("config path:   /vmfs/volumes/datastore1/web-01/web-01.vmx\n"),
            std::string::npos)
      << table.output;
}

TEST(HyxinfoHost, NvdCapabilities) {
  nlohmann::json caps = Json("nvd caps");
  EXPECT_EQ(caps["maxNamespaces"], 32);
  EXPECT_EQ(caps["supportedFeatures"], 0x803f);
  EXPECT_EQ(caps["features"].size(), 7u);
  EXPECT_EQ(caps["features"][6], "SEND_PASSTHRU_FLAG");
}

}  // namespace
