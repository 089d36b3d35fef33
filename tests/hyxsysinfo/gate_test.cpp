// The kernel-call gate's register convention and errno rule, watched from
// the simulated kernel's side.
#include <gtest/gtest.h>

#include <cerrno>

#include "hyxsim/hyxsim.h"
#include "hyxsysinfo/kernelCall.h"

namespace {

constexpr uint64_t kProbeCall = 3000;  // a number no model answers

struct Probe {
  HyxSimCall seen;
  uint64_t status;
  uint64_t error;
};

void Record(HyxSimCall *call, void *context) {
  auto *probe = static_cast<Probe *>(context);
  probe->seen = *call;
  call->status = probe->status;
  call->error = probe->error;
}

class GateTest : public ::testing::Test {
 protected:
  void SetUp() override { HyxSim_SetHandler(kProbeCall, Record, &probe_); }
  void TearDown() override { HyxSim_ClearHandlers(); }
  Probe probe_{};
};

TEST_F(GateTest, ArgumentsAreExtendedByTheirSignedness) {
  int marker = 0;
  Kernel_Call(kProbeCall, int32_t{-2}, uint32_t{0xfffffffe}, &marker, uint64_t{0x1122334455667788},
              int64_t{-3}, int32_t{7});
  EXPECT_EQ(probe_.seen.number, kProbeCall);
  EXPECT_EQ(probe_.seen.args[0], 0xfffffffffffffffeull);
  EXPECT_EQ(probe_.seen.args[1], 0x00000000fffffffeull);
  EXPECT_EQ(probe_.seen.args[2], reinterpret_cast<uint64_t>(&marker));
  EXPECT_EQ(probe_.seen.args[3], 0x1122334455667788ull);
  EXPECT_EQ(probe_.seen.args[4], 0xfffffffffffffffdull);
  EXPECT_EQ(probe_.seen.args[5], 7u);
}

TEST_F(GateTest, UnusedArgumentsAreZero) {
  Kernel_Call(kProbeCall, uint32_t{1});
  for (int i = 1; i < 6; ++i) EXPECT_EQ(probe_.seen.args[i], 0u) << i;
}

struct ErrnoCase {
  uint64_t statusRegister;
  uint64_t errorRegister;
  HYX_ReturnStatus status;
  int errnoAfter;
};

TEST_F(GateTest, StatusIsTheLowHalfAndOnlyANonZeroErrorSetsErrno) {
  constexpr int kBefore = 1234;
  const ErrnoCase cases[] = {
      {0, 0, HYX_OK, kBefore},
      {HYX_NOT_FOUND, 0, HYX_NOT_FOUND, kBefore},
      {0xdeadbeef00000000ull | HYX_BAD_PARAM, 0, HYX_BAD_PARAM, kBefore},
      {HYX_FAILURE, static_cast<uint64_t>(-5), HYX_FAILURE, 5},
      {HYX_FAILURE, 0x00000000fffffffeull, HYX_FAILURE, 2},  // only the low half counts
      {0, 0x1234567800000000ull, HYX_OK, kBefore},           // a zero low half is no error
      {0, static_cast<uint64_t>(-1), HYX_OK, 1},             // an error even with HYX_OK
      // Linux's answer to a number it lacks: -errno as the status, an
      // argument left in the error register.
      {static_cast<uint64_t>(-ENOSYS), 0x1234, HYX_NOT_IMPLEMENTED, ENOSYS},
      {0x00000000ffffffdaull, 0, HYX_NOT_IMPLEMENTED, ENOSYS},  // only the low half counts
      {static_cast<uint64_t>(-EPERM), static_cast<uint64_t>(-5), HYX_NOT_IMPLEMENTED, EPERM},
      {static_cast<uint64_t>(-4095), 0, HYX_NOT_IMPLEMENTED, 4095},
      {static_cast<uint64_t>(-4096), 0, 0xfffff000u, kBefore},  // below every errno: passed on
  };
  for (const ErrnoCase &c : cases) {
    probe_.status = c.statusRegister;
    probe_.error = c.errorRegister;
    errno = kBefore;
    EXPECT_EQ(Kernel_Call(kProbeCall), c.status) << std::hex << c.statusRegister << " " << c.errorRegister;
    EXPECT_EQ(errno, c.errnoAfter) << std::hex << c.statusRegister << " " << c.errorRegister;
  }
}

TEST(GateUnmodelled, AnUndefinedCallIsRefusedByTheKernel) {
  errno = 0;
  EXPECT_EQ(Kernel_Call(uint32_t{3999}), static_cast<HYX_ReturnStatus>(HYX_UNDEFINED_SYSCALL));
  EXPECT_EQ(errno, ENOSYS);
}

}  // namespace
