// What a program learns about its host: version, uptime, firmware tables,
// and the gate that keeps them from a kernel that speaks another interface.
#include <gtest/gtest.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <string>

#include "hyxsim/hyxsim.h"
#include "hyxsysinfo/kernelCall.h"
#include "hyxuser/hyxuser.h"

namespace {

constexpr uint64_t kHsiGet = KERNEL_CALL_HSI_GET, kAcpiTable = KERNEL_CALL_ACPI_TABLE, kAcpiLength = KERNEL_CALL_ACPI_LENGTH,
                   kSmbiosData = KERNEL_CALL_SMBIOS_DATA;

bool OnPlainLinux() { return std::string(getenv("HYX_TEST_PROFILE") ? getenv("HYX_TEST_PROFILE") : "") == "plain-linux"; }

template <typename T>
bool AllZero(const T &record) {
  T zero;
  memset(&zero, 0, sizeof zero);
  return memcmp(&record, &zero, sizeof record) == 0;
}

TEST(HostVersion, TheHostsVersionArrivesInBothRecords) {
  if (OnPlainLinux()) GTEST_SKIP();
  HyxuserSystemVersion version;
  ASSERT_EQ(HyxuserVersion_GetSystemVersion(&version), static_cast<HYX_ReturnStatus>(HYX_OK));
  EXPECT_STREQ(version.product, "Hyxkernel");
  EXPECT_STREQ(version.productVersion, "8.0.3");
  EXPECT_STREQ(version.buildVersion, "build-24585383");
  EXPECT_STREQ(version.buildDate, "2026-10-02");
  EXPECT_STREQ(version.buildTime, "11:42:07");
  EXPECT_EQ(version.build, 24585383u);
  HyxuserUniqueSystemVersion unique;
  ASSERT_EQ(HyxuserVersion_GetUniqueSystemVersion(&unique), static_cast<HYX_ReturnStatus>(HYX_OK));
  EXPECT_STREQ(unique.buildType, "release");
  EXPECT_STREQ(unique.releaseUpdate, "3");
  EXPECT_STREQ(unique.releasePatch, "0");
  EXPECT_EQ(unique.build, 24585383u);
  uint64_t uptime = 0;
  EXPECT_EQ(HyxuserUptime_GetUptime(&uptime), static_cast<HYX_ReturnStatus>(HYX_OK));
  EXPECT_EQ(uptime, 825785982u);
}

// A kernel whose product text fills its whole field, without a NUL.
void AnswerLongProduct(HyxSimCall *call, void *) {
  uint64_t address;
  memcpy(&address, reinterpret_cast<const char *>(call->args[5]) + 4, sizeof address);
  memset(reinterpret_cast<void *>(address), 'p', 368);
  call->status = 0;
  call->error = 0;
}

TEST(HostVersion, ALongTextIsCutTo31Characters) {
  if (OnPlainLinux()) GTEST_SKIP();
  HyxSim_SetHandler(kHsiGet, AnswerLongProduct, nullptr);
  HyxuserSystemVersion version;
  EXPECT_EQ(HyxuserVersion_GetSystemVersion(&version), static_cast<HYX_ReturnStatus>(HYX_OK));
  HyxSim_ClearHandlers();
  EXPECT_EQ(std::string(version.product), std::string(31, 'p'));
  EXPECT_EQ(version.product[31], '\0');
}

TEST(HostVersion, AFailedReadLeavesAZeroedRecordAndTheUptimeUntouched) {
  if (OnPlainLinux()) GTEST_SKIP();
  HyxSim_ScriptAnswer(kHsiGet, HYX_NOT_FOUND, -2, nullptr, 0, 0);
  HyxuserUniqueSystemVersion unique;
  memset(&unique, 0xff, sizeof unique);
  EXPECT_EQ(HyxuserVersion_GetUniqueSystemVersion(&unique), static_cast<HYX_ReturnStatus>(HYX_NOT_FOUND));
  EXPECT_TRUE(AllZero(unique));
  uint64_t uptime = 7;
  EXPECT_EQ(HyxuserUptime_GetUptime(&uptime), static_cast<HYX_ReturnStatus>(HYX_NOT_FOUND));
  EXPECT_EQ(uptime, 7u);
  HyxSim_ClearHandlers();
}

TEST(HostVersion, OffTheHyxkernelTheGatedCallsAnswerAtOnce) {
  if (!OnPlainLinux()) GTEST_SKIP();
  HyxSim_ResetCounts();
  HyxuserSystemVersion version;
  memset(&version, 0xff, sizeof version);
  EXPECT_EQ(HyxuserVersion_GetSystemVersion(&version), static_cast<HYX_ReturnStatus>(HYX_CHECKSUM_MISMATCH));
  EXPECT_TRUE(AllZero(version));
  HyxuserUniqueSystemVersion unique;
  EXPECT_EQ(HyxuserVersion_GetUniqueSystemVersion(&unique), static_cast<HYX_ReturnStatus>(HYX_CHECKSUM_MISMATCH));
  uint64_t uptime = 7;
  EXPECT_EQ(HyxuserUptime_GetUptime(&uptime), static_cast<HYX_ReturnStatus>(HYX_CHECKSUM_MISMATCH));
  EXPECT_EQ(uptime, 7u);
  EXPECT_EQ(HyxSim_CallCount(kHsiGet), 0u);
  EXPECT_EQ(HyxuserCompat_VerifyHSISigniture(), static_cast<HYX_ReturnStatus>(HYX_CHECKSUM_MISMATCH));
}

TEST(Firmware, MissingPointersAreRefusedWithoutAKernelCall) {
  HyxSim_ResetCounts();
  char buffer[16];
  uint32_t length;
  EXPECT_EQ(HyxuserAcpi_GetTableBySignature("APIC", 0, nullptr, sizeof buffer), static_cast<HYX_ReturnStatus>(HYX_BAD_PARAM));
  EXPECT_EQ(HyxuserAcpi_GetTableBySignature(nullptr, 0, buffer, sizeof buffer), static_cast<HYX_ReturnStatus>(HYX_BAD_PARAM));
  EXPECT_EQ(HyxuserAcpi_GetTableBySignature("APIC", 0, buffer, 0), static_cast<HYX_ReturnStatus>(HYX_BAD_PARAM));
  EXPECT_EQ(HyxuserAcpi_GetTableLengthBySignature("APIC", 0, nullptr), static_cast<HYX_ReturnStatus>(HYX_BAD_PARAM));
  EXPECT_EQ(HyxuserAcpi_GetTableLengthBySignature(nullptr, 0, &length), static_cast<HYX_ReturnStatus>(HYX_BAD_PARAM));
  EXPECT_EQ(HyxSim_CallCount(kAcpiTable) + HyxSim_CallCount(kAcpiLength), 0u);
}

TEST(Firmware, TheKernelsAnswerPassesThroughWithItsErrno) {
  if (OnPlainLinux()) GTEST_SKIP();
  HyxSim_ScriptAnswer(kAcpiTable, HYX_NOT_FOUND, -2, nullptr, 0, 0);
  char buffer[16];
  errno = 0;
  EXPECT_EQ(HyxuserAcpi_GetTableBySignature("APIC", 1, buffer, sizeof buffer),
            static_cast<HYX_ReturnStatus>(HYX_NOT_FOUND));
  EXPECT_EQ(errno, 2);
  const char smbios[] = "SMBIOS";
  HyxSim_ScriptAnswer(kSmbiosData, HYX_OK, 0, smbios, sizeof smbios, 0);
  char data[sizeof smbios] = {};
  errno = 5;
  EXPECT_EQ(HyxuserSMBIOS_GetData(data, sizeof data), static_cast<HYX_ReturnStatus>(HYX_OK));
  EXPECT_STREQ(data, "SMBIOS");
  EXPECT_EQ(errno, 5);
  HyxSim_ClearHandlers();
}

TEST(Firmware, TheHostsTablesAreReadBySignatureAndInstance) {
  if (OnPlainLinux()) GTEST_SKIP();
  uint32_t length = 0;
  ASSERT_EQ(HyxuserAcpi_GetTableLengthBySignature("APIC", 0, &length), static_cast<HYX_ReturnStatus>(HYX_OK));
  ASSERT_EQ(length, 10u);
  unsigned char table[10];
  ASSERT_EQ(HyxuserAcpi_GetTableBySignature("APIC", 0, table, sizeof table), static_cast<HYX_ReturnStatus>(HYX_OK));
  EXPECT_EQ(memcmp(table, "APICH\0\0\0\x04\x65", sizeof table), 0);
  errno = 0;
  EXPECT_EQ(HyxuserAcpi_GetTableLengthBySignature("APIC", 1, &length), static_cast<HYX_ReturnStatus>(HYX_NOT_FOUND));
  EXPECT_EQ(errno, ENOENT);
  ASSERT_EQ(HyxuserSMBIOS_GetDataLen(&length), static_cast<HYX_ReturnStatus>(HYX_OK));
  ASSERT_EQ(length, 288u);
  unsigned char smbios[288];
  ASSERT_EQ(HyxuserSMBIOS_GetData(smbios, sizeof smbios), static_cast<HYX_ReturnStatus>(HYX_OK));
  EXPECT_EQ(memcmp(smbios, "_SM3_", 5), 0);
}

TEST(Constants, MsrIsUnsupportedAndTheSocketFamilyIs26) {
  EXPECT_EQ(HyxuserMSR_GetValue(), static_cast<HYX_ReturnStatus>(HYX_UNSUPPORTED_CPU));
  int family = 0;
  EXPECT_EQ(HyxuserSocket_NativeSocketFamily(&family), static_cast<HYX_ReturnStatus>(HYX_OK));
  EXPECT_EQ(family, 26);
}

}  // namespace
