// From a world to its VM, under every symbol version of the mapping, through
// the shipped library.
#include <dlfcn.h>
#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "hyxsim/hyxsim.h"
#include "hyxsysinfo/kernelCall.h"
#include "hyxuser/hyxuser.h"
#include "status_matchers.h"
#include "test_host.h"

namespace {

using MapFn = HYX_ReturnStatus (*)(uint32_t, char *, char *);
constexpr char kUuidName[] = "HyxuserVM_MapWorldIdToUUIDAndPath";
constexpr char kInstanceName[] = "HyxuserVM_MapWorldIdToInstanceUUIDAndPath";
constexpr char kWeb01Uuid[] = "42 1c 5e 0a 9b 3d 47 21-8f 6a 0e 2d 71 c4 93 58";
constexpr char kWeb01Instance[] = "5012a6f3-7c41-4b9e-a0d2-3e8f61c79b04";
constexpr char kWeb01Path[] = "/vmfs/volumes/datastore1/web-01/web-01.vmx";
constexpr uint32_t kWeb01Vcpu = 526441, kHostd = 2097, kDeepVm = 600001;

MapFn Versioned(const char *name, const char *version) {
  return reinterpret_cast<MapFn>(dlvsym(RTLD_DEFAULT, name, version));
}

// Every entry a program can bind to, with what it copies.
struct Variant {
  const char *what;
  MapFn map;
  bool instanceUuid;
  size_t pathSize;
};

std::vector<Variant> Variants() {
  return {
      {"0.15 (default)", HyxuserVM_MapWorldIdToUUIDAndPath, false, 1024},
      {"0.11.1", Versioned(kUuidName, "NORVEX_HYXUSERVERSION_0.11.1"), false, 1024},
      {"0.24", Versioned(kUuidName, "NORVEX_HYXUSERVERSION_0.24"), false, 1984},
      {"_0_24", HyxuserVM_MapWorldIdToUUIDAndPath_0_24, false, 1984},
      {"instance 0.16 (default)", HyxuserVM_MapWorldIdToInstanceUUIDAndPath, true, 1024},
      {"instance 0.24", Versioned(kInstanceName, "NORVEX_HYXUSERVERSION_0.24"), false, 1984},
      {"instance _0_24", HyxuserVM_MapWorldIdToInstanceUUIDAndPath_0_24, false, 1984},
  };
}

TEST(VmMapping, EveryVersionIsBound) {
  for (const Variant &v : Variants()) EXPECT_NE(v.map, nullptr) << v.what;
  EXPECT_EQ(Versioned(kUuidName, "NORVEX_HYXUSERVERSION_0.15"), HyxuserVM_MapWorldIdToUUIDAndPath);
  EXPECT_EQ(Versioned(kInstanceName, "NORVEX_HYXUSERVERSION_0.16"),
            HyxuserVM_MapWorldIdToInstanceUUIDAndPath);
}

TEST(VmMapping, AVcpuWorldMapsToItsVm) {
  if (TestProfile() == "plain-linux") GTEST_SKIP();
  for (const Variant &v : Variants()) {
    char uuid[129], path[1985];
    memset(uuid, 'u', sizeof uuid);
    memset(path, 'p', sizeof path);
    ASSERT_THAT(v.map(kWeb01Vcpu, uuid, path), IsStatus(HYX_OK)) << v.what;
    EXPECT_STREQ(uuid, v.instanceUuid ? kWeb01Instance : kWeb01Uuid) << v.what;
    EXPECT_EQ(uuid[127], '\0') << v.what;  // padded to 128 bytes
    EXPECT_EQ(uuid[128], 'u') << v.what;
    EXPECT_STREQ(path, kWeb01Path) << v.what;
    EXPECT_EQ(path[v.pathSize - 1], '\0') << v.what;
    EXPECT_EQ(path[v.pathSize], 'p') << v.what;
  }
}

TEST(VmMapping, ALongConfigurationPathUnderEachVersion) {
  if (TestProfile() != "edges") GTEST_SKIP();
  for (const Variant &v : Variants()) {
    char path[2048];
    memset(path, 'p', sizeof path);
    ASSERT_THAT(v.map(kDeepVm, nullptr, path), IsStatus(HYX_OK)) << v.what;
    if (v.pathSize == 1024) {
      // 1024 bytes of the path and no terminator.
      EXPECT_EQ(memchr(path, '\0', 1024), nullptr) << v.what;
      EXPECT_EQ(path[1024], 'p') << v.what;
    } else {
      EXPECT_EQ(strlen(path), 1500u) << v.what;
      for (size_t i = 1500; i < 1984; i++) ASSERT_EQ(path[i], '\0') << v.what << " at " << i;
      EXPECT_EQ(path[1984], 'p') << v.what;
    }
    EXPECT_EQ(strncmp(path, "/vmfs/volumes/datastore1/", 25), 0) << v.what;
  }
}

TEST(VmMapping, NullOutputsStillLookUpAndFailuresWriteNothing) {
  if (TestProfile() == "plain-linux") GTEST_SKIP();
  for (const Variant &v : Variants()) {
    EXPECT_THAT(v.map(kWeb01Vcpu, nullptr, nullptr), IsStatus(HYX_OK)) << v.what;
    // hostd's group leads no VM; no world 4242 exists.
    EXPECT_THAT(v.map(kHostd, nullptr, nullptr), IsStatus(HYX_NOT_FOUND)) << v.what;
    char uuid[128] = "untouched", path[1984] = "untouched";
    EXPECT_THAT(v.map(4242, uuid, path), IsStatus(HYX_NOT_FOUND)) << v.what;
    EXPECT_STREQ(uuid, "untouched");
    EXPECT_STREQ(path, "untouched");
  }
}

TEST(VmMapping, OffTheHyxkernelEveryVersionAnswersTheGate) {
  if (TestProfile() != "plain-linux") GTEST_SKIP();
  HyxSim_ResetCounts();
  for (const Variant &v : Variants()) {
    char uuid[128] = "untouched";
    EXPECT_THAT(v.map(kWeb01Vcpu, uuid, nullptr), IsStatus(HYX_CHECKSUM_MISMATCH)) << v.what;
    EXPECT_STREQ(uuid, "untouched");
  }
  EXPECT_EQ(HyxSim_CallCount(KERNEL_CALL_HSI_GET), 0u);
}

}  // namespace
