// hyxhsi and hyxsnap inside the example host's sandbox: the browser's
// --json output parsed, its refusals, and the cache file hyxsnap writes.
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <fstream>
#include <iterator>
#include <nlohmann/json.hpp>
#include <string>
#include <vector>

#include "hsiWalk.h"
#include "hyxsysinfo/hsiCacheFormat.h"
#include "hyxsysinfo/hsiCallsUser.h"
#include "hyxsysinfo/hsiTables.h"
#include "run_command.h"

namespace {

nlohmann::json Json(const std::string &arguments) {
  CommandOutcome outcome = RunCommand(HYX_HYXHSI " " + arguments + " --json");
  EXPECT_EQ(outcome.status, 0) << arguments << ": " << outcome.output;
  nlohmann::json value = nlohmann::json::parse(outcome.output, nullptr, false);
  EXPECT_FALSE(value.is_discarded()) << arguments << ": " << outcome.output;
  return value;
}

std::vector<uint8_t> ReadFile(const std::string &path) {
  std::ifstream in(path, std::ios::binary);
  return std::vector<uint8_t>(std::istreambuf_iterator<char>(in), {});
}

std::string TempPath(const char *name) {
  return std::string("/tmp/hsi_tools_test.") + std::to_string(getpid()) + "." + name;
}

// A command line, the exit status it must end with and a text its output
// must hold.
struct Outcomes {
  const char *arguments;
  int exit;
  const char *says;
};

template <size_t N>
void ExpectOutcomes(const char *program, const Outcomes (&cases)[N]) {
  for (const Outcomes &c : cases) {
    CommandOutcome outcome = RunCommand(program + (" " + std::string(c.arguments)) + " 2>&1");
    EXPECT_TRUE(WIFEXITED(outcome.status)) << c.arguments;
    EXPECT_EQ(WEXITSTATUS(outcome.status), c.exit) << c.arguments << ": " << outcome.output;
    EXPECT_NE(outcome.output.find(c.says), std::string::npos) << c.arguments << ": " << outcome.output;
  }
}

TEST(HsiBrowser, ListsChildrenInstancesAndModules) {
  nlohmann::json pnics = Json("ls net/pNics");
  EXPECT_EQ(pnics["path"], "net/pNics");
  EXPECT_EQ(pnics["node"]["instance"], true);
  EXPECT_EQ(pnics["instances"], nlohmann::json::parse(R"(["vmnic0", "vmnic1", "vmnic2"])"));
  bool found = false;
  for (const auto &child : pnics["children"]) {
    if (child["name"] != "properties") continue;
    found = true;
    EXPECT_EQ(child["path"], "net/pNics/properties");
    EXPECT_EQ(child["getType"], "NetHsi_pNicPropertiesStruct");
    EXPECT_EQ(child["getSize"], 1851);
    EXPECT_EQ(child["leaf"], true);
  }
  EXPECT_TRUE(found);
  // The identifier's spelling names the same node; outer instances are
  // given as ARGS.
  EXPECT_EQ(Json("ls net_pNics")["path"], "net/pNics");
  EXPECT_EQ(Json("ls net/tcpip/instances/vNics defaultTcpipStack")["instances"],
            nlohmann::json::parse(R"(["vmk0", "vmk1"])"));
  nlohmann::json world = Json("ls world");
  EXPECT_EQ(world["node"]["integerKey"], true);
  EXPECT_EQ(world["instances"][0], 1);

  nlohmann::json modules = Json("ls hyxModules");
  ASSERT_EQ(modules["modules"].size(), 1u);
  EXPECT_EQ(modules["modules"][0]["name"], "nfs41client");
  EXPECT_EQ(modules["modules"][0]["id"], 12);
  EXPECT_EQ(modules["modules"][0]["nodes"], 5);
  nlohmann::json mounts = Json("ls nfs41client:mounts");
  EXPECT_EQ(mounts["path"], "nfs41client:mounts");
  EXPECT_EQ(mounts["instances"], nlohmann::json::parse(R"(["/vmfs/volumes/iso", "/vmfs/volumes/backup"])"));
  EXPECT_GE(mounts["node"]["id"], 5000);
}

TEST(HsiBrowser, DecodesValuesThroughTheirTypes) {
  nlohmann::json nic = Json("get net/pNics/properties vmnic0");
  EXPECT_EQ(nic["instances"], nlohmann::json::parse(R"(["vmnic0"])"));
  EXPECT_EQ(nic["type"], "NetHsi_pNicPropertiesStruct");
  EXPECT_EQ(nic["length"], 1851);
  const nlohmann::json &value = nic["value"];
  EXPECT_EQ(value["driverName"], "ixgben");     // a character array
  EXPECT_EQ(value["pciBus"], 24);               // a scalar
  EXPECT_EQ(value["duplex"], "NetDuplexFull");  // an enumeration
  ASSERT_TRUE(value["flags"].is_array());       // bit flags
  EXPECT_EQ(value["flags"][0], "NetFlagUp");
  EXPECT_EQ(nic["hex"].get<std::string>().size(), 2u * 1851);

  nlohmann::json world = Json("get world/info 527120");
  EXPECT_EQ(world["instances"][0], 527120);
  EXPECT_EQ(world["value"]["name"], "vmx-vcpu-0:db-01");
  EXPECT_EQ(world["value"]["type"], "WorldTypeVmm");

  EXPECT_EQ(Json("get nfs41client:version")["value"], 41);
  EXPECT_EQ(Json("get nfs41client:mounts/info /vmfs/volumes/iso")["value"]["device"],
            "10.20.30.5:/export/iso");

  CommandOutcome text = RunCommand(HYX_HYXHSI " get net_pNics_properties vmnic0");
  EXPECT_EQ(text.status, 0);
  EXPECT_NE(text.output.find("  duplex: NetDuplexFull\n"), std::string::npos) << text.output;
  EXPECT_NE(text.output.find("  flags: [NetFlagUp, "), std::string::npos) << text.output;
}

TEST(HsiBrowser, ShowsTypeTrees) {
  nlohmann::json types = Json("types timer/info");
  const nlohmann::json &get = types["get"];
  EXPECT_EQ(get["name"], "Timer_HSIInfo");
  EXPECT_EQ(get["kind"], "struct");
  EXPECT_EQ(get["size"], 88);
  EXPECT_EQ(get["fields"][2]["name"], "rcName");
  EXPECT_EQ(get["fields"][2]["offset"], 16);
  EXPECT_EQ(get["fields"][2]["type"]["kind"], "array");
  EXPECT_EQ(get["fields"][2]["type"]["element"]["name"], "HSI_STRING");
  EXPECT_EQ(get["fields"][0]["type"]["format"], "%Lu");
  EXPECT_TRUE(types["setInput"].is_null());
  EXPECT_EQ(types["setOutput"]["name"], "HSI_Empty_Output");

  nlohmann::json state = Json("types storage/scsifw/paths/state")["get"];
  EXPECT_EQ(state["kind"], "enum");
  EXPECT_EQ(state["values"].size(), 5u);
}

TEST(HsiBrowser, RefusesWhatItCannotShow) {
  Outcomes cases[] = {
      {"get net/nosuch", 1, "HYX_NOT_FOUND"},
      {"get nosuchmodule:version", 1, "HYX_NOT_FOUND"},
      {"get net/pNics", 1, "not a readable leaf"},
      {"get net/pNics/properties vmnic9", 1, "HYX_NOT_FOUND"},
      {"get net/pNics/properties", 1, "HYX_BAD_PARAM_COUNT"},
      {"get world/info abc", 2, "not an integer"},
      {"get world/info -5", 2, "not an integer"},
      {"types", 2, "usage"},
      {"frob", 2, "usage"},
  };
  ExpectOutcomes(HYX_HYXHSI, cases);
}

TEST(Hyxsnap, WritesTheHostsBuildSignatureAndModules) {
  std::string path = TempPath("whole");
  CommandOutcome outcome = RunCommand(HYX_HYXSNAP " -o " + path + " 2>&1");
  ASSERT_EQ(outcome.status, 0) << outcome.output;
  EXPECT_EQ(outcome.output, "");  // no progress line off a terminal
  std::vector<uint8_t> file = ReadFile(path);
  unlink(path.c_str());
  ASSERT_GT(file.size(), sizeof(HsiCacheTrailer));
  HsiCacheTrailer trailer;
  memcpy(&trailer, file.data() + file.size() - sizeof trailer, sizeof trailer);
  EXPECT_STREQ(trailer.build, "Hyxkernel build 2458");  // the host's, cut to 20 characters
  EXPECT_STREQ(trailer.signature, HSI_SIGNATURE);
  ASSERT_EQ(trailer.moduleCount, 2u);
  // The static tree, then the kernel's module.
  HsiCacheModuleRecord first, second;
  memcpy(&first, file.data() + trailer.firstModule, sizeof first);
  memcpy(&second, file.data() + first.nextModule, sizeof second);
  EXPECT_EQ(first.moduleId, 0u);
  EXPECT_EQ(first.slotCount, static_cast<int32_t>(hsiTables.nodeCount));
  EXPECT_EQ(first.nodeCount, hsiTables.nodeCount);
  EXPECT_STREQ(second.name, "nfs41client");
  EXPECT_EQ(second.moduleId, 12u);
  EXPECT_EQ(second.slotCount, 5);
}

std::string Hex(const void *bytes, size_t length) {
  std::string text;
  char pair[3];
  for (size_t i = 0; i < length; i++) {
    snprintf(pair, sizeof pair, "%02x", static_cast<const uint8_t *>(bytes)[i]);
    text += pair;
  }
  return text;
}

std::string ArgsText(const hsiwalk::Args &args) {
  std::string text;
  for (const hsiwalk::Arg &arg : args) text += " " + (arg.isString ? arg.text : std::to_string(arg.value));
  return text;
}

// Everything a walk of the tree reports, one line each.  A value whose
// size is asked first cannot come from a snapshot: only its asking is kept.
class Transcript : public hsiwalk::Visitor {
 public:
  std::vector<std::string> lines;
  void OnModule(const hsiwalk::Module &module) override {
    lines.push_back("module " + module.name + " " + std::to_string(module.id));
  }
  void OnNode(const hsiwalk::Node &node) override {
    lines.push_back("node " + hsiwalk::PathOf(node) + " " + Hex(&node.def, HSI_NODE_REPLY_SIZE));
  }
  void OnList(const hsiwalk::Node &node, const hsiwalk::Args &args, HYX_ReturnStatus status,
              const hsiwalk::Args &items) override {
    lines.push_back("list " + hsiwalk::PathOf(node) + ArgsText(args) + " = " + std::to_string(status) +
                    ArgsText(items));
  }
  void OnGet(const hsiwalk::Node &node, const hsiwalk::Args &args, HYX_ReturnStatus status,
             const std::vector<uint8_t> &data) override {
    std::string line = "get " + hsiwalk::PathOf(node) + ArgsText(args);
    if (!node.def.variableLength)
      line += " = " + std::to_string(status) + " " + Hex(data.data(), data.size());
    lines.push_back(line);
  }
};

Transcript WalkFrom(const char *path) {
  Transcript transcript;
  hsiwalk::Node node;
  EXPECT_EQ(hsiwalk::Resolve(path, node), HYX_OK) << path;
  EXPECT_EQ(hsiwalk::Walk(node, {}, transcript), HYX_OK) << path;
  return transcript;
}

void ExpectSame(const Transcript &replayed, const Transcript &live) {
  EXPECT_EQ(replayed.lines.size(), live.lines.size());
  for (size_t i = 0; i < live.lines.size() && i < replayed.lines.size(); i++) {
    ASSERT_EQ(replayed.lines[i], live.lines[i]) << "line " << i;
  }
}

// The whole tree, walked through the library's client live and then from
// the file hyxsnap wrote (in one block, and in many): every definition,
// list and value the same.
TEST(Hyxsnap, ItsFileAnswersEveryCallAsTheHostDid) {
  Transcript live = WalkFrom("/");
  EXPECT_GT(live.lines.size(), 4000u);
  for (const char *blocks : {"", "--block-size 4096 "}) {
    std::string path = TempPath("replay");
    CommandOutcome outcome = RunCommand(HYX_HYXSNAP " " + std::string(blocks) + "-o " + path + " 2>&1");
    ASSERT_EQ(outcome.status, 0) << outcome.output;
    ASSERT_EQ(Hsi_EnableCache(path.c_str(), 0), HYX_OK) << blocks;
    Transcript replayed = WalkFrom("/");
    Hsi_DisableCache();
    unlink(path.c_str());
    ExpectSame(replayed, live);
  }
}

// Chosen subtrees: the instances above them are recorded, nothing else is.
TEST(Hyxsnap, RecordsOnlyTheSubtreesNamed) {
  Transcript pnics = WalkFrom("net_pNics_properties");
  Transcript mounts = WalkFrom("nfs41client:mounts/info");
  std::string path = TempPath("chosen");
  CommandOutcome outcome =
      RunCommand(HYX_HYXSNAP " -o " + path + " net/pNics/properties nfs41client:mounts/info 2>&1");
  ASSERT_EQ(outcome.status, 0) << outcome.output;
  ASSERT_EQ(Hsi_EnableCache(path.c_str(), 0), HYX_OK);
  ExpectSame(WalkFrom("net_pNics_properties"), pnics);
  ExpectSame(WalkFrom("nfs41client:mounts/info"), mounts);
  uint8_t timer[88];
  EXPECT_NE(Hsi_Get(HSI_NODE_timer_info, nullptr, timer, sizeof timer), HYX_OK);
  Hsi_DisableCache();
  unlink(path.c_str());
}

// Whatever stands at FILE.partial is neither followed nor overwritten: a
// link planted there leaves its target as it was, and the run fails.
TEST(Hyxsnap, LeavesALinkAtItsTemporaryNameAlone) {
  std::string path = TempPath("planted"), victim = TempPath("victim");
  FILE *file = fopen(victim.c_str(), "w");
  ASSERT_NE(file, nullptr);
  fputs("keep", file);
  ASSERT_EQ(fclose(file), 0);
  ASSERT_EQ(symlink(victim.c_str(), (path + ".partial").c_str()), 0);
  CommandOutcome outcome = RunCommand(HYX_HYXSNAP " -o " + path + " net/pNics 2>&1");
  EXPECT_TRUE(WIFEXITED(outcome.status) && WEXITSTATUS(outcome.status) == 1) << outcome.output;
  EXPECT_NE(outcome.output.find(path + ".partial: File exists"), std::string::npos) << outcome.output;
  std::vector<uint8_t> kept = ReadFile(victim);
  EXPECT_EQ(std::string(kept.begin(), kept.end()), "keep");
  EXPECT_NE(access(path.c_str(), F_OK), 0);
  unlink((path + ".partial").c_str());
  unlink(victim.c_str());
}

TEST(Hyxsnap, RefusesBadUsageAndUnknownNodes) {
  Outcomes cases[] = {
      {"--frob", 2, "usage: hyxsnap"},
      {"--block-size 3 -o /dev/null", 2, "usage: hyxsnap"},
      {"-o /dev/null net/nosuch", 1, "net/nosuch: HYX_NOT_FOUND"},
      {"-o /nonexistent/dir/file", 1, "/nonexistent/dir/file.partial"},
      {"--help", 0, "usage: hyxsnap"},
  };
  ExpectOutcomes(HYX_HYXSNAP, cases);
}

}  // namespace
