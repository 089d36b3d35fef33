// Host profiles as the simulated kernel reads them at start: every section
// checked, a fault named by its field (the refusal status), profiles that inherit
// another, and the built-in host a program gets without a profile.
#include <gtest/gtest.h>
#include <sys/wait.h>

#include <cstdio>
#include <sstream>
#include <string>

#include "hyxsim/hyxsim.h"
#include "run_command.h"

namespace {

std::string WriteProfile(const std::string &name, const std::string &text) {
  std::string path = std::string(WORK_DIR) + "/" + name + ".json";
  FILE *file = fopen(path.c_str(), "w");
  fputs(text.c_str(), file);
  fclose(file);
  return path;
}

// The probe run directly with HYXSIM_PROFILE (empty: unset).
CommandOutcome Probe(const std::string &profile, const char *facts) {
  std::string env = profile.empty() ? "env -u HYXSIM_PROFILE " : "env HYXSIM_PROFILE=" + profile + " ";
  return RunCommand(env + PROBE_PATH + " " + facts + " 2>&1");
}

int ExitCode(const CommandOutcome &outcome) {
  return WIFEXITED(outcome.status) ? WEXITSTATUS(outcome.status) : -1;
}

TEST(SimProfile, AFaultNamesItsFieldAndEndsTheProgramWithTheRefusalStatus) {
  struct Case {
    const char *name, *profile, *says;
  } cases[] = {
      {"hex", R"({"firmware": {"smbios": "hex:5f5z"}})", "firmware.smbios: bad hex digits \"5z\""},
      {"odd-hex", R"({"firmware": {"acpi": [{"signature": "APIC", "bytes": "hex:414"}]}})",
       "firmware.acpi[0].bytes: odd number of hex digits"},
      {"signature", R"({"firmware": {"acpi": [{"signature": "APC"}]}})",
       "firmware.acpi[0].signature: takes 4"},
      {"acpi-list", R"({"firmware": {"acpi": {}}})", "firmware.acpi: takes a list"},
      {"firmware-field", R"({"firmware": {"smbois": "x"}})", "firmware.smbois: unknown field"},
      {"checksum", R"({"kernel": {"syscallApiChecksum": "0xb535zz"}})", "kernel.syscallApiChecksum: "},
      {"checksum-size", R"({"kernel": {"syscallApiChecksum": 4294967296}})", "kernel.syscallApiChecksum: "},
      {"type", R"({"kernel": {"type": "bsd"}})", "kernel.type: \"bsd\" is none of"},
      {"numbering", R"({"kernel": {"hsiNumbering": 7}})", "kernel.hsiNumbering: takes text"},
      {"kernel-field", R"({"kernel": {"acceptsHsiSignatur": true}})",
       "kernel.acceptsHsiSignatur: unknown field"},
      {"kernel-object", R"({"kernel": []})", "kernel: takes an object"},
      {"mockup", R"({"mockup": "yes"})", "mockup: takes true or false"},
      {"section", R"({"firmwear": {}})", "firmwear: unknown section"},
      {"module-get", R"({"hsiModules": [{"name": "m", "nodes": [{"name": "x", "get": 5}]}]})",
       "hsiModules[0].nodes[0].get: takes text"},
      {"module-flag", R"({"hsiModules": [{"name": "m", "nodes": [{"name": "x", "instance": "yes"}]}]})",
       "hsiModules[0].nodes[0].instance: takes true or false"},
      {"module-name", R"({"hsiModules": [{"id": 3}]})", "hsiModules[0].name: "},
      {"hsi-bytes", R"({"hsi": {"timer_info": {"bytes": "hex:0"}}})", "hsi.timer_info: bytes: odd number"},
      {"hsi-entry", R"({"hsi": {"timer_info": {"valeu": 1}}})", "hsi.timer_info: valeu: unknown field"},
      {"volume-list", R"({"volumes": {}})", "volumes: takes a list"},
      {"volume-name", R"({"volumes": [{"name": "a/b"}]})", "volumes[0].name: takes a file name"},
      {"volume-dir", R"({"volumes": [{"name": "v", "directory": "floppy"}]})",
       "volumes[0].directory: \"floppy\" is no device directory"},
      {"volume-uuid", R"({"volumes": [{"name": "v", "hosts": [{"slot": 1, "uuid": "hex:01"}]}]})",
       "volumes[0].hosts[0].uuid: takes 16 bytes"},
      {"volume-slot",
       R"({"volumes": [{"name": "v", "slots": 4, "hosts": [{"slot": 4, "uuid": [0,0,0,0,0,0,0,0,0,0,0,0,0,0,0,0]}]}]})",
       "volumes[0].hosts[0].slot: beyond"},
      {"volume-status", R"({"volumes": [{"name": "v", "lockStatus": "HYX_NOPE"}]})",
       "volumes[0].lockStatus: \"HYX_NOPE\" is no status name"},
      {"volume-field", R"({"volumes": [{"name": "v", "slotsize": 4096}]})",
       "volumes[0].slotsize: unknown field"},
      {"base", R"({"base": "no-such-profile.json"})", "base.json: base \"no-such-profile.json\": "},
      {"base-loop", R"({"base": "base-loop.json"})", "base: more than"},
      {"json", "{\n  \"kernel\": {\n    \"release\": 1,,\n", "json.json: line 3, column 18: "},
      {"not-object", "[1]", "not-object.json: not a JSON object"},
      {"duplicate", R"({"kernel": {"release": "1", "release": "2"}})", "kernel: \"release\" appears twice"},
      {"negative", R"({"kernel": {"uptimeMicroseconds": -5}})", "kernel.uptimeMicroseconds: -5 is below 0"},
      {"out-of-range", R"({"hsi": {"timer_info": {"value": {"sysUptime": -5}}}})", "-5 is out of range for"},
      {"too-large", R"({"hsi": {"timer_info": {"value": {"sysUptime": 18446744073709551616}}}})",
       "is not a whole number of at most 64 bits"},
  };
  for (const Case &c : cases) {
    CommandOutcome outcome = Probe(WriteProfile(c.name, c.profile), "uname");
    EXPECT_EQ(ExitCode(outcome), HYXSIM_REFUSED_STATUS) << c.name << ": " << outcome.output;
    EXPECT_NE(outcome.output.find(c.says), std::string::npos) << c.name << ": " << outcome.output;
    EXPECT_EQ(outcome.output.find("uname "), std::string::npos) << c.name << ": the program ran";
  }
}

TEST(SimProfile, NestingAndSizeAreBoundedWithAClearRefusal) {
  struct Case {
    const char *name;
    std::string profile;
    const char *says;
  } cases[] = {
      {"deep", "{\"x\": " + std::string(100000, '[') + std::string(100000, ']') + "}",
       "deep.json: objects and lists nested more than 64 deep"},
      {"large", "{\"description\": \"" + std::string(17 << 20, 'x') + "\"}",
       "large.json: larger than 16 MiB"},
  };
  for (const Case &c : cases) {
    CommandOutcome outcome = Probe(WriteProfile(c.name, c.profile), "uname");
    EXPECT_EQ(ExitCode(outcome), HYXSIM_REFUSED_STATUS) << c.name << ": " << outcome.output.substr(0, 200);
    EXPECT_NE(outcome.output.find(c.says), std::string::npos)
        << c.name << ": " << outcome.output.substr(0, 200);
  }
}

TEST(SimProfile, WithoutAProfileTheBuiltInHostIsAHyxkernelWithDefaults) {
  CommandOutcome outcome = Probe("", "uname checksum smbios");
  EXPECT_EQ(ExitCode(outcome), 0) << outcome.output;
  EXPECT_NE(outcome.output.find("uname Hyxkernel "), std::string::npos) << outcome.output;
  EXPECT_NE(outcome.output.find("checksum matches\nsmbios 0\n"), std::string::npos) << outcome.output;
}

TEST(SimProfile, AProfileInheritsItsBaseAndOverridesIt) {
  WriteProfile("base", R"({"kernel": {"release": "1.0", "nodename": "from-base"},
                           "firmware": {"smbios": "hex:0102"}})");
  std::string derived = WriteProfile("derived", R"({"base": "base.json", "kernel": {"release": "2.0"}})");
  CommandOutcome outcome = Probe(derived, "uname smbios");
  EXPECT_EQ(outcome.output, "uname Hyxkernel 2.0 from-base\nsmbios 2\n");
  // A null removes what the base gave; a base may have a base.
  std::string without = WriteProfile("without", R"({"base": "derived.json", "firmware": null})");
  EXPECT_EQ(Probe(without, "uname smbios").output, "uname Hyxkernel 2.0 from-base\nsmbios 0\n");
  // The launcher hands the merged profile into its sandbox.
  outcome = RunCommand(std::string(HYXSIM_PATH) + " --profile " + without + " --ro " + PROBE_DIR + " -- " +
                       PROBE_PATH + " uname smbios 2>&1");
  EXPECT_EQ(outcome.output, "uname Hyxkernel 2.0 from-base\nsmbios 0\n");
}

TEST(SimProfile, TheSocketRequestIsTheKernelsOnlyOnTheHyxkernel) {
  std::string linux = WriteProfile("linux", R"({"kernel": {"type": "linux"}})");
  EXPECT_EQ(Probe("", "socket").output, "socket ok pipe ENOTTY closed EBADF\n");
  EXPECT_EQ(Probe(linux, "socket").output, "socket ENOTTY pipe ENOTTY closed EBADF\n");
}

// The simulator is preloaded into programs of every kind: whatever else
// it exported could take the place of the program's own symbols.
TEST(SimLibrary, ExportsOnlyItsInterface) {
  CommandOutcome symbols = RunCommand(std::string("nm -D --defined-only ") + HYXSIM_LIBRARY_FILE);
  ASSERT_EQ(ExitCode(symbols), 0) << symbols.output;
  std::istringstream lines(symbols.output);
  size_t exported = 0;
  for (std::string line; std::getline(lines, line);) {
    std::string name = line.substr(line.rfind(' ') + 1);
    // clock_gettime is the one libc function it stands in for.
    EXPECT_TRUE(name.rfind("HyxSim_", 0) == 0 || name == "clock_gettime") << name;
    ++exported;
  }
  EXPECT_GT(exported, 0u);
}

}  // namespace
