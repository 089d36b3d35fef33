// The call trace: hyxsim --trace on unmodified programs (hyxinfo), a failing
// call's status and errno, children traced under their own pid, the
// filters, and settings the simulator refuses.
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <fstream>
#include <nlohmann/json.hpp>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "hyxsim/hyxsim.h"
#include "hyxsysinfo/kernelCall.h"
#include "run_command.h"

namespace {

using nlohmann::json;

int ExitCode(const CommandOutcome &outcome) {
  return WIFEXITED(outcome.status) ? WEXITSTATUS(outcome.status) : -1;
}

std::string Hyxsim(const std::string &options, const std::string &profile) {
  return std::string(HYXSIM_PATH) + " --profile " + HOSTS_DIR + "/" + profile + ".json --ro " + BUILD_DIR +
         " " + options + " -- ";
}

std::vector<json> JsonLines(const std::string &text) {
  std::vector<json> lines;
  std::istringstream in(text);
  for (std::string line; std::getline(in, line);) {
    json parsed = json::parse(line, nullptr, false);
    EXPECT_FALSE(parsed.is_discarded()) << "not JSON: " << line;
    if (!parsed.is_discarded()) lines.push_back(parsed);
  }
  return lines;
}

std::string ReadFile(const std::string &path) {
  std::ifstream in(path);
  std::stringstream text;
  text << in.rdbuf();
  return text.str();
}

// "CALL [node] STATUS" for each line: the sequence a test compares.
std::vector<std::string> Sequence(const std::vector<json> &lines) {
  std::vector<std::string> sequence;
  for (const json &line : lines) {
    std::string entry = line["call"].get<std::string>();
    if (line["args"].contains("node")) entry += " " + line["args"]["node"].get<std::string>();
    entry += " " + (line.contains("status") ? line["status"].get<std::string>() : line["result"].dump());
    sequence.push_back(entry);
  }
  return sequence;
}

TEST(SimTrace, HyxinfoHostShowsTheLoadTimeCheckAndTheSignatureExchange) {
  // The trace goes to stderr; hyxinfo's own output is unchanged by it.
  std::string hyxinfo = std::string(HYXINFO_PATH) + " host";
  CommandOutcome plain = RunCommand(Hyxsim("", "hypervisor") + hyxinfo + " 2>/dev/null");
  CommandOutcome stdoutTraced = RunCommand(Hyxsim("--trace=json", "hypervisor") + hyxinfo + " 2>/dev/null");
  EXPECT_EQ(stdoutTraced.output, plain.output);
  EXPECT_EQ(ExitCode(stdoutTraced), ExitCode(plain));
  CommandOutcome traced = RunCommand(Hyxsim("--trace=json", "hypervisor") + hyxinfo + " 2>&1 >/dev/null");
  ASSERT_EQ(ExitCode(traced), 0) << traced.output;
  std::vector<json> lines = JsonLines(traced.output);
  std::vector<std::string> expected = {
      "uname 0",
      "SYSCALL_API_CHECKSUM HYX_OK",
      "HSI_SIGNATURE HYX_OK",
      "uname 0",
  };
  EXPECT_EQ(Sequence(lines), expected) << traced.output;
  ASSERT_GE(lines.size(), 3u);
  for (const json &line : lines) {
    EXPECT_EQ(line["pid"], lines[0]["pid"]);
    EXPECT_TRUE(line["ns"].is_number_unsigned());
  }
  char checksum[16];
  snprintf(checksum, sizeof checksum, "%#x", SYSCALL_API_CHECKSUM);
  EXPECT_EQ(lines[1]["number"], KERNEL_CALL_SYSCALL_API_CHECKSUM);
  EXPECT_EQ(lines[1]["family"], "system");
  EXPECT_EQ(lines[1]["out"]["checksum"], checksum);
  EXPECT_EQ(lines[2]["errno"], nullptr);
  // The build text, cut to the buffer the library handed over.
  std::string build = "Hyxkernel build 24585383";
  size_t size = lines[2]["args"]["size"];
  EXPECT_EQ(lines[2]["out"]["build"], build.substr(0, size - 1));
  EXPECT_EQ(lines[0]["out"]["sysname"], "Hyxkernel");
}

TEST(SimTrace, HyxinfoVersionShowsItsGetsWithTheirNodePaths) {
  std::string hyxinfo = std::string(HYXINFO_PATH) + " version";
  CommandOutcome traced = RunCommand(Hyxsim("--trace=json", "hypervisor") + hyxinfo + " 2>&1 >/dev/null");
  ASSERT_EQ(ExitCode(traced), 0) << traced.output;
  std::vector<json> lines = JsonLines(traced.output);
  // The load-time check, then one get of the version record per export
  // (the system version and the unique system version).
  std::vector<std::string> expected = {
      "uname 0",
      "SYSCALL_API_CHECKSUM HYX_OK",
      "HSI_SIGNATURE HYX_OK",
      "HSI_GET system/version HYX_OK",
      "HSI_GET system/version HYX_OK",
  };
  EXPECT_EQ(Sequence(lines), expected) << traced.output;
  ASSERT_EQ(lines.size(), expected.size());
  EXPECT_EQ(lines[3]["number"], KERNEL_CALL_HSI_GET);
  EXPECT_EQ(lines[3]["family"], "hsi");
  EXPECT_EQ(lines[3]["errno"], nullptr);
}

TEST(SimTrace, OnARenumberedKernelTheSignatureIsRefusedAndTheNodeTableRead) {
  CommandOutcome traced = RunCommand(Hyxsim("--trace=json --trace-calls=hsi", "renumbered") + HYXINFO_PATH +
                                     " host 2>&1 >/dev/null");
  std::vector<json> lines = JsonLines(traced.output);
  std::vector<std::string> expected = {
      "HSI_SIGNATURE HYX_CHECKSUM_MISMATCH",
      "HSI_GET sysInfoNodeHashes HYX_OK",
  };
  ASSERT_EQ(Sequence(lines), expected) << traced.output;
  EXPECT_TRUE(lines[0]["errno"].is_string()) << traced.output;
  EXPECT_EQ(lines[1]["args"]["nodeId"], 1);
  EXPECT_EQ(lines[1]["args"]["kind"], "get");
  EXPECT_EQ(lines[1]["args"]["instances"], json::array());
}

// hyxhsi's copy of the library (the client, for lists no export gives)
// numbers its nodes as the kernel does.
TEST(SimTrace, OnARenumberedKernelHyxhsisListsUseTheKernelsNumbers) {
  std::vector<json> lists;
  for (const char *profile : {"hypervisor", "renumbered"}) {
    CommandOutcome traced = RunCommand(Hyxsim("--trace=json --trace-calls=hsi", profile) + HYXHSI_PATH +
                                       " ls net/pNics 2>&1 >/dev/null");
    std::vector<json> lines = JsonLines(traced.output);
    ASSERT_FALSE(lines.empty()) << profile;
    EXPECT_EQ(Sequence({lines.back()}), std::vector<std::string>{"HSI_LIST net/pNics HYX_OK"})
        << profile << ": " << traced.output;
    lists.push_back(lines.back());
  }
  EXPECT_NE(lists[0]["args"]["nodeId"], lists[1]["args"]["nodeId"]);
}

TEST(SimTrace, AFailingCallShowsTheStatusAndErrnoTheProgramReceived) {
  std::string trace = std::string(WORK_DIR) + "/failing.trace";
  CommandOutcome outcome = RunCommand(Hyxsim("--trace=" + trace + " --trace-format=json", "hypervisor") +
                                      PROBE_PATH + " pnic vmnic0 pnic vmnic9 2>&1");
  EXPECT_EQ(ExitCode(outcome), 0) << outcome.output;
  char missing[64];
  snprintf(missing, sizeof missing, "pnic %#x errno %d\n", HYX_NOT_FOUND, ENOENT);
  EXPECT_EQ(outcome.output, "pnic 0 errno 0\n" + std::string(missing));
  std::vector<json> lines = JsonLines(ReadFile(trace));
  std::vector<json> gets;
  for (const json &line : lines)
    if (line["call"] == "HSI_GET") gets.push_back(line);
  ASSERT_EQ(gets.size(), 2u) << ReadFile(trace);
  EXPECT_EQ(gets[0]["args"]["node"], "net/pNics/properties");
  EXPECT_EQ(gets[0]["args"]["instances"], json::array({"vmnic0"}));
  EXPECT_EQ(gets[0]["status"], "HYX_OK");
  EXPECT_EQ(gets[1]["args"]["instances"], json::array({"vmnic9"}));
  EXPECT_EQ(gets[1]["status"], "HYX_NOT_FOUND");
  EXPECT_EQ(gets[1]["errno"], "ENOENT");

  // The text form says the same on one line.
  outcome = RunCommand(Hyxsim("--trace --trace-nodes=net/pNics", "hypervisor") + PROBE_PATH +
                       " pnic vmnic9 2>&1 >/dev/null");
  EXPECT_NE(outcome.output.find("] HSI_GET(node=\"net/pNics/properties\", nodeId="), std::string::npos)
      << outcome.output;
  EXPECT_NE(outcome.output.find("instances=[\"vmnic9\"], kind=get, length=4096) = HYX_NOT_FOUND ENOENT <"),
            std::string::npos)
      << outcome.output;
}

// --trace-nodes names a node as the tools do ("net/pNics"), or as the
// profiles do ("net_pNics"), and keeps the calls on it and below it; a
// name that is no node is a usage error of hyxsim's, before anything runs.
TEST(SimTrace, TraceNodesNamesANodeAsTheToolsDo) {
  for (const char *node : {"net/pNics", "net_pNics", "net/pNics/"}) {
    CommandOutcome outcome =
        RunCommand(Hyxsim(std::string("--trace=json --trace-nodes=") + node, "hypervisor") + PROBE_PATH +
                   " pnic vmnic0 2>&1 >/dev/null");
    EXPECT_EQ(ExitCode(outcome), 0) << node << ": " << outcome.output;
    std::set<std::string> nodes;
    for (const json &line : JsonLines(outcome.output))
      if (line.contains("args") && line["args"].contains("node")) nodes.insert(line["args"]["node"]);
    EXPECT_EQ(nodes, std::set<std::string>{"net/pNics/properties"}) << node << ": " << outcome.output;
  }
  for (const char *node : {"bogus", "net/pN", "net/pNics/nosuch"}) {
    CommandOutcome outcome = RunCommand(Hyxsim(std::string("--trace --trace-nodes=") + node, "hypervisor") +
                                        PROBE_PATH + " pnic vmnic0 2>&1");
    EXPECT_EQ(ExitCode(outcome), 2) << node << ": " << outcome.output;
    EXPECT_EQ(outcome.output, "hyxsim: --trace-nodes: \"" + std::string(node) +
                                  "\" names no system-information node (names joined by \"/\", such as "
                                  "net/pNics)\nTry 'hyxsim --help'.\n")
        << node;
  }
}

TEST(SimTrace, AChildIsTracedUnderItsOwnPidEvenWithAnEmptyEnvironment) {
  std::string trace = std::string(WORK_DIR) + "/child.trace";
  CommandOutcome outcome = RunCommand(
      Hyxsim("--trace=" + trace + " --trace-format=json --trace-calls=process,system", "hypervisor") +
      PROBE_PATH + " spawn 2>&1");
  ASSERT_EQ(ExitCode(outcome), 0) << outcome.output;
  std::vector<json> lines = JsonLines(ReadFile(trace));
  const json *spawn = nullptr;
  for (const json &line : lines)
    if (line["call"] == "SPAWN") spawn = &line;
  ASSERT_NE(spawn, nullptr) << ReadFile(trace);
  EXPECT_EQ((*spawn)["family"], "process");
  EXPECT_EQ((*spawn)["args"]["argv"][1], "checksum");
  EXPECT_EQ((*spawn)["status"], "HYX_OK");
  json child = (*spawn)["out"]["pid"];
  EXPECT_NE(outcome.output.find("spawn " + child.dump() + "\n"), std::string::npos) << outcome.output;
  bool childChecked = false;
  for (const json &line : lines)
    childChecked |= line["pid"] == child && line["call"] == "SYSCALL_API_CHECKSUM";
  EXPECT_TRUE(childChecked) << ReadFile(trace);
  for (const json &line : lines) EXPECT_NE(line["family"], "hsi") << line.dump();
}

TEST(SimTrace, SettingsTheSimulatorCannotUseStopTheProgram) {
  struct Case {
    const char *env, *says;
  } cases[] = {
      {"HYXSIM_TRACE_CALLS=hsi,bogus", "HYXSIM_TRACE_CALLS: \"bogus\" is no call or family of calls"},
      {"HYXSIM_TRACE_CALLS=hsi,uname,uname,uname,uname,uname,uname,uname,uname,uname,uname,uname,uname,uname,"
       "uname,"
       "uname,uname,uname,uname,uname,uname,uname,uname,uname,uname,uname,uname,uname,uname,uname,uname,"
       "uname,uname,"
       "uname",
       "HYXSIM_TRACE_CALLS: \"uname\" goes beyond the 32 families and 32 calls"},
      {"HYXSIM_TRACE_FORMAT=xml", "HYXSIM_TRACE_FORMAT: \"xml\" is neither"},
      {"HYXSIM_TRACE_NODES=net/bogus", "HYXSIM_TRACE_NODES: \"net/bogus\" names no system-information node"},
      {"HYXSIM_TRACE=/nonexistent/dir/trace", "HYXSIM_TRACE: cannot open /nonexistent/dir/trace"},
  };
  std::string trace = std::string(WORK_DIR) + "/settings.trace";
  for (const Case &c : cases) {
    CommandOutcome outcome = RunCommand("env -u HYXSIM_PROFILE HYXSIM_TRACE=" + trace + " " + c.env + " " +
                                        PROBE_PATH + " uname 2>&1");
    EXPECT_EQ(ExitCode(outcome), HYXSIM_REFUSED_STATUS) << c.env << ": " << outcome.output;
    EXPECT_NE(outcome.output.find(c.says), std::string::npos) << c.env << ": " << outcome.output;
  }
  // Calls by name, in any case, with or without their prefix.
  unlink(trace.c_str());
  CommandOutcome outcome =
      RunCommand("env -u HYXSIM_PROFILE HYXSIM_TRACE=" + trace + " HYXSIM_TRACE_CALLS=smbios_length,IOCTL " +
                 PROBE_PATH + " uname checksum smbios socket 2>&1");
  EXPECT_EQ(ExitCode(outcome), 0) << outcome.output;
  std::string text = ReadFile(trace);
  EXPECT_NE(text.find("] SMBIOS_LENGTH() = HYX_OK {length=0} <"), std::string::npos) << text;
  EXPECT_NE(text.find("] ioctl(fd="), std::string::npos) << text;
  EXPECT_NE(text.find("request=DEVICE_REQUEST_RELINQUISH_SOCKET, arg="), std::string::npos) << text;
  EXPECT_NE(text.find(") = -1 ENOTTY <"), std::string::npos) << text;
  EXPECT_EQ(text.find("CHECKSUM"), std::string::npos) << text;
  EXPECT_EQ(text.find("uname"), std::string::npos) << text;
}

}  // namespace
