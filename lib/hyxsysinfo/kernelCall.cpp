#include "hyxsysinfo/kernelCall.h"

#include <cerrno>

// Kept out of line so that exactly one instruction in the library enters the
// kernel.
__attribute__((noinline)) HYX_ReturnStatus Kernel_Call6(uint32_t number, uint64_t a0, uint64_t a1,
                                                        uint64_t a2, uint64_t a3, uint64_t a4, uint64_t a5) {
#if defined(__aarch64__)
#define GATE_REG(n) KERNEL_GATE_AARCH64_X(KERNEL_GATE_AARCH64_##n)
  static_assert(KERNEL_GATE_AARCH64_STATUS == KERNEL_GATE_AARCH64_ARG0 &&
                    KERNEL_GATE_AARCH64_ERROR == KERNEL_GATE_AARCH64_ARG1,
                "the results come back in the first two argument registers");
  register uint64_t x8 asm(GATE_REG(NUMBER)) = number;
  register uint64_t x0 asm(GATE_REG(ARG0)) = a0;
  register uint64_t x1 asm(GATE_REG(ARG1)) = a1;
  register uint64_t x2 asm(GATE_REG(ARG2)) = a2;
  register uint64_t x3 asm(GATE_REG(ARG3)) = a3;
  register uint64_t x4 asm(GATE_REG(ARG4)) = a4;
  register uint64_t x5 asm(GATE_REG(ARG5)) = a5;
#undef GATE_REG
  asm volatile("svc 0" : "+r"(x0), "+r"(x1) : "r"(x8), "r"(x2), "r"(x3), "r"(x4), "r"(x5) : "memory");
  uint64_t status = x0, error = x1;
#elif defined(__x86_64__)
  uint64_t status = number, error = a2;
  register uint64_t r10 asm("r10") = a3;
  register uint64_t r8 asm("r8") = a4;
  register uint64_t r9 asm("r9") = a5;
  asm volatile("syscall"
               : "+a"(status), "+d"(error)
               : "D"(a0), "S"(a1), "r"(r10), "r"(r8), "r"(r9)
               : "rcx", "r11", "memory");
#else
#error "the kernel-call gate knows aarch64 and x86_64"
#endif
  uint32_t err = static_cast<uint32_t>(error);
  if (err != 0) errno = static_cast<int>(0u - err);
  return static_cast<HYX_ReturnStatus>(status);
}
