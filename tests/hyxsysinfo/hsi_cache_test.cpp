// The information cache over snapshots made with the shared writer: the
// file's shape at init, gets and lists keyed by their arguments, module and
// node look-ups, the messages at each verbosity, the call layer with the
// cache switched on, running out of memory, and malformed files (patches of
// one good snapshot) that must fail with a status, never a crash.
#include <dirent.h>
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <initializer_list>
#include <string>
#include <vector>

#include "alloc_fail.h"
#include "bytes.h"
#include "hsi_cache_fixture.h"
#include "hyxsysinfo/hsiCacheFormat.h"
#include "hyxsysinfo/hsiCacheUser.h"
#include "hyxsysinfo/hsiCallsUser.h"
#include "hyxsysinfo/hsiLoad.h"
#include "hyxsysinfo/hsiNodes.h"
#include "hyxsysinfo/hsiTables.h"
#include "status_matchers.h"

namespace {

using hsicache::Param;
using namespace hsicachefixture;
using testing::HasSubstr;

// The sample's records in the order SampleWriter adds them.
enum : size_t { kVersionNode, kNicsNode, kPropertiesNode, kVnicsNode, kMtuNode, kWorldsNode, kWorldInfoNode };
enum : size_t { kNetRootNode = 8, kNetLinksNode, kNetInfoNode };
enum : size_t { kVersionGet, kVmnic0Get, kVmnic1Get, kVmk0Get, kVmk1Get, kWorldInfoGet, kBootOrderGet };
enum : size_t { kNicsList };
enum : size_t { kKernelModule, kNetModule, kNetxModule };
constexpr HsiModuleID kNet = 7, kNetx = 8;

// An instance list, freed with the object.
struct Args {
  HsiParamList list;
  Args(std::initializer_list<Param> values, uint32_t type = HSI_PARAMLIST_INSTANCE) {
    list = HsiParamList_Alloc(type, 2);
    for (const Param &value : values) {
      if (value.isString)
        HsiParamList_AddString(list, value.text.c_str());
      else
        HsiParamList_AddInt(list, value.value);
    }
  }
  ~Args() { HsiParamList_Free(list); }
  Args(const Args &) = delete;
  Args &operator=(const Args &) = delete;
};

std::vector<std::string> Strings(HsiParamList list) {
  std::vector<std::string> values;
  for (uint32_t i = 0; i < HsiParamList_Count(list); i++) {
    const HsiParam *param = HsiParamList_GetParam(list, i);
    values.push_back(param->type == HSI_PARAM_STRING ? HsiParam_GetString(param)
                                                     : "#" + std::to_string(HsiParam_GetInt(param)));
  }
  return values;
}

// The recorded MTU of a vNIC of defaultTcpipStack; empty when the get fails.
std::vector<uint8_t> GetMtuValue(const char *vnic) {
  Args args({Param::String("defaultTcpipStack"), Param::String(vnic)});
  std::vector<uint8_t> mtu(kMtuLength);
  if (HsiCache_Get(HSI_NODE_net_tcpip_instances_vNics_mtu, 0, args.list, mtu.data(), kMtuLength) != HYX_OK)
    return {};
  return mtu;
}

constexpr uint32_t kFar = 1u << 30;  // an offset beyond any sample

int OpenDescriptors() {
  int count = 0;
  DIR *dir = opendir("/proc/self/fd");
  while (readdir(dir) != nullptr) count++;
  closedir(dir);
  return count;
}

std::string NodeText(HsiNodeID node) { return std::to_string(node); }

// Every test leaves the cache off, whatever it did.
class HsiCache : public testing::Test {
 protected:
  void TearDown() override { Hsi_DisableCache(); }
};

// The sample, initialised for the whole test at the given verbosity.
class HsiCacheSample : public HsiCache {
 protected:
  void SetUp() override { ASSERT_THAT(HsiCache_Init(file_.path(), -1), IsOk()); }
  SnapshotFile file_{SampleFile()};
};

TEST_F(HsiCache, OneBlockAndItsTrailerInitialiseButOneByteMoreOrFewerThanAHeaderDoNot) {
  hsicache::Writer empty;
  std::vector<uint8_t> bytes = empty.Finish(kBuild, HSI_SIGNATURE);
  ASSERT_EQ(bytes.size(), 4 + sizeof(HsiCacheTrailer));
  {
    SnapshotFile file(bytes);
    ASSERT_THAT(HsiCache_Init(file.path(), 0), IsOk());
    char build[HSI_CACHE_BUILD_SIZE];
    EXPECT_THAT(HsiCache_GetBuildInfo(build, sizeof build), IsOk());
    EXPECT_STREQ(build, kBuild);
    HsiCache_Cleanup();
  }
  // An empty file fails as a mapping of no bytes does.
  struct {
    size_t size;
    HYX_ReturnStatus status;
    const char *message;  // %s: the path
  } cases[] = {
      {bytes.size() + 1, HYX_FAILURE, "HsiCache_Init():HSI cache file got truncated-2\n"},
      {3, HYX_FAILURE, "HsiCache_Init():HSI cache file got truncated-1\n"},
      {0, HYX_ERRNO_STATUS_BASE + EINVAL, "HsiCache_Init():Failed to mmap(%s, 0 bytes): Invalid argument\n"}};
  for (const auto &c : cases) {
    std::vector<uint8_t> resized = bytes;
    resized.resize(c.size);
    SnapshotFile file(resized);
    testing::internal::CaptureStderr();
    EXPECT_THAT(HsiCache_Init(file.path(), 0), IsStatus(c.status)) << c.size;
    char message[256];
    snprintf(message, sizeof message, c.message, file.path());
    EXPECT_EQ(testing::internal::GetCapturedStderr(), message);
    char build[HSI_CACHE_BUILD_SIZE];
    EXPECT_THAT(HsiCache_GetBuildInfo(build, sizeof build), IsStatus(HYX_NOT_INITIALIZED));
  }
}

TEST_F(HsiCache, ASecondInitIsRefusedAndAFileThatCannotBeOpenedSaysWhy) {
  SnapshotFile file(SampleFile());
  int descriptors = OpenDescriptors();
  ASSERT_THAT(HsiCache_Init(file.path(), 0), IsOk());
  EXPECT_EQ(OpenDescriptors(), descriptors);  // the mapping stays, the descriptor does not
  testing::internal::CaptureStderr();
  EXPECT_THAT(HsiCache_Init(file.path(), 0), IsStatus(HYX_EXISTS));
  EXPECT_EQ(
      testing::internal::GetCapturedStderr(),
      "HsiCache_Init():Already initialized.  Call HsiCache_Cleanup before calling HsiCache_Init again.\n");
  HsiCache_Cleanup();

  std::string missing = std::string(file.path()) + ".missing";
  testing::internal::CaptureStderr();
  EXPECT_THAT(HsiCache_Init(missing.c_str(), 0), IsStatus(HYX_ERRNO_STATUS_BASE + ENOENT));
  EXPECT_EQ(testing::internal::GetCapturedStderr(),
            "HsiCache_Init():Failed to open(" + missing + "): No such file or directory\n");
  EXPECT_EQ(OpenDescriptors(), descriptors);
  EXPECT_THAT(HsiCache_Init(file.path(), 0), IsOk());  // nothing left behind
}

TEST_F(HsiCache, LookupsBeforeInitAndAfterCleanupFindNothing) {
  SnapshotFile file(SampleFile());
  for (int round = 0; round < 2; round++) {
    uint8_t buffer[4];
    Args none({});
    EXPECT_THAT(HsiCache_Get(HSI_NODE_system_version, 0, none.list, buffer, 0),
                IsStatus(HYX_NOT_INITIALIZED));
    EXPECT_THAT(HsiCache_GetInstanceList(HSI_NODE_net_pNics, 0, none.list, none.list),
                IsStatus(HYX_NOT_INITIALIZED));
    char build[HSI_CACHE_BUILD_SIZE];
    EXPECT_THAT(HsiCache_GetBuildInfo(build, sizeof build), IsStatus(HYX_NOT_INITIALIZED));
    HsiNodeDef def;
    char name[16];
    EXPECT_THAT(HsiCache_GetNodeDef(5001, kNet, &def, name, sizeof name), IsStatus(HYX_NOT_INITIALIZED));
    const HsiTypeDef *type = nullptr;
    EXPECT_THAT(HsiCache_GetNodeType(5002, kNet, &type), IsStatus(HYX_NOT_INITIALIZED));
    HsiNodeID child;
    EXPECT_THAT(HsiCache_GetModuleRootChild(kNet, &child), IsStatus(HYX_NOT_INITIALIZED));
    EXPECT_FALSE(HsiCache_NodeExists(HSI_NODE_system_version, 0));
    HsiModuleID id = 5;
    EXPECT_THAT(HsiCache_GetModuleID("net", &id), IsStatus(HYX_NOT_FOUND));
    EXPECT_EQ(id, -1);
    ASSERT_THAT(HsiCache_Init(file.path(), 1), IsOk());
    HsiCache_Cleanup();
    EXPECT_EQ(hsiCacheVerbosity, 0);
  }
}

TEST_F(HsiCacheSample, AGetAnswersWithTheEntryRecordedForExactlyTheseArguments) {
  const uint32_t version = hsiTables.nodes[HSI_NODE_system_version].getSize;
  const uint32_t properties = hsiTables.nodes[HSI_NODE_net_pNics_properties].getSize;
  const uint32_t worldInfo = hsiTables.nodes[HSI_NODE_world_info].getSize;
  const Param stack = Param::String("defaultTcpipStack");
  struct Case {
    const char *what;
    HsiNodeID node;
    HsiModuleID module;
    std::initializer_list<Param> args;
    uint32_t length;
    HYX_ReturnStatus status;
    std::vector<uint8_t> value;
  } cases[] = {
      {"no arguments",
       HSI_NODE_system_version,
       0,
       {},
       version,
       HYX_OK,
       {'H', 'y', 'x', 'k', 'e', 'r', 'n', 'e', 'l'}},
      {"two arguments",
       HSI_NODE_net_tcpip_instances_vNics_mtu,
       0,
       {stack, Param::String("vmk1")},
       kMtuLength,
       HYX_OK,
       {0x28, 0x23, 0, 0}},
      {"the same in another order",
       HSI_NODE_net_tcpip_instances_vNics_mtu,
       0,
       {Param::String("vmk1"), stack},
       kMtuLength,
       HYX_BAD_PARAM,
       {}},
      {"an instance never recorded",
       HSI_NODE_net_tcpip_instances_vNics_mtu,
       0,
       {stack, Param::String("vmk9")},
       kMtuLength,
       HYX_BAD_PARAM,
       {}},
      {"a recorded failure",
       HSI_NODE_net_pNics_properties,
       0,
       {Param::String("vmnic1")},
       properties,
       HYX_NOT_FOUND,
       {}},
      {"a length one short",
       HSI_NODE_net_pNics_properties,
       0,
       {Param::String("vmnic0")},
       properties - 1,
       HYX_HSI_DATA_LENGTH_MISMATCH,
       {}},
      {"an integer key", HSI_NODE_world_info, 0, {Param::Int(7)}, worldInfo, HYX_OK, Pattern(worldInfo, 7)},
      {"a string for an integer key",
       HSI_NODE_world_info,
       0,
       {Param::String("7")},
       worldInfo,
       HYX_BAD_PARAM_TYPE,
       {}},
      {"an integer for a string key",
       HSI_NODE_net_pNics_properties,
       0,
       {Param::Int(0)},
       properties,
       HYX_BAD_PARAM_TYPE,
       {}},
      {"an argument too many",
       HSI_NODE_system_version,
       0,
       {Param::String("x")},
       version,
       HYX_BAD_PARAM_COUNT,
       {}},
      {"an argument too few",
       HSI_NODE_net_tcpip_instances_vNics_mtu,
       0,
       {stack},
       kMtuLength,
       HYX_BAD_PARAM_COUNT,
       {}},
      {"a branch", HSI_NODE_net_pNics, 0, {}, 0, HYX_IS_A_DIRECTORY, {}},
      {"a node not recorded", HSI_NODE_timer_info, 0, {}, 88, HYX_BAD_PARAM, {}},
      {"a module node", 5002, kNet, {Param::String("eth0")}, kLeafLength, HYX_OK, Pattern(kLeafLength, 0x70)},
      {"the other module's",
       5002,
       kNetx,
       {Param::String("eth0")},
       kLeafLength,
       HYX_OK,
       Pattern(kLeafLength, 0x80)},
      {"a module not recorded", 5002, 9, {Param::String("eth0")}, kLeafLength, HYX_NOT_FOUND, {}},
      {"a slot beyond the module's", 5004, kNet, {}, kLeafLength, HYX_NOT_FOUND, {}},
  };
  for (const Case &c : cases) {
    Args args(c.args);
    std::vector<uint8_t> buffer(c.length + 1, 0xee);
    EXPECT_THAT(HsiCache_Get(c.node, c.module, args.list, buffer.data(), c.length), IsStatus(c.status))
        << c.what;
    if (c.status == HYX_OK) {
      EXPECT_TRUE(std::equal(c.value.begin(), c.value.end(), buffer.begin())) << c.what;
      EXPECT_EQ(buffer[c.length], 0xee) << c.what;
    } else {
      EXPECT_EQ(buffer, std::vector<uint8_t>(c.length + 1, 0xee)) << c.what << ": the buffer is untouched";
    }
  }
  Args values({Param::String("vmnic0")}, HSI_PARAMLIST_VALUES);
  std::vector<uint8_t> buffer(properties);
  EXPECT_THAT(HsiCache_Get(HSI_NODE_net_pNics_properties, 0, values.list, buffer.data(), properties),
              IsStatus(HYX_BAD_PARAM_TYPE));
}

TEST_F(HsiCacheSample, AListAppendsTheRecordedInstancesOrLeavesTheListAsItWas) {
  struct Case {
    const char *what;
    HsiNodeID node;
    HsiModuleID module;
    std::initializer_list<Param> args;
    HYX_ReturnStatus status;
    std::vector<std::string> items;
  } cases[] = {
      {"names", HSI_NODE_net_pNics, 0, {}, HYX_OK, {"keep", "vmnic0", "vmnic1"}},
      {"under an instance",
       HSI_NODE_net_tcpip_instances_vNics,
       0,
       {Param::String("defaultTcpipStack")},
       HYX_OK,
       {"keep", "vmk0", "vmk1"}},
      {"integers", HSI_NODE_world, 0, {}, HYX_OK, {"keep", "#7", "#9"}},
      {"a module node", 5001, kNet, {}, HYX_OK, {"keep", "eth0", "net"}},
      {"an instance never recorded",
       HSI_NODE_net_tcpip_instances_vNics,
       0,
       {Param::String("other")},
       HYX_BAD_PARAM,
       {"keep"}},
      {"an argument too few", HSI_NODE_net_tcpip_instances_vNics, 0, {}, HYX_BAD_PARAM_COUNT, {"keep"}},
      {"a leaf", HSI_NODE_net_pNics_properties, 0, {}, HYX_NOT_FOUND, {"keep"}},
  };
  for (const Case &c : cases) {
    Args args(c.args);
    Args list({Param::String("keep")});
    EXPECT_THAT(HsiCache_GetInstanceList(c.node, c.module, args.list, list.list), IsStatus(c.status))
        << c.what;
    EXPECT_EQ(Strings(list.list), c.items) << c.what;
  }
  // A fixed list that fills up midway gets back what it held.
  HsiParamList fixed = HsiParamList_AllocSized(HSI_PARAMLIST_INSTANCE, 2, 64, HSI_PARAMLIST_FIXED);
  HsiParamList_AddString(fixed, "keep");
  hsiCacheVerbosity = 0;
  testing::internal::CaptureStderr();
  Args none({});
  EXPECT_THAT(HsiCache_GetInstanceList(HSI_NODE_net_pNics, 0, none.list, fixed),
              IsStatus(HYX_LIMIT_EXCEEDED));
  char expected[96];
  snprintf(expected, sizeof expected, "HsiCacheCreateHsiInstanceList():Failed to add param to list: %#x\n",
           HYX_LIMIT_EXCEEDED);
  EXPECT_EQ(testing::internal::GetCapturedStderr(), expected);
  EXPECT_EQ(Strings(fixed), std::vector<std::string>{"keep"});
  HsiParamList_Free(fixed);
}

TEST_F(HsiCacheSample, ModulesAreFoundByNamePrefixInIndexOrderAndTheirNodesDescribed) {
  struct {
    const char *name;
    HYX_ReturnStatus status;
    HsiModuleID id;
  } names[] = {
      {"net", HYX_OK, kNetx}, {"netx", HYX_OK, kNetx},    {"kernel", HYX_OK, 0},       {"k", HYX_OK, 0},
      {"", HYX_OK, kNetx},    {"nfs", HYX_NOT_FOUND, -1}, {"netxy", HYX_NOT_FOUND, -1}};
  for (const auto &n : names) {
    HsiModuleID id = 99;
    EXPECT_THAT(HsiCache_GetModuleID(n.name, &id), IsStatus(n.status)) << n.name;
    EXPECT_EQ(id, n.id) << n.name;
  }

  HsiNodeID child = 0;
  EXPECT_THAT(HsiCache_GetModuleRootChild(kNet, &child), IsOk());
  EXPECT_EQ(child, 5001u);
  EXPECT_THAT(HsiCache_GetModuleRootChild(9, &child), IsStatus(HYX_NOT_FOUND));
  EXPECT_THAT(HsiCache_GetModuleRootChild(0, &child), IsStatus(HYX_NOT_FOUND));  // the root is not recorded

  HsiNodeDef def{};
  char name[8];
  memset(name, 'z', sizeof name);
  ASSERT_THAT(HsiCache_GetNodeDef(5001, kNet, &def, name, 5), IsOk());
  EXPECT_EQ(memcmp(&def, DefBytes(ModuleDef(5001)).data(), HSI_NODE_REPLY_SIZE), 0);
  EXPECT_EQ(std::string(name, 6), "linksz");  // a name that fills the buffer is not terminated
  ASSERT_THAT(HsiCache_GetNodeDef(5001, kNet, &def, name, sizeof name), IsOk());
  EXPECT_STREQ(name, "links");
  EXPECT_THAT(HsiCache_GetNodeDef(5003, kNet, &def, name, sizeof name), IsStatus(HYX_BAD_PARAM));
  EXPECT_THAT(HsiCache_GetNodeDef(5001, 9, &def, name, sizeof name), IsStatus(HYX_NOT_FOUND));

  EXPECT_TRUE(HsiCache_NodeExists(5002, kNet));
  EXPECT_TRUE(HsiCache_NodeExists(HSI_NODE_system_version, 0));
  EXPECT_FALSE(HsiCache_NodeExists(5003, kNet));
  EXPECT_FALSE(HsiCache_NodeExists(HSI_NODE_timer_info, 0));
  EXPECT_FALSE(HsiCache_NodeExists(5002, 9));

  const HsiTypeDef *type = nullptr;
  ASSERT_THAT(HsiCache_GetNodeType(5002, kNet, &type), IsOk());
  ASSERT_NE(type, nullptr);
  EXPECT_STREQ(type->name, "LinkInfo");
  EXPECT_EQ(type->kind, HSI_TYPE_STRUCT);
  EXPECT_EQ(type->size, 8u);
  EXPECT_STREQ(type->format, "one link");
  ASSERT_EQ(type->a.count, 2u);
  const HsiFieldDef &speed = type->b.fields[0], &state = type->b.fields[1];
  EXPECT_STREQ(speed.name, "speed");
  EXPECT_STREQ(speed.description, "Mb/s");
  EXPECT_EQ(speed.typeIndex, 9u);
  EXPECT_STREQ(speed.type->format, "%u");
  EXPECT_EQ(state.offset, 4u);
  EXPECT_EQ(state.description, nullptr);
  EXPECT_EQ(state.type->kind, HSI_TYPE_ENUM);
  ASSERT_EQ(state.type->a.count, 2u);
  EXPECT_STREQ(state.type->b.values[0].description, "link up");
  EXPECT_EQ(state.type->b.values[1].value, 2u);
  EXPECT_STREQ(state.type->b.values[1].name, "down");
  HsiNode_ReleaseType(type);
  EXPECT_THAT(HsiCache_GetNodeType(5001, kNet, &type), IsOk());
  EXPECT_EQ(type, nullptr);

  // A static node's type, as the writer copied it from the library's table.
  const HsiTypeDef *table = hsiTables.nodes[HSI_NODE_system_version].getTypeDef;
  ASSERT_THAT(HsiCache_GetNodeType(HSI_NODE_system_version, 0, &type), IsOk());
  EXPECT_STREQ(type->name, table->name);
  ASSERT_EQ(type->a.count, table->a.count);
  for (uint64_t i = 0; i < table->a.count; i++) {
    EXPECT_STREQ(type->b.fields[i].name, table->b.fields[i].name);
    EXPECT_EQ(type->b.fields[i].type->size, table->b.fields[i].type->size);
  }
  HsiNode_ReleaseType(type);
}

TEST_F(HsiCache, MessagesFollowTheVerbosity) {
  SnapshotFile file(SampleFile());
  const std::string node = NodeText(HSI_NODE_net_pNics);
  const std::string error = "HsiCache_Get():Node " + node + " failed validation checks for leaf node\n\n";
  const std::string diagnostic = "HsiCacheCheckValidLeaf():Node " + node + " isn't a leaf\n\n";
  struct {
    int32_t verbosity;
    std::string written;
  } cases[] = {{-1, ""}, {0, error}, {1, diagnostic + error}};
  for (const auto &c : cases) {
    ASSERT_THAT(HsiCache_Init(file.path(), c.verbosity), IsOk());
    Args none({});
    testing::internal::CaptureStderr();
    EXPECT_THAT(HsiCache_Get(HSI_NODE_net_pNics, 0, none.list, nullptr, 0), IsStatus(HYX_IS_A_DIRECTORY));
    EXPECT_THAT(HsiCache_Init(file.path(), 0), IsStatus(HYX_EXISTS));
    std::string written = testing::internal::GetCapturedStderr();
    EXPECT_EQ(written.substr(0, written.find("HsiCache_Init")), c.written) << c.verbosity;
    EXPECT_EQ(written.find("HsiCache_Init") != std::string::npos, c.verbosity >= 0) << c.verbosity;
    HsiCache_Cleanup();
  }

  ASSERT_THAT(HsiCache_Init(file.path(), 1), IsOk());
  uint8_t mtu[kMtuLength + 1];
  Args args({Param::String("defaultTcpipStack"), Param::String("vmk0")});
  testing::internal::CaptureStderr();
  HsiCache_Get(HSI_NODE_net_tcpip_instances_vNics_mtu, 0, args.list, mtu, sizeof mtu);
  EXPECT_EQ(testing::internal::GetCapturedStderr(), "HsiCache_Get():Data length mismatch for get on node " +
                                                        NodeText(HSI_NODE_net_tcpip_instances_vNics_mtu) +
                                                        " (4,5)\n\n");
}

// Block lengths as this library writes them (the header word with bit 0
// cleared) and as the 31-bit field above bit 0; a chain that holds under
// neither reading is reported as the first finds it.
TEST_F(HsiCache, BlockLengthsAreReadEitherWayTheChainHolds) {
  hsicache::Placement placement;
  const std::vector<uint8_t> masked = SampleFile(512, &placement);
  ASSERT_GT(placement.blocks.size(), 3u);
  std::vector<uint8_t> shifted = masked;
  for (uint32_t block : placement.blocks) {
    auto header = At<uint32_t>(masked.data(), block);
    PutAt<uint32_t>(shifted.data(), block, (header & ~1u) << 1 | (header & 1u));
  }
  struct {
    const char *what;
    std::vector<uint8_t> bytes;
    const char *reading;
  } cases[] = {{"masked", masked, "with bit 0 cleared"}, {"shifted", shifted, "shifted right by one"}};
  for (const auto &c : cases) {
    SnapshotFile file(c.bytes);
    testing::internal::CaptureStderr();
    ASSERT_THAT(HsiCache_Init(file.path(), 1), IsOk()) << c.what;
    EXPECT_EQ(testing::internal::GetCapturedStderr(),
              std::string("HsiCache_Init():Block lengths read as the header word ") + c.reading + "\n");
    EXPECT_THAT(GetMtuValue("vmk1"), testing::ElementsAre(0x28, 0x23, 0, 0)) << c.what;
    HsiModuleID id = -1;
    EXPECT_THAT(HsiCache_GetModuleID("netx", &id), IsOk()) << c.what;
    EXPECT_EQ(id, kNetx) << c.what;
    HsiCache_Cleanup();
  }
  std::vector<uint8_t> longer = shifted;
  longer.push_back(0);
  SnapshotFile file(longer);
  testing::internal::CaptureStderr();
  EXPECT_THAT(HsiCache_Init(file.path(), 1), IsStatus(HYX_FAILURE));
  EXPECT_EQ(testing::internal::GetCapturedStderr(), "HsiCache_Init():HSI cache file got truncated-1\n");
}

// Init reads the file into memory of its own: cutting the file short or
// rewriting it afterwards changes no answer.
TEST_F(HsiCache, AFileChangedAfterInitChangesNothing) {
  hsicache::Placement placement;
  std::vector<uint8_t> bytes = SampleFile(0, &placement);
  for (int change = 0; change < 2; change++) {
    SnapshotFile file(bytes);
    ASSERT_THAT(HsiCache_Init(file.path(), -1), IsOk());
    ASSERT_THAT(GetMtuValue("vmk1"), testing::ElementsAre(0x28, 0x23, 0, 0));
    FILE *changed = fopen(file.path(), "r+");
    ASSERT_NE(changed, nullptr);
    if (change == 0) {
      ASSERT_EQ(ftruncate(fileno(changed), 0), 0);
    } else {
      // The value itself, and the offset of the other value to outside the file.
      std::vector<uint8_t> rewritten = bytes;
      PutAt<uint32_t>(rewritten.data(), placement.getData[kVmk1Get], 0x01020304);
      PutAt<uint32_t>(rewritten.data(), placement.gets[kVmk0Get] + offsetof(HsiCacheGetEntry, data), kFar);
      ASSERT_EQ(fwrite(rewritten.data(), 1, rewritten.size(), changed), rewritten.size());
    }
    ASSERT_EQ(fclose(changed), 0);
    EXPECT_THAT(GetMtuValue("vmk1"), testing::ElementsAre(0x28, 0x23, 0, 0)) << change;
    EXPECT_THAT(GetMtuValue("vmk0"), testing::ElementsAre(0xdc, 0x05, 0, 0)) << change;
    char build[HSI_CACHE_BUILD_SIZE];
    EXPECT_THAT(HsiCache_GetBuildInfo(build, sizeof build), IsOk()) << change;
    EXPECT_STREQ(build, kBuild);
    const HsiTypeDef *type = nullptr;
    EXPECT_THAT(HsiCache_GetNodeType(5002, kNet, &type), IsOk()) << change;
    HsiNode_ReleaseType(type);
    HsiCache_Cleanup();
  }
}

// The count of a structure's fields is a u32: the 4 bytes after it are
// not part of it.
TEST_F(HsiCache, ATypesCountIsFourBytes) {
  hsicache::Placement placement;
  std::vector<uint8_t> bytes = SampleFile(0, &placement);
  PutAt<uint32_t>(bytes.data(), placement.types[kNetInfoNode] + 28, 0xa5a5a5a5);
  SnapshotFile file(bytes);
  ASSERT_THAT(HsiCache_Init(file.path(), -1), IsOk());
  const HsiTypeDef *type = nullptr;
  ASSERT_THAT(HsiCache_GetNodeType(5002, kNet, &type), IsOk());
  EXPECT_EQ(type->a.count, 2u);
  EXPECT_STREQ(type->b.fields[1].name, "state");
  HsiNode_ReleaseType(type);
}

// A structure whose fields share one descriptor, nested: a small file whose
// type copy would be many times its size.  The copy is refused, and a
// module leaf of ordinary size still copies.
TEST_F(HsiCache, ATypeCopyIsBoundedByTheFilesSize) {
  constexpr int kLevels = 5;
  constexpr uint64_t kFields = 8;
  const std::string longName(200, 'f');
  static const HsiTypeDef u32{"HSI_DEC_U32", HSI_TYPE_SCALAR, 4, "%u", {0}, {nullptr}, 0};
  std::vector<std::vector<HsiFieldDef>> fields(kLevels, std::vector<HsiFieldDef>(kFields));
  std::vector<HsiTypeDef> levels(kLevels);
  for (int level = 0; level < kLevels; level++) {
    const HsiTypeDef *below = level == 0 ? &u32 : &levels[level - 1];
    for (uint64_t i = 0; i < kFields; i++)
      fields[level][i] = {longName.c_str(), below, 9, static_cast<uint32_t>(i * below->size), nullptr};
    uint32_t size = below->size * static_cast<uint32_t>(kFields);
    levels[level] = {"Nested", HSI_TYPE_STRUCT, size, "nested", {kFields}, {.fields = fields[level].data()},
                     0};
  }
  hsicache::Writer writer;
  size_t module = writer.AddModule(7, "nested", 4);
  const HsiTypeDef *types[] = {nullptr, &levels[kLevels - 1], ModuleLeafType()};
  for (uint32_t slot = 0; slot < 3; slot++) {
    HsiNodeDef def = ModuleDef(HSI_MODULE_NODE_BASE + slot);
    writer.AddNode(module, slot, def.signature, def.getSize, DefBytes(def).data(), "node", types[slot]);
  }
  std::vector<uint8_t> bytes = writer.Finish(kBuild, HSI_SIGNATURE);
  ASSERT_LT(bytes.size(), 16384u);  // while the copy would take over 7 MB
  SnapshotFile file(bytes);
  ASSERT_THAT(HsiCache_Init(file.path(), -1), IsOk());
  const HsiTypeDef *type = nullptr;
  EXPECT_THAT(HsiCache_GetNodeType(5001, 7, &type), IsStatus(HYX_READ_ERROR));
  EXPECT_EQ(type, nullptr);
  ASSERT_THAT(HsiCache_GetNodeType(5002, 7, &type), IsOk());
  EXPECT_STREQ(type->name, "LinkInfo");
  HsiNode_ReleaseType(type);
}

TEST_F(HsiCache, TheCallLayerAnswersFromTheCacheWhileItIsOn) {
  SnapshotFile file(SampleFile());
  testing::internal::CaptureStderr();
  EXPECT_THAT(Hsi_EnableCache((std::string(file.path()) + ".missing").c_str(), -1),
              IsStatus(HYX_ERRNO_STATUS_BASE + ENOENT));
  EXPECT_THAT(testing::internal::GetCapturedStderr(), HasSubstr("Failed to open"));
  EXPECT_FALSE(Hsi_CacheEnabled());
  ASSERT_THAT(Hsi_EnableCache(file.path(), -1), IsOk());
  EXPECT_TRUE(Hsi_CacheEnabled());

  std::vector<char> version(hsiTables.nodes[HSI_NODE_system_version].getSize);
  EXPECT_THAT(Hsi_Get(HSI_NODE_system_version, nullptr, version.data(), version.size()), IsOk());
  EXPECT_STREQ(version.data(), "Hyxkernel");
  HsiParamList nics = nullptr;
  ASSERT_THAT(Hsi_GetList(HSI_NODE_net_pNics, nullptr, 0, &nics), IsOk());
  EXPECT_EQ(Strings(nics), (std::vector<std::string>{"vmnic0", "vmnic1"}));
  HsiParamList_Free(nics);

  // Module nodes: the first value names the module, by prefix.
  Args netLinks({Param::String("net")});
  HsiParamList links = nullptr;
  ASSERT_THAT(Hsi_GetList(5001, netLinks.list, 0, &links), IsOk());
  EXPECT_EQ(Strings(links), (std::vector<std::string>{"eth0", "netx"}));
  HsiParamList_Free(links);
  Args info({Param::String("netx"), Param::String("eth0")});
  uint8_t leaf[kLeafLength];
  EXPECT_THAT(Hsi_Get(5002, info.list, leaf, sizeof leaf), IsOk());
  EXPECT_EQ(std::vector<uint8_t>(leaf, leaf + sizeof leaf), Pattern(kLeafLength, 0x80));
  HsiModuleID module = 5;
  EXPECT_THAT(Hsi_GetModuleID("kernel", &module), IsOk());
  EXPECT_EQ(module, 0);

  // A sized get reads the recorded buffer, header and all.
  Args bootOrder({Param::String("BootOrder")});
  HsiSizedBuffer *sized = HsiSizedBuffer_Alloc(kUefiCapacity, nullptr, 0);
  EXPECT_THAT(Hsi_GetSized(HSI_NODE_uefi_variable, bootOrder.list, sized), IsOk());
  EXPECT_EQ(sized->length, 6u);
  EXPECT_EQ(At<uint32_t>(sized->data, 0), 7u);
  HsiSizedBuffer_Free(sized);
  sized = HsiSizedBuffer_Alloc(kUefiCapacity - 1, nullptr, 0);
  EXPECT_THAT(Hsi_GetSized(HSI_NODE_uefi_variable, bootOrder.list, sized),
              IsStatus(HYX_HSI_DATA_LENGTH_MISMATCH));
  HsiSizedBuffer_Free(sized);

  // Nothing is written and nothing sized.
  uint32_t size = 0;
  uint8_t byte = 0;
  EXPECT_THAT(Hsi_GetSize(HSI_NODE_uefi_variable, bootOrder.list, &size), IsStatus(HYX_NOT_SUPPORTED));
  EXPECT_THAT(Hsi_Set(HSI_NODE_system_version, nullptr, &byte, 1, nullptr, 0), IsStatus(HYX_NOT_SUPPORTED));
  EXPECT_THAT(Hsi_SetWithParams(HSI_NODE_system_version, nullptr, nullptr, nullptr, 0),
              IsStatus(HYX_NOT_SUPPORTED));
  sized = HsiSizedBuffer_Alloc(1, &byte, 1);
  EXPECT_THAT(Hsi_SetSized(HSI_NODE_uefi_variable, bootOrder.list, sized, nullptr),
              IsStatus(HYX_NOT_SUPPORTED));
  HsiSizedBuffer_Free(sized);

  // The build information and the module tree come from the snapshot.
  char build[21];
  const char *library = nullptr;
  bool translated = true;
  EXPECT_THAT(Hsi_GetBuildInfo(build, sizeof build, &library, &translated), IsOk());
  EXPECT_STREQ(build, kBuild);
  EXPECT_FALSE(translated);
  const HsiNodeDef *def = nullptr;
  ASSERT_THAT(HsiNode_FindChild(HSI_MODULE_NODE_BASE, kNetx, "links", &def), IsOk());
  EXPECT_EQ(def->id, 5001u);
  EXPECT_STREQ(def->name, "links");
  HsiNode_ReleaseDef(def);
  char *identifier = HsiNode_GetIdentifierName(5002, kNetx);
  EXPECT_STREQ(identifier, "HSI_MODULE_NODE_links_info");
  free(identifier);
  EXPECT_TRUE(HsiNode_IsValid(5002, kNetx));
  EXPECT_FALSE(HsiNode_IsValid(5003, kNetx));
  const HsiTypeDef *type = nullptr;
  ASSERT_THAT(HsiNode_GetType(5002, kNetx, HSI_TYPE_OF_GET, &type), IsOk());
  EXPECT_STREQ(type->name, "LinkInfo");
  HsiNode_ReleaseType(type);
  EXPECT_THAT(HsiNode_GetType(5002, kNetx, HSI_TYPE_OF_SET_OUTPUT, &type), IsStatus(HYX_NOT_SUPPORTED));

  Hsi_DisableCache();
  EXPECT_FALSE(Hsi_CacheEnabled());
  EXPECT_THAT(HsiCache_GetBuildInfo(build, sizeof build), IsStatus(HYX_NOT_INITIALIZED));
}

TEST_F(HsiCache, ASizedGetWhoseRecordedHeaderClaimsMoreRoomIsRefused) {
  hsicache::Placement placement;
  std::vector<uint8_t> bytes = SampleFile(0, &placement);
  PutAt<uint32_t>(bytes.data(), placement.getData[kBootOrderGet], 4096);
  SnapshotFile file(bytes);
  ASSERT_THAT(Hsi_EnableCache(file.path(), -1), IsOk());
  Args bootOrder({Param::String("BootOrder")});
  HsiSizedBuffer *sized = HsiSizedBuffer_Alloc(kUefiCapacity, nullptr, 0);
  EXPECT_THAT(Hsi_GetSized(HSI_NODE_uefi_variable, bootOrder.list, sized), IsStatus(HYX_READ_ERROR));
  EXPECT_EQ(sized->capacity, kUefiCapacity);
  EXPECT_EQ(sized->length, 0u);
  HsiSizedBuffer_Free(sized);
}

TEST_F(HsiCache, RunningOutOfMemoryFailsCleanly) {
  SnapshotFile file(SampleFile());
  testing::internal::CaptureStderr();
  uint64_t allocations = AllocFail_Sweep(
      [&] {
        HYX_ReturnStatus status = HsiCache_Init(file.path(), -1);
        HsiCache_Cleanup();
        return status;
      },
      [](HYX_ReturnStatus status, uint64_t nth) { EXPECT_THAT(status, IsStatus(HYX_NO_MEMORY)) << nth; });
  std::string written = testing::internal::GetCapturedStderr();
  EXPECT_EQ(allocations, 10u);  // the file's copy, then an index entry and two slot tables per module
  EXPECT_THAT(written, HasSubstr("HsiCache_Init():Failed to malloc space for the cache list\n"));
  EXPECT_THAT(written, HasSubstr("HsiCache_Init():Malloc failed for nodelist, index: 0, numNodes: " +
                                 std::to_string(kWorldInfoNode + 2) + ", moduleID: 0\n"));
  EXPECT_THAT(written, HasSubstr("HsiCache_Init():Malloc failed for nodeInfolist, index: 2, numNodes: 3, "
                                 "moduleID: 8\n"));

  ASSERT_THAT(HsiCache_Init(file.path(), -1), IsOk());
  AllocFail_Sweep(
      [&] {
        const HsiTypeDef *type = nullptr;
        HYX_ReturnStatus status = HsiCache_GetNodeType(HSI_NODE_system_version, 0, &type);
        if (status == HYX_OK) HsiNode_ReleaseType(type);
        return status == HYX_OK || type == nullptr ? status : static_cast<HYX_ReturnStatus>(HYX_FAILURE);
      },
      [](HYX_ReturnStatus status, uint64_t nth) { EXPECT_THAT(status, IsStatus(HYX_NO_MEMORY)) << nth; });
}

// Patches of the sample that make it malformed, each with what init says
// and, when init accepts the file, what a look-up says.
struct Malformed {
  const char *what;
  std::function<void(std::vector<uint8_t> &, const hsicache::Placement &)> patch;
  HYX_ReturnStatus init;
  std::function<HYX_ReturnStatus()> lookup = nullptr;
  HYX_ReturnStatus status = HYX_OK;
};

HYX_ReturnStatus GetMtu(const char *vnic) {
  Args args({Param::String("defaultTcpipStack"), Param::String(vnic)});
  uint8_t mtu[kMtuLength];
  return HsiCache_Get(HSI_NODE_net_tcpip_instances_vNics_mtu, 0, args.list, mtu, sizeof mtu);
}

HYX_ReturnStatus ListNics() {
  Args none({});
  Args list({});
  HYX_ReturnStatus status = HsiCache_GetInstanceList(HSI_NODE_net_pNics, 0, none.list, list.list);
  return status == HYX_OK || HsiParamList_Count(list.list) == 0 ? status
                                                                : static_cast<HYX_ReturnStatus>(HYX_FAILURE);
}

HYX_ReturnStatus NetLeafType() {
  const HsiTypeDef *type = nullptr;
  HYX_ReturnStatus status = HsiCache_GetNodeType(5002, kNet, &type);
  HsiNode_ReleaseType(type);
  return status;
}

HYX_ReturnStatus NetLeaf() {
  Args args({Param::String("eth0")});
  uint8_t leaf[kLeafLength];
  return HsiCache_Get(5002, kNet, args.list, leaf, sizeof leaf);
}

// A patch that writes one value of type T; where and value may use the
// placement p.
#define SET(T, where, value)                                      \
  [](std::vector<uint8_t> &bytes, const hsicache::Placement &p) { \
    (void)p;                                                      \
    PutAt<T>(bytes.data(), where, static_cast<T>(value));         \
  }

constexpr uint32_t kOutside = 1u << 30;

TEST_F(HsiCache, MalformedFilesFailWithAStatusAndNeverReadOutsideTheMapping) {
  using Module = HsiCacheModuleRecord;
  using Node = HsiCacheNodeRecord;
  const Malformed cases[] = {
      {"a last block shorter than its header", SET(uint32_t, (0), 2 | HSI_CACHE_LAST_BLOCK), HYX_FAILURE},
      {"a block that does not advance", SET(uint32_t, (0), 0), HYX_FAILURE},
      {"more modules than the file holds", SET(uint32_t, (p.trailer), 0x7fffffff), HYX_READ_ERROR},
      {"a negative module count", SET(uint32_t, (p.trailer), 0xffffffff), HYX_OK, [] { return GetMtu("vmk0"); },
       HYX_NOT_FOUND},
      {"the first module kOutside", SET(uint32_t, (p.trailer + 62), kOutside), HYX_READ_ERROR},
      {"the first module in the trailer", SET(uint32_t, (p.trailer + 62), p.trailer), HYX_READ_ERROR},
      {"a module chain shorter than its count", SET(uint32_t, (p.trailer), 4), HYX_READ_ERROR},
      {"a module chain looping past the file's size",
       [](std::vector<uint8_t> &bytes, const hsicache::Placement &p) {
         PutAt<uint32_t>(bytes.data(), p.trailer, 1000000);
         PutAt<uint32_t>(bytes.data(), p.modules[kNetxModule] + offsetof(Module, nextModule), p.modules[0]);
       },
       HYX_READ_ERROR},
      {"an unterminated module name",
       [](std::vector<uint8_t> &bytes, const hsicache::Placement &p) {
         memset(bytes.data() + p.modules[kNetModule] + offsetof(Module, name), 'n', HSI_CACHE_MODULE_NAME_SIZE);
       },
       HYX_READ_ERROR},
      {"a negative slot count", SET(int32_t, (p.modules[kNetModule] + offsetof(Module, slotCount)), -1),
       HYX_READ_ERROR},
      {"a slot count no table could hold",
       SET(int32_t, (p.modules[kNetModule] + offsetof(Module, slotCount)), 0x7fffffff), HYX_READ_ERROR},
      {"a node chain shorter than its count", SET(uint32_t, (p.modules[kNetModule] + offsetof(Module, nodeCount)), 4),
       HYX_READ_ERROR},
      {"a node chain looping past the file's size",
       [](std::vector<uint8_t> &bytes, const hsicache::Placement &p) {
         PutAt<uint32_t>(bytes.data(), p.modules[kNetModule] + offsetof(Module, nodeCount), 0x10000000);
         PutAt<uint32_t>(bytes.data(), p.nodes[kNetInfoNode] + offsetof(Node, nextNode), p.nodes[kNetRootNode]);
       },
       HYX_READ_ERROR},
      {"a slot not below the slot count", SET(uint32_t, (p.nodes[kNetInfoNode] + offsetof(Node, slot)), 4),
       HYX_READ_ERROR},
      {"a node info kOutside", SET(uint32_t, (p.nodes[kMtuNode] + offsetof(Node, info)), kOutside), HYX_READ_ERROR},
      {"a node name in the trailer", SET(uint64_t, (p.infos[kMtuNode] + offsetof(HsiCacheNodeInfo, name)), p.trailer),
       HYX_READ_ERROR},
      {"a get chain shorter than its count", SET(uint32_t, (p.nodes[kMtuNode] + offsetof(Node, getCount)), 3),
       HYX_READ_ERROR},
      {"a get chain looping past the file's size",
       [](std::vector<uint8_t> &bytes, const hsicache::Placement &p) {
         PutAt<uint32_t>(bytes.data(), p.nodes[kMtuNode] + offsetof(Node, getCount), 0x10000000);
         PutAt<uint32_t>(bytes.data(), p.gets[kVmk1Get] + offsetof(HsiCacheGetEntry, next), p.gets[kVmk0Get]);
       },
       HYX_READ_ERROR},
      {"get data running into the trailer",
       SET(uint32_t, (p.gets[kVmk0Get] + offsetof(HsiCacheGetEntry, data)), p.trailer - 2), HYX_READ_ERROR},
      {"an argument chain that loops",
       SET(uint32_t, (p.getArgLinks[kVmk0Get][1] + offsetof(HsiCacheArgLink, next)), p.getArgLinks[kVmk0Get][0]),
       HYX_READ_ERROR},
      {"an argument record kOutside",
       SET(uint32_t, (p.getArgLinks[kVmk0Get][0] + offsetof(HsiCacheArgLink, param)), kOutside), HYX_READ_ERROR},
      {"a string argument without its NUL", SET(uint32_t, (p.getArgs[kVmk0Get][1] + offsetof(HsiParam, length)), 4),
       HYX_READ_ERROR},
      {"a string argument of no bytes", SET(uint32_t, (p.getArgs[kVmk0Get][1] + offsetof(HsiParam, length)), 0),
       HYX_READ_ERROR},
      {"a string argument running into the trailer",
       SET(uint64_t, (p.getArgs[kVmk0Get][1] + offsetof(HsiParam, offset)), p.trailer - 2), HYX_READ_ERROR},
      {"a list item chain shorter than its count",
       SET(uint32_t, (p.lists[kNicsList] + offsetof(HsiCacheListEntry, itemCount)), 3), HYX_READ_ERROR},
      {"a list item chain looping past the file's size",
       [](std::vector<uint8_t> &bytes, const hsicache::Placement &p) {
         PutAt<uint32_t>(bytes.data(), p.lists[kNicsList] + offsetof(HsiCacheListEntry, itemCount), 0x1000000);
         PutAt<uint32_t>(bytes.data(), p.listItems[kNicsList][1] + offsetof(HsiCacheListItem, next),
                         p.listItems[kNicsList][0]);
       },
       HYX_READ_ERROR},
      {"a list item of no known parameter type",
       SET(uint32_t, (p.listItemParams[kNicsList][1] + offsetof(HsiParam, type)), 7), HYX_OK, ListNics,
       HYX_READ_ERROR},
      {"a leaf recorded without gets", SET(uint32_t, (p.nodes[kMtuNode] + offsetof(Node, getCount)), 0), HYX_OK,
       [] { return GetMtu("vmk0"); }, HYX_READ_ERROR},
      {"an instance node recorded without lists",
       SET(uint32_t, (p.nodes[kNicsNode] + offsetof(Node, listCount)), 0), HYX_OK, ListNics, HYX_READ_ERROR},
      {"a get count below its chain", SET(uint32_t, (p.nodes[kMtuNode] + offsetof(Node, getCount)), 1), HYX_OK,
       [] { return GetMtu("vmk1"); }, HYX_BAD_PARAM},
      {"an argument chain longer than the call's",
       SET(uint32_t, (p.getArgLinks[kVmk0Get][1] + offsetof(HsiCacheArgLink, next)), p.getArgLinks[kVmk1Get][0]),
       HYX_OK, [] { return GetMtu("vmk0"); }, HYX_BAD_PARAM},
      {"a recorded signature that is not the library's",
       SET(uint64_t, (p.nodes[kMtuNode] + offsetof(Node, signature)), 1), HYX_OK, [] { return GetMtu("vmk0"); },
       HYX_CHECKSUM_MISMATCH},
      {"a module node whose parent is itself",
       SET(uint32_t, (p.infos[kNetInfoNode] + offsetof(HsiNodeDef, parent)), 5002), HYX_OK, NetLeaf,
       HYX_READ_ERROR},
      {"a type of no known kind", SET(uint32_t, (p.types[kNetInfoNode] + offsetof(HsiCacheTypeDef, kind)), 9),
       HYX_OK, NetLeafType, HYX_READ_ERROR},
      {"an array of itself",
       [](std::vector<uint8_t> &bytes, const hsicache::Placement &p) {
         uint32_t type = p.types[kNetInfoNode];
         PutAt<uint32_t>(bytes.data(), type + offsetof(HsiCacheTypeDef, kind), HSI_TYPE_ARRAY);
         PutAt<uint64_t>(bytes.data(), type + offsetof(HsiCacheTypeDef, a), type);
       },
       HYX_OK, NetLeafType, HYX_READ_ERROR},
      {"a structure whose fields are itself",
       [](std::vector<uint8_t> &bytes, const hsicache::Placement &p) {
         uint32_t type = p.types[kNetInfoNode];
         auto fields = At<uint64_t>(bytes.data(), type + offsetof(HsiCacheTypeDef, b));
         for (uint64_t i = 0; i < 2; i++)
           PutAt<uint64_t>(bytes.data(), fields + i * sizeof(HsiCacheFieldDef) + offsetof(HsiCacheFieldDef, type),
                           type);
       },
       HYX_OK, NetLeafType, HYX_READ_ERROR},
      {"more fields than the file holds",
       SET(uint64_t, (p.types[kNetInfoNode] + offsetof(HsiCacheTypeDef, a)), 0x10000000), HYX_OK, NetLeafType,
       HYX_READ_ERROR},
      {"a type name kOutside", SET(uint64_t, (p.types[kNetInfoNode] + offsetof(HsiCacheTypeDef, name)), kOutside),
       HYX_OK, NetLeafType, HYX_READ_ERROR},
  };
  for (const Malformed &c : cases) {
    hsicache::Placement placement;
    std::vector<uint8_t> bytes = SampleFile(0, &placement);
    c.patch(bytes, placement);
    SnapshotFile file(bytes);
    testing::internal::CaptureStderr();
    HYX_ReturnStatus init = HsiCache_Init(file.path(), -1);
    std::string written = testing::internal::GetCapturedStderr();
    EXPECT_THAT(init, IsStatus(c.init)) << c.what;
    if (init != HYX_OK) {
      EXPECT_THAT(written, HasSubstr("HsiCache_Init():")) << c.what;
      char build[HSI_CACHE_BUILD_SIZE];
      EXPECT_THAT(HsiCache_GetBuildInfo(build, sizeof build), IsStatus(HYX_NOT_INITIALIZED)) << c.what;
      continue;
    }
    if (c.lookup) {
      EXPECT_THAT(c.lookup(), IsStatus(c.status)) << c.what;
    }
    EXPECT_THAT(GetMtu("vmk0"), testing::AnyOf(IsOk(), IsStatus(c.status))) << c.what;
    HsiCache_Cleanup();
  }
}

}  // namespace
