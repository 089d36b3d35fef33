// A cache file laid out byte by byte, every field at its literal offset
// (no shared declaration of the format, no writer): one module, "fixture"
// (id 5), whose root holds an instance node "disks" keyed by name and a
// leaf "size" under it.  The library must read it, and its argument checks
// must say what they say byte for byte.
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <initializer_list>
#include <string>
#include <vector>

#include "hyxsysinfo/hsiCacheUser.h"
#include "hyxsysinfo/hsiParams.h"
#include "hyxsysinfo/hsiTables.h"
#include "hyxuser/hyxuser.h"
#include "status_matchers.h"

namespace {

constexpr int32_t kModule = 5;
constexpr uint32_t kRoot = 5000, kDisks = 5001, kSize = 5002;
constexpr uint32_t kNone = 0xffffffff;
const uint8_t kSdaSize[8] = {0x00, 0x10, 0x00, 0x00, 0x02, 0x00, 0x00, 0x00};

uint64_t SignatureOf(uint32_t node) { return 0x5a5a000000000000ull + node; }

// The file under construction: records are appended, fields written at
// literal offsets from a record's start.
class Layout {
 public:
  Layout() : bytes_(4, 0) {}  // the block header, written by Finish
  uint32_t Add(size_t length) {
    auto at = static_cast<uint32_t>(bytes_.size());
    bytes_.resize(bytes_.size() + length, 0);
    return at;
  }
  uint32_t Text(const char *text) {
    uint32_t at = Add(strlen(text) + 1);
    memcpy(&bytes_[at], text, strlen(text));
    return at;
  }
  void U8(uint32_t at, uint8_t value) { bytes_[at] = value; }
  void U32(uint32_t at, uint32_t value) {
    for (int i = 0; i < 4; i++) bytes_[at + i] = static_cast<uint8_t>(value >> (8 * i));
  }
  void U64(uint32_t at, uint64_t value) {
    U32(at, static_cast<uint32_t>(value));
    U32(at + 4, static_cast<uint32_t>(value >> 32));
  }
  // A parameter record: 32 bytes, type at 28.
  uint32_t IntParam(uint64_t value) {
    uint32_t at = Add(32);
    U64(at, value);
    U32(at + 28, 1);
    return at;
  }
  uint32_t StringParam(const char *text) {
    uint32_t at = Add(32);
    uint32_t string = Text(text);
    U64(at + 16, string);  // offset of the string; its base (0..7) is left 0
    U32(at + 24, static_cast<uint32_t>(strlen(text) + 1));
    U32(at + 28, 2);
    return at;
  }
  // One block over the records (bit 0: the last), then the 66-byte trailer.
  std::vector<uint8_t> Finish(uint32_t modules, uint32_t firstModule) {
    auto end = static_cast<uint32_t>(bytes_.size());
    if (end % 2) end = Add(1) + 1;
    U32(0, end | 1);
    uint32_t trailer = Add(66);
    U32(trailer, modules);
    memcpy(&bytes_[trailer + 4], "fixture-build-1", 15);
    memcpy(&bytes_[trailer + 25], HSI_SIGNATURE, 32);
    U32(trailer + 62, firstModule);
    return bytes_;
  }

 private:
  std::vector<uint8_t> bytes_;
};

// A node info record: the first 59 bytes of the node's definition, then the
// offsets of its name and of its type (none).
uint32_t AddInfo(Layout &file, uint32_t node, uint32_t parent, uint32_t firstChild, bool leaf, bool instance,
                 uint32_t getSize, const char *name) {
  uint32_t at = file.Add(75);
  file.U32(at + 0, node);
  file.U8(at + 4, leaf);
  file.U8(at + 7, instance);
  file.U8(at + 10, 0);  // keyed by string
  file.U32(at + 11, parent);
  file.U32(at + 15, kNone);  // next sibling
  file.U32(at + 19, firstChild);
  file.U32(at + 23, getSize);
  file.U32(at + 27, kNone);  // get type
  file.U32(at + 35, kNone);  // set input type
  file.U32(at + 43, kNone);  // set output type
  file.U32(at + 47, kNone);  // statistics index
  file.U64(at + 51, SignatureOf(node));
  file.U64(at + 59, file.Text(name));
  return at;
}

// A node record (40 bytes).
uint32_t AddNode(Layout &file, uint32_t slot, uint32_t info, uint32_t dataLength) {
  uint32_t at = file.Add(40);
  file.U32(at + 0, slot);
  file.U64(at + 4, SignatureOf(5000 + slot));
  file.U32(at + 28, dataLength);
  file.U32(at + 32, info);
  return at;
}

// An argument chain of one string.
uint32_t OneArg(Layout &file, const char *text) {
  uint32_t link = file.Add(8);
  file.U32(link + 4, file.StringParam(text));
  return link;
}

std::vector<uint8_t> FixtureFile() {
  Layout file;
  uint32_t module = file.Add(52);
  file.U32(module + 0, kModule);
  uint32_t name = module + 4;  // 32 bytes, NUL-terminated
  for (const char *c = "fixture"; *c; c++) file.U8(name++, static_cast<uint8_t>(*c));
  uint32_t root = AddNode(file, 0, AddInfo(file, kRoot, kNone, kDisks, false, false, 0, "root"), 0);
  uint32_t disks = AddNode(file, 1, AddInfo(file, kDisks, kRoot, kSize, false, true, 0, "disks"), 0);
  uint32_t size = AddNode(file, 2, AddInfo(file, kSize, kDisks, kNone, true, false, 8, "size"), 8);
  file.U32(root + 36, disks);
  file.U32(disks + 36, size);
  file.U32(module + 36, 3);  // node records
  file.U32(module + 40, 3);  // node slots
  file.U32(module + 44, root);

  // disks: one list entry without arguments, two items.
  uint32_t list = file.Add(20);
  uint32_t first = file.Add(12), second = file.Add(12);
  file.U32(first + 4, file.StringParam("sda"));
  file.U32(first + 8, second);
  file.U32(second + 4, file.StringParam("sdb"));
  file.U32(list + 8, first);
  file.U32(list + 12, 2);
  file.U32(disks + 12, list);
  file.U32(disks + 16, 1);

  // size: sda read, sdb recorded as not found.
  uint32_t sda = file.Add(16), sdb = file.Add(16);
  file.U32(sda + 0, OneArg(file, "sda"));
  uint32_t data = file.Add(sizeof kSdaSize);
  for (uint32_t i = 0; i < sizeof kSdaSize; i++) file.U8(data + i, kSdaSize[i]);
  file.U32(sda + 8, data);
  file.U32(sda + 12, sdb);
  file.U32(sdb + 0, OneArg(file, "sdb"));
  file.U32(sdb + 4, HYX_NOT_FOUND);
  file.U32(size + 20, sda);
  file.U32(size + 24, 2);
  return file.Finish(1, module);
}

class TempFile {
 public:
  explicit TempFile(const std::vector<uint8_t> &bytes) {
    const char *dir = getenv("TMPDIR");
    path_ = std::string(dir != nullptr && dir[0] != '\0' ? dir : "/tmp") + "/hsi_cache_file_XXXXXX";
    int fd = mkstemp(path_.data());
    if (fd < 0 || write(fd, bytes.data(), bytes.size()) != static_cast<ssize_t>(bytes.size()))
      path_ += ".unwritten";
    if (fd >= 0) close(fd);
  }
  ~TempFile() { unlink(path_.c_str()); }
  const char *path() const { return path_.c_str(); }

 private:
  std::string path_;
};

struct Arg {
  bool isString;
  const char *text;
  uint64_t value;
};
Arg S(const char *text) { return {true, text, 0}; }
Arg I(uint64_t value) { return {false, nullptr, value}; }

struct List {
  HsiParamList list;
  explicit List(std::initializer_list<Arg> args, uint32_t type = HSI_PARAMLIST_INSTANCE) {
    list = HsiParamList_Alloc(type, 2);
    for (const Arg &arg : args) {
      if (arg.isString)
        HsiParamList_AddString(list, arg.text);
      else
        HsiParamList_AddInt(list, arg.value);
    }
  }
  ~List() { HsiParamList_Free(list); }
};

class HsiCacheFile : public testing::Test {
 protected:
  void SetUp() override { ASSERT_THAT(HsiCache_Init(file_.path(), 1), IsOk()); }
  void TearDown() override { HsiCache_Cleanup(); }
  TempFile file_{FixtureFile()};
};

TEST_F(HsiCacheFile, TheLibraryReadsTheModuleItsNodesAndItsRecords) {
  HsiModuleID id = -1;
  EXPECT_THAT(HsiCache_GetModuleID("fix", &id), IsOk());
  EXPECT_EQ(id, kModule);
  HsiNodeID child = 0;
  EXPECT_THAT(HsiCache_GetModuleRootChild(kModule, &child), IsOk());
  EXPECT_EQ(child, kDisks);
  HsiNodeDef def{};
  char name[16];
  ASSERT_THAT(HsiCache_GetNodeDef(kSize, kModule, &def, name, sizeof name), IsOk());
  EXPECT_STREQ(name, "size");
  EXPECT_EQ(def.parent, kDisks);
  EXPECT_EQ(def.getSize, 8u);
  EXPECT_EQ(def.signature, SignatureOf(kSize));
  char build[21];
  EXPECT_THAT(HsiCache_GetBuildInfo(build, sizeof build), IsOk());
  EXPECT_STREQ(build, "fixture-build-1");

  List none({}), out({});
  ASSERT_THAT(HsiCache_GetInstanceList(kDisks, kModule, none.list, out.list), IsOk());
  ASSERT_EQ(HsiParamList_Count(out.list), 2u);
  const char *text = nullptr;
  EXPECT_THAT(HsiParamList_GetString(out.list, 1, &text), IsOk());
  EXPECT_STREQ(text, "sdb");

  uint8_t value[8];
  List sda({S("sda")}), sdb({S("sdb")});
  ASSERT_THAT(HsiCache_Get(kSize, kModule, sda.list, value, sizeof value), IsOk());
  EXPECT_EQ(memcmp(value, kSdaSize, sizeof value), 0);
  EXPECT_THAT(HsiCache_Get(kSize, kModule, sdb.list, value, sizeof value), IsStatus(HYX_NOT_FOUND));
}

// Each check on the arguments, with the diagnostic it writes (verbosity 1)
// and the error of the look-up that called it.
TEST_F(HsiCacheFile, ArgumentChecksSayWhatIsWrong) {
  const std::string leafError = "HsiCache_Get():Node 5002 failed validation checks for leaf node\n\n";
  struct Case {
    const char *what;
    std::vector<Arg> args;
    uint32_t listType;
    HYX_ReturnStatus status;
    std::string written;
  } cases[] = {
      {"no argument",
       {},
       HSI_PARAMLIST_INSTANCE,
       HYX_BAD_PARAM_COUNT,
       "HsiCacheVerifyInstanceArgs():Got 0 args, expecting more\n\n" + leafError},
      {"one too many",
       {S("sda"), S("p1")},
       HSI_PARAMLIST_INSTANCE,
       HYX_BAD_PARAM_COUNT,
       "HsiCacheVerifyInstanceArgs():Expecting 1 args, got 2 args\n\n" + leafError},
      {"an integer for a name",
       {I(3)},
       HSI_PARAMLIST_INSTANCE,
       HYX_BAD_PARAM_TYPE,
       "HsiCacheVerifyInstanceArgs():Arg 0 is type 1, expecting type 0\n\n" + leafError},
      {"a value list",
       {S("sda")},
       HSI_PARAMLIST_VALUES,
       HYX_BAD_PARAM_TYPE,
       "HsiCacheVerifyInstanceArgs():expecting instance list\n" + leafError},
  };
  for (const Case &c : cases) {
    HsiParamList args = HsiParamList_Alloc(c.listType, 2);
    for (const Arg &arg : c.args) {
      if (arg.isString)
        HsiParamList_AddString(args, arg.text);
      else
        HsiParamList_AddInt(args, arg.value);
    }
    uint8_t value[8];
    testing::internal::CaptureStderr();
    EXPECT_THAT(HsiCache_Get(kSize, kModule, args, value, sizeof value), IsStatus(c.status)) << c.what;
    EXPECT_EQ(testing::internal::GetCapturedStderr(), c.written) << c.what;
    HsiParamList_Free(args);
  }

  // A list call leaves the node's own value out; the module root takes none.
  List one({S("sda")}), out({});
  testing::internal::CaptureStderr();
  EXPECT_THAT(HsiCache_GetInstanceList(kDisks, kModule, one.list, out.list), IsStatus(HYX_BAD_PARAM_COUNT));
  EXPECT_THAT(HsiCacheVerifyInstanceArgs(kRoot, kModule, false, one.list), IsStatus(HYX_BAD_PARAM_COUNT));
  EXPECT_EQ(testing::internal::GetCapturedStderr(),
            "HsiCacheVerifyInstanceArgs():Expecting 0 args, got 1 args\n\n"
            "HsiCache_GetInstanceList():Node 5001 failed validation checks for instance node\n\n"
            "HsiCacheVerifyInstanceArgs():Expecting 0 args, got 1 args\n\n");

  // At verbosity 0 only the look-up's error is written.
  hsiCacheVerbosity = 0;
  List none({});
  uint8_t value[8];
  testing::internal::CaptureStderr();
  EXPECT_THAT(HsiCache_Get(kSize, kModule, none.list, value, sizeof value), IsStatus(HYX_BAD_PARAM_COUNT));
  EXPECT_EQ(testing::internal::GetCapturedStderr(), leafError);
}

}  // namespace
