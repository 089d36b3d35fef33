// Physical NICs and TCP/IP interfaces through the shipped library, against
// the simulated host's NICs and default stack.
#include <arpa/inet.h>
#include <gtest/gtest.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "hyxsim/hyxsim.h"
#include "hyxsysinfo/hsiTablesRecords.h"
#include "hyxsysinfo/kernelCall.h"
#include "kernel_answers.h"

namespace {

constexpr uint64_t kGet = KERNEL_CALL_HSI_GET, kList = KERNEL_CALL_HSI_LIST;
constexpr HYX_ReturnStatus kOk = HYX_OK;

bool OnPlainLinux() {
  return std::string(getenv("HYX_TEST_PROFILE") ? getenv("HYX_TEST_PROFILE") : "") == "plain-linux";
}

class Net : public ::testing::Test {
 protected:
  void SetUp() override {
    if (OnPlainLinux()) GTEST_SKIP();
  }
  void TearDown() override { HyxSim_ClearHandlers(); }
};

TEST_F(Net, TheHostsNicsFillTheirRecords) {
  HyxuserPnicInfo nics[4];
  memset(nics, 0xab, sizeof nics);
  uint32_t count = 0;
  ASSERT_EQ(HyxuserNet_GetPnics(nics, 4, &count), kOk);
  ASSERT_EQ(count, 3u);
  EXPECT_STREQ(nics[0].name, "vmnic0");
  EXPECT_EQ(nics[0].linkUp, 1);
  EXPECT_EQ(nics[0].linkSpeed, 10000u);
  EXPECT_EQ(memcmp(nics[0].macAddress, "\x00\x1e\x67\xa0\x31\x10", 6), 0);
  EXPECT_EQ(nics[0].hwCapSupported, 0x3fu);  // the first six capability bits
  EXPECT_EQ(nics[0].hwCapActivated, 0x1fu);
  EXPECT_STREQ(nics[2].name, "vmnic2");
  EXPECT_EQ(nics[2].linkUp, 0);
  EXPECT_EQ(nics[2].linkSpeed, 0u);
  EXPECT_EQ(nics[2].hwCapActivated, 0u);
  EXPECT_EQ(nics[2].macAddress[5], 0x12);
  // Every record the caller offered is cleared, the unused one too.
  for (const HyxuserPnicInfo &nic : nics) EXPECT_EQ(reinterpret_cast<const uint8_t *>(&nic)[147], 0);
  const HyxuserPnicInfo zero{};
  EXPECT_EQ(memcmp(&nics[3], &zero, sizeof zero), 0);
}

TEST_F(Net, FewerRecordsThanNicsAndCountOnlyCalls) {
  HyxuserPnicInfo nics[3];
  memset(nics, 0xab, sizeof nics);
  uint32_t count = 0;
  ASSERT_EQ(HyxuserNet_GetPnics(nics, 2, &count), kOk);
  EXPECT_EQ(count, 3u);
  EXPECT_STREQ(nics[1].name, "vmnic1");
  EXPECT_EQ(nics[2].name[0], static_cast<char>(0xab));  // beyond maxRecords: untouched

  // A null array, or room for none: only the count.
  count = 0;
  EXPECT_EQ(HyxuserNet_GetPnics(nullptr, 3, &count), kOk);
  EXPECT_EQ(count, 3u);
  count = 0;
  EXPECT_EQ(HyxuserNet_GetPnics(nics, 0, &count), kOk);
  EXPECT_EQ(count, 3u);
  EXPECT_EQ(nics[2].name[0], static_cast<char>(0xab));
  EXPECT_EQ(HyxuserNet_GetPnics(nics, 3, nullptr), static_cast<HYX_ReturnStatus>(HYX_BAD_PARAM));

  HyxuserTcpipInterface interfaces[2];
  memset(interfaces, 0xab, sizeof interfaces);
  count = 0;
  ASSERT_EQ(HyxuserTcpip_GetInterfaces(interfaces, 1, &count), kOk);
  EXPECT_EQ(count, 2u);
  EXPECT_STREQ(interfaces[0].name, "vmk0");
  EXPECT_EQ(interfaces[1].mtu, 0xababababababababu);
  count = 0;
  EXPECT_EQ(HyxuserTcpip_GetInterfaces(nullptr, 2, &count), kOk);
  EXPECT_EQ(count, 2u);
  EXPECT_EQ(HyxuserTcpip_GetInterfaces(interfaces, 2, nullptr), kOk);  // countOut is optional here
}

// Lets the host answer the properties read, then replaces its MAC text.
void ReplaceMacText(HyxSimCall *call, void *context) {
  HyxSim_RunModel(call);
  const HsiGetBlock block = GetBlockOf(call);
  // Where the kernel's NIC properties record keeps its MAC text.
  constexpr size_t offset = HSI_OFFSETOF_NetHsi_pNicPropertiesStruct_macAddr;
  constexpr size_t size = HSI_SIZEOF_NetHsi_pNicPropertiesStruct_macAddr;
  if (block.length >= offset + size) {
    char *text = reinterpret_cast<char *>(block.address) + offset;
    memset(text, 0, size);
    strncpy(text, static_cast<const char *>(context), size - 1);
  }
}

TEST_F(Net, MacTextIsParsedUntilItStops) {
  struct Case {
    const char *text;
    const char *bytes;
  } cases[] = {
      {"0a:1B:2c:3d:4e:5f", "\x0a\x1b\x2c\x3d\x4e\x5f"},
      {"0a:1b:2c:zz:4e:5f", "\x0a\x1b\x2c\x00\x00\x00"},
      {"0a:1b:2c", "\x0a\x1b\x2c\x00\x00\x00"},
      {"", "\x00\x00\x00\x00\x00\x00"},
  };
  for (const Case &c : cases) {
    HyxSim_SetHandler(kGet, ReplaceMacText, const_cast<char *>(c.text));
    HyxuserPnicInfo nic;
    uint32_t count = 0;
    ASSERT_EQ(HyxuserNet_GetPnics(&nic, 1, &count), kOk) << c.text;
    EXPECT_EQ(memcmp(nic.macAddress, c.bytes, 6), 0) << c.text;
    EXPECT_EQ(nic.reserved147, 0) << c.text;
  }
}

TEST_F(Net, TheDefaultStacksInterfacesKeepTheCallersPadding) {
  HyxuserTcpipInterface interfaces[2];
  memset(interfaces, 0x5a, sizeof interfaces);
  uint32_t count = 0;
  ASSERT_EQ(HyxuserTcpip_GetInterfaces(interfaces, 2, &count), kOk);
  ASSERT_EQ(count, 2u);
  const HyxuserTcpipInterface &vmk1 = interfaces[1];
  EXPECT_STREQ(vmk1.name, "vmk1");
  EXPECT_EQ(vmk1.mtu, 9000u);
  EXPECT_EQ(vmk1.tsoMss, 65535u);
  EXPECT_EQ(memcmp(vmk1.macAddress, "\x00\x50\x56\x6a\x10\x02", 6), 0);
  EXPECT_EQ(vmk1.ipv4Address, uint64_t{inet_addr("192.168.40.11")});
  EXPECT_EQ(vmk1.ipv4Netmask, uint64_t{inet_addr("255.255.255.0")});
  for (const HyxuserTcpipInterface &record : interfaces) {
    EXPECT_EQ(record.reserved22[0], 0x5a);
    EXPECT_EQ(record.reserved22[1], 0x5a);
  }
}

TEST_F(Net, AFailingReadReturnsItsStatusAndErrno) {
  // A NIC that vanished between the list and its properties.
  HyxSim_ScriptAnswer(kGet, HYX_NOT_FOUND, -ENOENT, nullptr, 0, 0);
  HyxuserPnicInfo nics[3];
  uint32_t count = 0;
  errno = 0;
  EXPECT_EQ(HyxuserNet_GetPnics(nics, 3, &count), static_cast<HYX_ReturnStatus>(HYX_NOT_FOUND));
  EXPECT_EQ(errno, ENOENT);
  EXPECT_EQ(count, 3u);  // the total stays

  HyxuserTcpipInterface interfaces[2];
  count = 7;
  errno = 0;
  EXPECT_EQ(HyxuserTcpip_GetInterfaces(interfaces, 2, &count), static_cast<HYX_ReturnStatus>(HYX_NOT_FOUND));
  EXPECT_EQ(errno, ENOENT);
  EXPECT_EQ(count, 0u);

  HyxSim_ScriptAnswer(kList, HYX_NO_ACCESS, -EACCES, nullptr, 0, 0);
  count = 7;
  EXPECT_EQ(HyxuserNet_GetPnics(nics, 3, &count), static_cast<HYX_ReturnStatus>(HYX_NO_ACCESS));
  EXPECT_EQ(count, 7u);  // untouched when the list itself fails
  EXPECT_EQ(errno, EACCES);
}

TEST_F(Net, ListElementsThatAreNotNamesAreRefused) {
  std::vector<ListItem> items = {{"vmk0"}, {"", true}};
  HyxSim_SetHandler(kList, AnswerInstanceList, &items);
  HyxuserTcpipInterface interfaces[2];
  uint32_t count = 7;
  // Measured on a second call: the first pays for the simulated host's
  // one-time set-up.
  for (int call = 0; call < 2; call++) {
    size_t heap = HeapInUse();
    EXPECT_EQ(HyxuserTcpip_GetInterfaces(interfaces, 2, &count),
              static_cast<HYX_ReturnStatus>(HYX_BAD_PARAM_TYPE));
    if (call == 1) {
      EXPECT_EQ(HeapInUse(), heap);
    }
  }
  EXPECT_EQ(count, 0u);
  EXPECT_STREQ(interfaces[0].name, "vmk0");
}

TEST_F(Net, AnInterfaceNameOf128CharactersIsTooLong) {
  std::string longName(128, 'v');
  std::vector<ListItem> items = {{longName}};
  HyxSim_SetHandler(kList, AnswerInstanceList, &items);
  HyxSim_ScriptAnswer(kGet, HYX_OK, 0, nullptr, 0, 0);  // every leaf reads as zeros
  HyxuserTcpipInterface interface;
  uint32_t count = 7;
  EXPECT_EQ(HyxuserTcpip_GetInterfaces(&interface, 1, &count),
            static_cast<HYX_ReturnStatus>(HYX_NAME_TOO_LONG));
  EXPECT_EQ(count, 0u);
  EXPECT_EQ(std::string(interface.name), longName.substr(0, 127));
}

TEST(NetOffTheHyxkernel, BothCallsAreGated) {
  if (!OnPlainLinux()) GTEST_SKIP();
  HyxSim_ResetCounts();
  uint32_t count = 7;
  EXPECT_EQ(HyxuserNet_GetPnics(nullptr, 0, &count), static_cast<HYX_ReturnStatus>(HYX_CHECKSUM_MISMATCH));
  EXPECT_EQ(count, 7u);
  EXPECT_EQ(HyxuserTcpip_GetInterfaces(nullptr, 0, &count),
            static_cast<HYX_ReturnStatus>(HYX_CHECKSUM_MISMATCH));
  EXPECT_EQ(count, 0u);
  EXPECT_EQ(HyxSim_CallCount(kList) + HyxSim_CallCount(kGet), 0u);
}

}  // namespace
