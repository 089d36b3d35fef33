// hyxinfo's host-information commands, run as a user runs them inside this
// suite's sandbox: each command is its own process on the same simulated
// host, so a variable one of them writes is there for the next.
#include <gtest/gtest.h>
#include <sys/wait.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <nlohmann/json.hpp>
#include <string>

#include "hyxuser/hyxuser.h"
#include "run_command.h"

namespace {

const std::string kHyxinfo = HYX_HYXINFO;

struct Outcome {
  int exitCode;
  std::string output;
};

Outcome Hyxinfo(const std::string &arguments) {
  CommandOutcome outcome = RunCommand(kHyxinfo + " " + arguments + " 2>&1");
  return {WIFEXITED(outcome.status) ? WEXITSTATUS(outcome.status) : -1, outcome.output};
}

nlohmann::json Json(const std::string &arguments) {
  CommandOutcome outcome = RunCommand(kHyxinfo + " --json " + arguments);
  EXPECT_EQ(outcome.status, 0) << arguments;
  nlohmann::json value = nlohmann::json::parse(outcome.output, nullptr, false);
  EXPECT_FALSE(value.is_discarded()) << arguments << ": " << outcome.output;
  return value;
}

TEST(HostinfoTool, UefiSetGetAndRemoveRoundTripAcrossProcesses) {
  const std::string name = "HyxToolTest-6e1d0b9a-5c4f-4a2e-9d8b-00e098032b8c";
  FILE *file = fopen("/tmp/uefi-contents", "wb");
  ASSERT_NE(file, nullptr);
  fwrite("\x01\x00hyx", 1, 5, file);
  fclose(file);
  Outcome set = Hyxinfo("uefi set " + name + " 0x7 /tmp/uefi-contents");
  ASSERT_EQ(set.exitCode, 0) << set.output;

  nlohmann::json got = Json("uefi get " + name);
  EXPECT_EQ(got["attributes"], 7);
  EXPECT_EQ(got["length"], 5);
  EXPECT_EQ(got["data"], "0100687978");
  nlohmann::json listed = Json("uefi list");
  EXPECT_NE(std::find(listed["variables"].begin(), listed["variables"].end(), name),
            listed["variables"].end());

  ASSERT_EQ(Hyxinfo("uefi rm " + name).exitCode, 0);
  Outcome gone = Hyxinfo("uefi get " + name);
  EXPECT_EQ(gone.exitCode, 1);
  char expected[128];
  snprintf(expected, sizeof expected, "hyxinfo: uefi get: HYX_NOT_FOUND (0x%08x): ", HYX_NOT_FOUND);
  EXPECT_EQ(gone.output.rfind(expected, 0), 0u) << gone.output;
  listed = Json("uefi list");
  EXPECT_EQ(std::find(listed["variables"].begin(), listed["variables"].end(), name),
            listed["variables"].end());
}

TEST(HostinfoTool, NicsAndVersionShowTheProfilesHost) {
  Outcome nics = Hyxinfo("nics");
  ASSERT_EQ(nics.exitCode, 0) << nics.output;
  EXPECT_NE(nics.output.find("vmnic2           down"), std::string::npos) << nics.output;
  EXPECT_NE(nics.output.find("00:1e:67:a0:31:10"), std::string::npos) << nics.output;
  nlohmann::json list = Json("nics");
  ASSERT_TRUE(list.is_array());
  ASSERT_EQ(list.size(), 3u);
  EXPECT_EQ(list[0]["name"], "vmnic0");
  EXPECT_EQ(list[0]["linkSpeed"], 10000);
  EXPECT_EQ(list[2]["linkUp"], false);

  Outcome version = Hyxinfo("version");
  ASSERT_EQ(version.exitCode, 0) << version.output;
  EXPECT_NE(version.output.find("Hyxkernel 8.0.3"), std::string::npos) << version.output;
  nlohmann::json json = Json("version");
  EXPECT_EQ(json["product"], "Hyxkernel");
  EXPECT_EQ(json["buildType"], "release");
  EXPECT_EQ(json["build"], 24585383);
}

TEST(HostinfoTool, EveryCommandsJsonParses) {
  nlohmann::json interfaces = Json("interfaces");
  ASSERT_EQ(interfaces.size(), 2u);
  EXPECT_EQ(interfaces[1]["ipv4Address"], "192.168.40.11");
  EXPECT_EQ(interfaces[1]["mtu"], 9000);
  EXPECT_EQ(Json("uptime")["microseconds"], 825785982);
  nlohmann::json acpi = Json("acpi APIC 0");
  EXPECT_EQ(acpi["length"], 10);
  EXPECT_EQ(acpi["bytes"], "41504943480000000465");
  nlohmann::json smbios = Json("smbios");
  EXPECT_EQ(smbios["bios"]["version"], "2.19.1");
  EXPECT_EQ(smbios["system"]["product"], "HX-740 Rack Server");
  EXPECT_EQ(smbios["processors"][0]["cores"], 16);
  EXPECT_EQ(Json("smbios raw")["length"], 288);
}

TEST(HostinfoTool, RawTablesGoToAFileAndFailuresSayWhy) {
  ASSERT_EQ(Hyxinfo("acpi FACP -o /tmp/facp").exitCode, 0);
  CommandOutcome bytes = RunCommand("cat /tmp/facp");
  EXPECT_EQ(bytes.output, std::string("FACP\x14\x01\x00\x00\x06", 9));
  Outcome missing = Hyxinfo("acpi XSDT");
  EXPECT_EQ(missing.exitCode, 1);
  EXPECT_NE(missing.output.find("HYX_NOT_FOUND"), std::string::npos) << missing.output;
  EXPECT_EQ(Hyxinfo("uefi set Name-0 0 /tmp/facp").exitCode, 1);  // attributes 0: HYX_BAD_PARAM
  EXPECT_EQ(Hyxinfo("acpi TOOLONG").exitCode, 2);
}

}  // namespace
