// hyxsim --snapshot: the simulated kernel answers the system-information
// calls from a snapshot file, byte for byte as recorded, and refuses a
// faulty file before the program runs.  The suite writes its snapshots with
// the shared writer, then runs itself inside hyxsim (the Inside tests) to
// ask the host what a program would.
#include <gtest/gtest.h>
#include <sys/utsname.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <string>
#include <utility>
#include <vector>

#include "hsiCacheWriter.h"
#include "hyxsim/hyxsim.h"
#include "hyxsysinfo/hsiCacheFormat.h"
#include "hyxsysinfo/hsiCallsUser.h"
#include "hyxsysinfo/hsiLoad.h"
#include "hyxsysinfo/hsiParams.h"
#include "hyxsysinfo/hsiTables.h"
#include "hyxsysinfo/hsiTablesRecords.h"
#include "hyxsysinfo/kernelCall.h"
#include "hyxsysinfo/kernelWire.h"
#include "instance_params.h"
#include "run_command.h"

namespace {

using hsicache::Param;

// The value sizes of the two nodes the snapshots hold, as the kernel lays them out.
constexpr uint32_t kTimerSize = HSI_VALUE_SIZE_timer_info;
constexpr uint32_t kPropertiesSize = HSI_VALUE_SIZE_net_pNics_properties;

constexpr char kBuild[] = "Snapshot build 4711";
constexpr int32_t kModuleId = 7;
constexpr char kModuleName[] = "netstack";
constexpr uint32_t kModuleLeaf = HSI_MODULE_NODE_BASE + 2;  // "rxPackets", the module's first child
constexpr char kStack[] = "defaultTcpipStack";
constexpr char kVariable[] = "Boot0000-8be4df61-93ca-11d2-aa0d-00e098032b8c";
constexpr char kInsideVariable[] = "HYX_SNAPSHOT_INSIDE";

std::vector<uint8_t> Pattern(size_t size, uint8_t seed) {
  std::vector<uint8_t> bytes(size);
  for (size_t i = 0; i < size; i++) bytes[i] = static_cast<uint8_t>(seed + i * 7);
  return bytes;
}

// The recorded UEFI variable: a sized buffer of 64 bytes holding 10.
const std::vector<uint8_t> &VariableValue() {
  static const std::vector<uint8_t> value = Pattern(10, 0x40);
  return value;
}

HsiNodeDef ModuleNode(uint32_t id, uint32_t parent, uint32_t nextSibling, uint32_t firstChild,
                      uint32_t getSize) {
  HsiNodeDef def{};
  def.id = id;
  def.leaf = getSize != 0;
  def.parent = parent;
  def.nextSibling = nextSibling;
  def.firstChild = firstChild;
  def.getSize = getSize;
  def.getType = getSize ? HSI_TYPE_INDEX_DEC_U64 : HSI_NO_TYPE;
  def.setInputType = HSI_NO_TYPE;
  def.setOutputType = getSize ? HSI_TYPE_INDEX_EMPTY_OUTPUT : HSI_NO_TYPE;
  def.statsIndex = HSI_NO_STATS_INDEX;
  def.signature = 0x5eed0000 + id;
  return def;
}

const HsiNodeDef &ModuleLeafDef() {
  static const HsiNodeDef def =
      ModuleNode(kModuleLeaf, HSI_MODULE_NODE_BASE, HSI_MODULE_NODE_BASE + 1, HSI_NO_NODE, 8);
  return def;
}

// The snapshot every Inside test asks: static nodes of the library's own
// interface and one kernel module.  `edit` may add to the writer first.
std::vector<uint8_t> Snapshot(hsicache::Placement *placement = nullptr,
                              const std::function<void(hsicache::Writer &, size_t)> &edit = nullptr) {
  hsicache::Writer w;
  size_t kernel = w.AddModule(0, "", static_cast<int32_t>(HSI_NODE_COUNT));
  auto node = [&](uint32_t id, uint32_t length) {
    const HsiNodeDef &def = hsiTables.nodes[id];
    return w.AddNode(kernel, id, def.signature, length, reinterpret_cast<const uint8_t *>(&def), def.name);
  };
  w.AddGet(node(HSI_NODE_timer_info, kTimerSize), {}, HYX_OK, Pattern(kTimerSize, 1));
  w.AddList(node(HSI_NODE_net_pNics, 0), {}, HYX_OK,
            {Param::String("vmnic0"), Param::String("vmnic1"), Param::String("vmnic7")});
  size_t properties = node(HSI_NODE_net_pNics_properties, kPropertiesSize);
  w.AddGet(properties, {Param::String("vmnic0")}, HYX_OK, Pattern(kPropertiesSize, 2));
  w.AddGet(properties, {Param::String("vmnic1")}, HYX_READ_ERROR, {});
  size_t vNics = node(HSI_NODE_net_tcpip_instances_vNics, 0);
  w.AddList(vNics, {Param::String(kStack)}, HYX_OK, {Param::String("vmk0"), Param::String("vmk1")});
  w.AddList(vNics, {Param::String("busyStack")}, HYX_BUSY, {});
  w.AddGet(node(HSI_NODE_net_tcpip_instances_vNics_mtu, 4), {Param::String(kStack), Param::String("vmk0")},
           HYX_OK, {0xdc, 0x05, 0, 0});
  std::vector<uint8_t> sized(8 + 64);
  HsiSizedHeader header{64, static_cast<uint32_t>(VariableValue().size())};
  memcpy(sized.data(), &header, sizeof header);
  memcpy(sized.data() + sizeof header, VariableValue().data(), VariableValue().size());
  w.AddGet(node(HSI_NODE_uefi_variable, static_cast<uint32_t>(sized.size())), {Param::String(kVariable)},
           HYX_OK, sized);

  size_t module = w.AddModule(kModuleId, kModuleName, 3);
  auto moduleNode = [&](const HsiNodeDef &def, const char *name) {
    return w.AddNode(module, def.id - HSI_MODULE_NODE_BASE, def.signature, def.getSize,
                     reinterpret_cast<const uint8_t *>(&def), name);
  };
  moduleNode(ModuleNode(HSI_MODULE_NODE_BASE, HSI_NO_NODE, HSI_NO_NODE, kModuleLeaf, 0), "root");
  moduleNode(ModuleNode(HSI_MODULE_NODE_BASE + 1, HSI_MODULE_NODE_BASE, HSI_NO_NODE, HSI_NO_NODE, 8),
             "drops");
  w.AddGet(moduleNode(ModuleLeafDef(), "rxPackets"), {}, HYX_OK, Pattern(8, 9));
  if (edit) edit(w, kernel);
  return w.Finish(kBuild, HSI_SIGNATURE, 0, placement);
}

// A snapshot of a host that refused the library's interface signature (it
// numbers its nodes its own way): it describes only what it recorded,
// timer_info and its parent, at the library's slots.
std::vector<uint8_t> ForeignSnapshot() {
  hsicache::Writer w;
  size_t kernel = w.AddModule(0, "", static_cast<int32_t>(HSI_NODE_COUNT));
  for (uint32_t id = HSI_NODE_timer_info; id != 0; id = hsiTables.nodes[id].parent) {
    const HsiNodeDef &def = hsiTables.nodes[id];
    size_t index =
        w.AddNode(kernel, id, def.signature, def.getSize, reinterpret_cast<const uint8_t *>(&def), def.name);
    if (id == HSI_NODE_timer_info) w.AddGet(index, {}, HYX_OK, Pattern(kTimerSize, 1));
  }
  return w.Finish(kBuild, std::string(32, '0'));
}

std::string WriteSnapshot(const std::string &name, const std::vector<uint8_t> &bytes) {
  std::string path = std::string(WORK_DIR) + "/" + name + ".hsi";
  FILE *file = fopen(path.c_str(), "wb");
  EXPECT_NE(file, nullptr) << path;
  if (file) {
    fwrite(bytes.data(), 1, bytes.size(), file);
    fclose(file);
  }
  return path;
}

CommandOutcome RunServed(const std::string &snapshot, const std::string &program) {
  return RunCommand(std::string(HYXSIM_PATH) + " --profile " + HOSTS_DIR + "/hypervisor.json --snapshot " +
                    snapshot + " -- " + program + " 2>&1");
}

// ---- outside: drive hyxsim ---------------------------------------------------

TEST(SimSnapshot, ProgramsGetWhatWasRecorded) {
  struct Run {
    const char *name;
    std::vector<uint8_t> snapshot;
    const char *tests, *passed;
  } runs[] = {
      {"served", Snapshot(), "Inside.*", "[  PASSED  ] 7 tests"},
      {"foreign", ForeignSnapshot(), "InsideForeign.*", "[  PASSED  ] 1 test."},
  };
  for (const Run &run : runs) {
    CommandOutcome outcome = RunServed(WriteSnapshot(run.name, run.snapshot),
                                       std::string("env ") + kInsideVariable + "=" + run.name + " " +
                                           SELF_PATH + " --gtest_filter='" + run.tests + "'");
    EXPECT_EQ(outcome.status, 0) << outcome.output;
    EXPECT_NE(outcome.output.find(run.passed), std::string::npos) << outcome.output;
  }
}

// Each fault is a file the writer made and a test then damaged; the host
// refuses it before the program starts, naming what is wrong.
TEST(SimSnapshot, FaultyFilesStopTheHost) {
  hsicache::Placement at;
  const std::vector<uint8_t> good = Snapshot(&at);
  auto put32 = [](std::vector<uint8_t> &bytes, size_t offset, uint32_t value) {
    memcpy(bytes.data() + offset, &value, sizeof value);
  };
  struct Case {
    const char *name;
    std::function<void(std::vector<uint8_t> &)> damage;
    const char *says;
  } cases[] = {
      {"cut-short", [](std::vector<uint8_t> &b) { b.pop_back(); }, "trailer"},
      {"three-bytes", [](std::vector<uint8_t> &b) { b.resize(3); }, "too short"},
      {"block-below-4", [&](std::vector<uint8_t> &b) { put32(b, 0, 2 | HSI_CACHE_LAST_BLOCK); },
       "is below 4"},
      {"signature-case",
       [&](std::vector<uint8_t> &b) { b[at.trailer + offsetof(HsiCacheTrailer, signature)] = 'A'; },
       "32 lowercase hexadecimal digits"},
      {"slot-past-module",
       [&](std::vector<uint8_t> &b) { put32(b, at.nodes.back() + offsetof(HsiCacheNodeRecord, slot), 3); },
       "slot 3 is not below the slot count 3"},
      {"data-outside",
       [&](std::vector<uint8_t> &b) {
         put32(b, at.gets[0] + offsetof(HsiCacheGetEntry, data), static_cast<uint32_t>(b.size() - 10));
       },
       "lie outside the data area"},
      {"module-chain-outside",
       [&](std::vector<uint8_t> &b) {
         put32(b, at.modules[0] + offsetof(HsiCacheModuleRecord, nextModule), 0xfffffff0);
       },
       "module record 1 at 0xfffffff0 lies outside the data area"},
      {"count-in-a-circle",
       [&](std::vector<uint8_t> &b) {
         put32(b, at.nodes[0] + offsetof(HsiCacheNodeRecord, getCount), 0x10000000);
       },
       "get entries: 268435456 records do not fit the data area"},
      {"param-type",
       [&](std::vector<uint8_t> &b) { put32(b, at.getArgs[1][0] + offsetof(HsiParam, type), 7); },
       "type 7 is neither an integer nor a string"},
      {"string-unterminated",
       [&](std::vector<uint8_t> &b) {
         HsiParam param;
         memcpy(&param, b.data() + at.getArgs[1][0], sizeof param);
         b[param.offset + param.length - 1] = 'x';
       },
       "its string is not terminated"},
      {"definition-elsewhere",
       [&](std::vector<uint8_t> &b) { put32(b, at.infos[0], HSI_NODE_system_version); },
       "its definition is of node"},
  };
  for (const Case &c : cases) {
    std::vector<uint8_t> bytes = good;
    c.damage(bytes);
    CommandOutcome outcome = RunServed(WriteSnapshot(c.name, bytes), "echo the program ran");
    EXPECT_TRUE(WIFEXITED(outcome.status) && WEXITSTATUS(outcome.status) == HYXSIM_REFUSED_STATUS)
        << c.name << ": " << outcome.output;
    EXPECT_NE(outcome.output.find(c.says), std::string::npos) << c.name << ": " << outcome.output;
    EXPECT_EQ(outcome.output.find("the program ran"), std::string::npos) << c.name;
  }
  // What the writer allows but no host could have answered.
  struct Recorded {
    const char *name;
    std::function<void(hsicache::Writer &, size_t)> add;
    std::string says;
  } recorded[] = {
      {"too-many-values",
       [](hsicache::Writer &w, size_t kernel) {
         const HsiNodeDef &def = hsiTables.nodes[HSI_NODE_system_version];
         w.AddGet(
             w.AddNode(kernel, def.id, def.signature, 4, reinterpret_cast<const uint8_t *>(&def), def.name),
             {Param::String("x")}, HYX_OK, {1, 2, 3, 4});
       },
       "1 instance values where the node takes 0"},
      {"recorded-twice",
       [](hsicache::Writer &w, size_t kernel) {
         const HsiNodeDef &def = hsiTables.nodes[HSI_NODE_timer_info];
         w.AddNode(kernel, def.id, def.signature, kTimerSize, reinterpret_cast<const uint8_t *>(&def),
                   def.name);
       },
       "node " + std::to_string(HSI_NODE_timer_info) + ": recorded twice"},
      {"integer-for-string",
       [](hsicache::Writer &w, size_t kernel) {
         const HsiNodeDef &def = hsiTables.nodes[HSI_NODE_net_tcpip_instances_vNics_v4_ipaddr];
         w.AddGet(
             w.AddNode(kernel, def.id, def.signature, 4, reinterpret_cast<const uint8_t *>(&def), def.name),
             {Param::Int(1), Param::String("vmk0")}, HYX_OK, {1, 2, 3, 4});
       },
       "instance value 0 is an integer where the node takes strings"},
      {"signature-differs",
       [](hsicache::Writer &w, size_t kernel) {
         const HsiNodeDef &def = hsiTables.nodes[HSI_NODE_system_version];
         w.AddNode(kernel, def.id, def.signature + 1, 4, reinterpret_cast<const uint8_t *>(&def), def.name);
       },
       "defined with"},
  };
  for (const Recorded &c : recorded) {
    CommandOutcome outcome =
        RunServed(WriteSnapshot(c.name, Snapshot(nullptr, c.add)), "echo the program ran");
    EXPECT_TRUE(WIFEXITED(outcome.status) && WEXITSTATUS(outcome.status) == HYXSIM_REFUSED_STATUS)
        << c.name << ": " << outcome.output;
    EXPECT_NE(outcome.output.find(c.says), std::string::npos) << c.name << ": " << outcome.output;
  }
  CommandOutcome missing = RunServed(std::string(WORK_DIR) + "/no-such.hsi", "echo the program ran");
  EXPECT_TRUE(WIFEXITED(missing.status) && WEXITSTATUS(missing.status) == 2) << missing.output;
  EXPECT_NE(missing.output.find("no-such.hsi: No such file"), std::string::npos) << missing.output;
}

// A snapshot hyxsnap records of the example host, served back, answers
// hyxinfo and hyxhsi as the live host did, byte for byte on stdout, with
// their status.
TEST(SimSnapshot, TheToolsAnswerAsTheRecordedHost) {
  std::string path = std::string(WORK_DIR) + "/recorded.hsi";
  std::string host =
      std::string(HYXSIM_PATH) + " --bind " + BUILD_DIR + " --profile " + HOSTS_DIR + "/hypervisor.json ";
  unlink(path.c_str());
  CommandOutcome recorded = RunCommand(host + "-- " + HYXSNAP_PATH + " -o " + path + " 2>&1");
  ASSERT_EQ(recorded.status, 0) << recorded.output;
  const std::pair<const char *, const char *> kRuns[] = {
      {HYXINFO_PATH, "version"},
      {HYXINFO_PATH, "version --json"},
      {HYXINFO_PATH, "nics --json"},
      {HYXINFO_PATH, "interfaces --json"},
      {HYXINFO_PATH, "uefi list"},
      {HYXHSI_PATH, "storage adapters --json"},
      {HYXHSI_PATH, "storage devices --json"},
      {HYXHSI_PATH, "storage paths --json"},
      {HYXHSI_PATH, "ls hyxModules"},
  };
  for (const auto &[tool, command] : kRuns) {
    std::string tail = std::string(" -- ") + tool + " " + command + " 2>/dev/null";
    CommandOutcome live = RunCommand(host + tail);
    CommandOutcome served = RunCommand(host + "--snapshot " + path + tail);
    EXPECT_EQ(live.status, 0) << command;
    EXPECT_FALSE(live.output.empty()) << command;
    EXPECT_EQ(served.status, live.status) << command;
    EXPECT_EQ(served.output, live.output) << command;
  }
}

// ---- inside: a program on the snapshot's host ---------------------------------

// Each runs only inside hyxsim, on the snapshot it was written for.
template <const char *kSnapshot>
class On : public ::testing::Test {
 protected:
  void SetUp() override {
    const char *on = getenv(kInsideVariable);
    if (on == nullptr || strcmp(on, kSnapshot) != 0) GTEST_SKIP() << "runs inside hyxsim --snapshot";
  }
};
constexpr char kServed[] = "served", kForeign[] = "foreign";
using Inside = On<kServed>;
using InsideForeign = On<kForeign>;

std::vector<std::string> Strings(HsiParamList list) {
  std::vector<std::string> out;
  for (uint32_t i = 0; i < HsiParamList_Count(list); i++) {
    const char *text = nullptr;
    EXPECT_EQ(HsiParamList_GetString(list, i, &text), HYX_OK);
    out.push_back(text ? text : "");
  }
  return out;
}

TEST_F(Inside, TheSignatureAndBuildAreTheSnapshots) {
  EXPECT_EQ(hsiLoadStatus, HYX_OK);  // the load-time exchange was accepted
  char build[64] = {};
  EXPECT_EQ(Kernel_Call(KERNEL_CALL_HSI_SIGNATURE, HSI_SIGNATURE, build, uint64_t{sizeof build}), HYX_OK);
  EXPECT_STREQ(build, kBuild);
  EXPECT_EQ(Kernel_Call(KERNEL_CALL_HSI_SIGNATURE, "0123456789abcdef0123456789abcdef", build,
                        uint64_t{sizeof build}),
            HYX_CHECKSUM_MISMATCH);
  // Node 1 names the nodes by the snapshot's numbering: here the interface's.
  auto *hashes = new HsiNodeHashReply{};
  EXPECT_EQ(Hsi_Get(HSI_NODE_sysInfoNodeHashes, nullptr, hashes, sizeof *hashes), HYX_OK);
  EXPECT_EQ(hashes->count, HSI_NODE_COUNT);
  for (uint32_t i = 0; i < HSI_NODE_COUNT; i++)
    ASSERT_EQ(hashes->hashes[i], hsiTables.nodes[i].signature) << i;
  delete hashes;
}

TEST_F(Inside, GetsAnswerAsRecorded) {
  struct Case {
    const char *name;
    uint32_t node;
    std::vector<const char *> args;
    uint32_t length;
    HYX_ReturnStatus status;
    std::vector<uint8_t> bytes;
  } cases[] = {
      {"no arguments", HSI_NODE_timer_info, {}, kTimerSize, HYX_OK, Pattern(kTimerSize, 1)},
      {"one argument",
       HSI_NODE_net_pNics_properties,
       {"vmnic0"},
       kPropertiesSize,
       HYX_OK,
       Pattern(kPropertiesSize, 2)},
      {"two arguments",
       HSI_NODE_net_tcpip_instances_vNics_mtu,
       {kStack, "vmk0"},
       4,
       HYX_OK,
       {0xdc, 0x05, 0, 0}},
      {"recorded failure", HSI_NODE_net_pNics_properties, {"vmnic1"}, kPropertiesSize, HYX_READ_ERROR, {}},
      // What the live host answers for an instance it does not hold.
      {"unknown instance", HSI_NODE_net_pNics_properties, {"vmnic9"}, kPropertiesSize, HYX_NOT_FOUND, {}},
      {"arguments swapped", HSI_NODE_net_tcpip_instances_vNics_mtu, {"vmk0", kStack}, 4, HYX_NOT_FOUND, {}},
      {"node not recorded", HSI_NODE_system_version, {}, 368, HYX_NOT_FOUND, {}},
      {"too few arguments", HSI_NODE_net_pNics_properties, {}, kPropertiesSize, HYX_BAD_PARAM_COUNT, {}},
      {"buffer one short", HSI_NODE_timer_info, {}, 87, HYX_HSI_DATA_LENGTH_MISMATCH, {}},
  };
  for (const Case &c : cases) {
    Params params{};
    for (const char *arg : c.args) EXPECT_EQ(HsiParamList_AddString(params.list, arg), HYX_OK);
    std::vector<uint8_t> buffer(c.length, 0xee);
    EXPECT_EQ(Hsi_Get(c.node, params.list, buffer.data(), c.length), c.status) << c.name;
    if (c.status == HYX_OK)
      EXPECT_EQ(buffer, c.bytes) << c.name;
    else
      EXPECT_EQ(buffer, std::vector<uint8_t>(c.length, 0xee)) << c.name << ": the buffer is untouched";
  }
  Params integer{};
  integer.Int(0);
  uint8_t buffer[kPropertiesSize];
  EXPECT_EQ(Hsi_Get(HSI_NODE_net_pNics_properties, integer.list, buffer, sizeof buffer), HYX_BAD_PARAM_TYPE);
}

TEST_F(Inside, VariableLengthValuesAreTheRecordedBuffersContents) {
  Params params{kVariable};
  uint32_t length = 0;
  EXPECT_EQ(Hsi_GetSize(HSI_NODE_uefi_variable, params.list, &length), HYX_OK);
  EXPECT_EQ(length, VariableValue().size());
  HsiSizedBuffer *sized = HsiSizedBuffer_Alloc(32, nullptr, 0);
  ASSERT_NE(sized, nullptr);
  EXPECT_EQ(Hsi_GetSized(HSI_NODE_uefi_variable, params.list, sized), HYX_OK);
  HsiSizedHeader header;
  memcpy(&header, sized, sizeof header);
  EXPECT_EQ(header.length, VariableValue().size());
  EXPECT_EQ(
      0, memcmp(reinterpret_cast<uint8_t *>(sized) + sizeof header, VariableValue().data(), header.length));
  HsiSizedBuffer_Free(sized);
}

TEST_F(Inside, ListsAnswerAsRecorded) {
  HsiParamList out = nullptr;
  ASSERT_EQ(Hsi_GetList(HSI_NODE_net_pNics, nullptr, 0, &out), HYX_OK);
  EXPECT_EQ(Strings(out), (std::vector<std::string>{"vmnic0", "vmnic1", "vmnic7"}));
  HsiParamList_Free(out);

  HsiParamList two = HsiParamList_AllocSized(HSI_PARAMLIST_INSTANCE, 2, 256, HSI_PARAMLIST_FIXED);
  EXPECT_EQ(Hsi_GetListInto(HSI_NODE_net_pNics, nullptr, two), HYX_HSI_LIST_OVERFLOW);
  EXPECT_EQ(HsiParamList_TotalCount(two), 3u);
  EXPECT_EQ(Strings(two), (std::vector<std::string>{"vmnic0", "vmnic1"}));
  HsiParamList_Free(two);

  Params stack{kStack}, busy{"busyStack"}, unknown{"noStack"};
  ASSERT_EQ(Hsi_GetList(HSI_NODE_net_tcpip_instances_vNics, stack.list, 0, &out), HYX_OK);
  EXPECT_EQ(Strings(out), (std::vector<std::string>{"vmk0", "vmk1"}));
  HsiParamList_Free(out);
  EXPECT_EQ(Hsi_GetList(HSI_NODE_net_tcpip_instances_vNics, busy.list, 0, &out), HYX_BUSY);
  // The live host lists no instances under an outer value it lacks.
  ASSERT_EQ(Hsi_GetList(HSI_NODE_net_tcpip_instances_vNics, unknown.list, 0, &out), HYX_OK);
  EXPECT_EQ(HsiParamList_Count(out), 0u);
  HsiParamList_Free(out);
}

TEST_F(Inside, SetsAreRefused) {
  uint8_t value[kTimerSize] = {};
  EXPECT_EQ(Hsi_Set(HSI_NODE_timer_info, nullptr, value, sizeof value, nullptr, 0),
            HYX_HSI_HANDLER_NOT_FOUND);
  Params params{kVariable};
  HsiSizedBuffer *input = HsiSizedBuffer_Alloc(8, value, 8);
  EXPECT_EQ(Hsi_SetSized(HSI_NODE_uefi_variable, params.list, input, nullptr), HYX_HSI_HANDLER_NOT_FOUND);
  HsiSizedBuffer_Free(input);
  uint8_t after[kTimerSize];
  EXPECT_EQ(Hsi_Get(HSI_NODE_timer_info, nullptr, after, sizeof after), HYX_OK);
  EXPECT_EQ(std::vector<uint8_t>(after, after + kTimerSize), Pattern(kTimerSize, 1));
}

TEST_F(Inside, ModulesAreTheSnapshots) {
  HsiModuleID id = 0;
  EXPECT_EQ(Hsi_GetModuleID(kModuleName, &id), HYX_OK);
  EXPECT_EQ(id, kModuleId);
  EXPECT_EQ(Hsi_GetModuleID("net", &id), HYX_NOT_FOUND);  // whole names only
  uint32_t child = 0, count = 0;
  EXPECT_EQ(Kernel_Call(KERNEL_CALL_HSI_MODULE_FIRST_NODE, kModuleId, &child), HYX_OK);
  EXPECT_EQ(child, kModuleLeaf);
  EXPECT_EQ(Kernel_Call(KERNEL_CALL_HSI_MODULE_NODE_COUNT, kModuleId, &count), HYX_OK);
  EXPECT_EQ(count, 3u);
  uint8_t def[HSI_NODE_REPLY_SIZE];
  char name[128] = {};
  EXPECT_EQ(
      Kernel_Call(KERNEL_CALL_HSI_MODULE_NODE_DEF, kModuleLeaf, kModuleId, def, name, uint64_t{sizeof name}),
      HYX_OK);
  EXPECT_EQ(0, memcmp(def, &ModuleLeafDef(), sizeof def));
  EXPECT_STREQ(name, "rxPackets");
  EXPECT_EQ(Kernel_Call(KERNEL_CALL_HSI_MODULE_NODE_DEF, HSI_MODULE_NODE_BASE + 3, kModuleId, def, name,
                        uint64_t{sizeof name}),
            HYX_HSI_INVALID_NODE_ID);
  Params params{kModuleName};
  uint8_t value[8];
  EXPECT_EQ(Hsi_Get(kModuleLeaf, params.list, value, sizeof value), HYX_OK);
  EXPECT_EQ(std::vector<uint8_t>(value, value + 8), Pattern(8, 9));
}

TEST_F(Inside, OtherCallsComeFromTheProfile) {
  struct utsname names;
  ASSERT_EQ(uname(&names), 0);
  EXPECT_STREQ(names.sysname, "Hyxkernel");
  EXPECT_STREQ(names.nodename, "hyx-host-01");
  uint64_t uptime = 0;
  EXPECT_EQ(Kernel_Call(KERNEL_CALL_UPTIME, &uptime, 0), HYX_OK);
  EXPECT_GT(uptime, 0u);
}

// The library is refused, translates through node 1, and lands on the
// snapshot's own slots; the nodes it does not describe are not there.
TEST_F(InsideForeign, TheLibraryTranslatesOntoTheRecordedSlots) {
  EXPECT_EQ(hsiLoadStatus, HYX_CHECKSUM_MISMATCH);
  uint8_t value[kTimerSize];
  EXPECT_EQ(Hsi_Get(HSI_NODE_timer_info, nullptr, value, sizeof value), HYX_OK);
  EXPECT_EQ(std::vector<uint8_t>(value, value + kTimerSize), Pattern(kTimerSize, 1));
  uint8_t version[368];
  EXPECT_EQ(Hsi_Get(HSI_NODE_system_version, nullptr, version, sizeof version), HYX_HSI_INVALID_NODE_ID);
  auto *hashes = new HsiNodeHashReply{};
  EXPECT_EQ(Hsi_Get(HSI_NODE_sysInfoNodeHashes, nullptr, hashes, sizeof *hashes), HYX_OK);
  EXPECT_EQ(hashes->hashes[HSI_NODE_timer_info], hsiTables.nodes[HSI_NODE_timer_info].signature);
  EXPECT_EQ(hashes->hashes[HSI_NODE_system_version], 0u);
  delete hashes;
}

}  // namespace
