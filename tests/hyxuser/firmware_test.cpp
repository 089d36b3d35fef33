// Firmware tables and MSR: direct kernel calls that pass the kernel's answer
// through, and answer for the kernel where there is none.
#include <gtest/gtest.h>

#include <cerrno>
#include <cstring>

#include "hyxsim/hyxsim.h"
#include "hyxsysinfo/kernelCall.h"
#include "hyxuser/hyxuser.h"
#include "status_matchers.h"
#include "test_host.h"

namespace {

uint64_t FirmwareCalls() {
  return HyxSim_CallCount(KERNEL_CALL_ACPI_LENGTH) + HyxSim_CallCount(KERNEL_CALL_ACPI_TABLE) +
         HyxSim_CallCount(KERNEL_CALL_SMBIOS_LENGTH) + HyxSim_CallCount(KERNEL_CALL_SMBIOS_DATA);
}

class Firmware : public testing::Test {
 protected:
  void SetUp() override { HyxSim_ResetCounts(); }
  void TearDown() override { HyxSim_ClearHandlers(); }
};

TEST_F(Firmware, MissingPointersAreRefusedWithoutAKernelCall) {
  char buffer[16];
  uint32_t length;
  errno = 0;
  EXPECT_THAT(HyxuserAcpi_GetTableBySignature("APIC", 0, nullptr, sizeof buffer), IsStatus(HYX_BAD_PARAM));
  EXPECT_THAT(HyxuserAcpi_GetTableBySignature(nullptr, 0, buffer, sizeof buffer), IsStatus(HYX_BAD_PARAM));
  EXPECT_THAT(HyxuserAcpi_GetTableBySignature("APIC", 0, buffer, 0), IsStatus(HYX_BAD_PARAM));
  EXPECT_THAT(HyxuserAcpi_GetTableLengthBySignature("APIC", 0, nullptr), IsStatus(HYX_BAD_PARAM));
  EXPECT_THAT(HyxuserAcpi_GetTableLengthBySignature(nullptr, 0, &length), IsStatus(HYX_BAD_PARAM));
  EXPECT_EQ(errno, 0);
  EXPECT_EQ(FirmwareCalls(), 0u);
}

TEST_F(Firmware, TheKernelsAnswerPassesThroughWithItsErrno) {
  if (!OnHyxkernel()) GTEST_SKIP();
  HyxSim_ScriptAnswer(KERNEL_CALL_ACPI_TABLE, HYX_NOT_FOUND, -2, nullptr, 0, 0);
  char buffer[16];
  errno = 0;
  EXPECT_THAT(HyxuserAcpi_GetTableBySignature("APIC", 1, buffer, sizeof buffer), IsStatus(HYX_NOT_FOUND));
  EXPECT_EQ(errno, 2);
  const char smbios[] = "SMBIOS";
  HyxSim_ScriptAnswer(KERNEL_CALL_SMBIOS_DATA, HYX_OK, 0, smbios, sizeof smbios, 0);
  char data[sizeof smbios] = {};
  errno = 5;
  EXPECT_THAT(HyxuserSMBIOS_GetData(data, sizeof data), IsOk());
  EXPECT_STREQ(data, "SMBIOS");
  EXPECT_EQ(errno, 5);
}

// The status and the error register are independent: a success that comes
// with an error value still hands the error value to errno.
TEST_F(Firmware, ASuccessWithAnErrorValueSetsErrnoAndStaysASuccess) {
  if (!OnHyxkernel()) GTEST_SKIP();
  const uint32_t reported = 42;
  HyxSim_ScriptAnswer(KERNEL_CALL_SMBIOS_LENGTH, HYX_OK, -5, &reported, sizeof reported, 0);
  uint32_t length = 0;
  errno = 0;
  EXPECT_THAT(HyxuserSMBIOS_GetDataLen(&length), IsOk());
  EXPECT_EQ(errno, 5);
  EXPECT_EQ(length, 42u);
}

TEST_F(Firmware, TheHostsTablesAreReadBySignatureAndInstance) {
  if (!OnProfile("hypervisor")) GTEST_SKIP();
  uint32_t length = 0;
  ASSERT_THAT(HyxuserAcpi_GetTableLengthBySignature("APIC", 0, &length), IsOk());
  ASSERT_EQ(length, 10u);
  unsigned char table[10];
  ASSERT_THAT(HyxuserAcpi_GetTableBySignature("APIC", 0, table, sizeof table), IsOk());
  EXPECT_EQ(memcmp(table, "APICH\0\0\0\x04\x65", sizeof table), 0);
  errno = 0;
  EXPECT_THAT(HyxuserAcpi_GetTableLengthBySignature("APIC", 1, &length), IsStatus(HYX_NOT_FOUND));
  EXPECT_EQ(errno, ENOENT);
  ASSERT_THAT(HyxuserSMBIOS_GetDataLen(&length), IsOk());
  ASSERT_EQ(length, 288u);
  unsigned char smbios[288];
  ASSERT_THAT(HyxuserSMBIOS_GetData(smbios, sizeof smbios), IsOk());
  EXPECT_EQ(memcmp(smbios, "_SM3_", 5), 0);
}

// Off the Hyxkernel the call numbers mean nothing: the exports say so
// themselves, with ENOSYS, and leave the caller's memory alone.
TEST_F(Firmware, OffTheHyxkernelTheCallsAreNotImplemented) {
  if (OnHyxkernel()) GTEST_SKIP();
  uint32_t length = 7;
  unsigned char buffer[16];
  memset(buffer, 0xA5, sizeof buffer);
  const struct {
    const char *what;
    HYX_ReturnStatus (*call)(uint32_t *, unsigned char *);
  } calls[] = {
      {"ACPI length",
       [](uint32_t *l, unsigned char *) { return HyxuserAcpi_GetTableLengthBySignature("APIC", 0, l); }},
      {"ACPI table",
       [](uint32_t *, unsigned char *b) { return HyxuserAcpi_GetTableBySignature("APIC", 0, b, 16); }},
      {"SMBIOS length", [](uint32_t *l, unsigned char *) { return HyxuserSMBIOS_GetDataLen(l); }},
      {"SMBIOS data", [](uint32_t *, unsigned char *b) { return HyxuserSMBIOS_GetData(b, 16); }},
  };
  for (const auto &c : calls) {
    errno = 0;
    EXPECT_THAT(c.call(&length, buffer), IsStatus(HYX_NOT_IMPLEMENTED)) << c.what;
    EXPECT_EQ(errno, ENOSYS) << c.what;
  }
  EXPECT_EQ(FirmwareCalls(), 0u);
  EXPECT_EQ(length, 7u);
  for (unsigned char b : buffer) ASSERT_EQ(b, 0xA5);
}

TEST_F(Firmware, MsrIsUnsupportedWhateverItIsGiven) {
  EXPECT_THAT(HyxuserMSR_GetValue(), IsStatus(HYX_UNSUPPORTED_CPU));
  uint64_t value = 9;
  EXPECT_THAT(HyxuserMSR_GetValue(0x10u, &value), IsStatus(HYX_UNSUPPORTED_CPU));
  EXPECT_EQ(value, 9u);
}

}  // namespace
