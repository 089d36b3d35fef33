// The kernel-call gate: the one way the library reaches the Hyxkernel.
//
// Arguments travel as six 64-bit registers: 32-bit signed values are
// sign-extended, 32-bit unsigned values zero-extended, pointers passed as
// plain addresses.  The result is the low 32 bits of the status register;
// a non-zero low half of the error register is negated into errno, a zero
// one leaves errno alone.
#pragma once

#include <cerrno>
#include <cstddef>
#include <cstdint>

#include "hyxuser/hyxuser.h"

// Kernel call numbers: this is the only list; the library, the simulated
// kernel and the tests all use these names.  Each entry is (name, number,
// family); the family groups the calls by area for tools that show them.
#define KERNEL_CALLS(X)                             \
  X(KERNEL_CALL_SYSCALL_API_CHECKSUM, 2048, system) \
  X(KERNEL_CALL_FORK_EXEC, 2049, process)           \
  X(KERNEL_CALL_SMBIOS_DATA, 2051, firmware)        \
  X(KERNEL_CALL_SMBIOS_LENGTH, 2052, firmware)      \
  X(KERNEL_CALL_HSI_GET, 2218, hsi)                 \
  X(KERNEL_CALL_HSI_GET_SIZE, 2219, hsi)            \
  X(KERNEL_CALL_HSI_SET, 2220, hsi)                 \
  X(KERNEL_CALL_HSI_LIST, 2221, hsi)                \
  X(KERNEL_CALL_HSI_SIGNATURE, 2222, hsi)           \
  X(KERNEL_CALL_HSI_MODULE_NODE_COUNT, 2223, hsi)   \
  X(KERNEL_CALL_HSI_MODULE_ID, 2224, hsi)           \
  X(KERNEL_CALL_HSI_MODULE_FIRST_NODE, 2225, hsi)   \
  X(KERNEL_CALL_HSI_MODULE_NODE_DEF, 2226, hsi)     \
  X(KERNEL_CALL_HSI_MODULE_TYPE, 2227, hsi)         \
  X(KERNEL_CALL_HSI_MODULE_ENUM_VALUE, 2228, hsi)   \
  X(KERNEL_CALL_HSI_MODULE_FIELD, 2229, hsi)        \
  X(KERNEL_CALL_UPTIME, 2240, system)               \
  X(KERNEL_CALL_RESCAN_ADAPTER, 2266, storage)      \
  X(KERNEL_CALL_ACPI_LENGTH, 16517, firmware)       \
  X(KERNEL_CALL_ACPI_TABLE, 16518, firmware)        \
  X(KERNEL_CALL_SPAWN, 16596, process)

enum KernelCallNumber : uint32_t {
#define KERNEL_CALL_ENUM(name, number, family) name = number,
  KERNEL_CALLS(KERNEL_CALL_ENUM)
#undef KERNEL_CALL_ENUM
};

// The gate's registers on aarch64, by number (xN): the call number, the six
// arguments in order, and the two results.  The gate names its registers
// from these, and the simulated kernel reads and answers the same ones.
#define KERNEL_GATE_AARCH64_NUMBER 8
#define KERNEL_GATE_AARCH64_ARG0 0
#define KERNEL_GATE_AARCH64_ARG1 1
#define KERNEL_GATE_AARCH64_ARG2 2
#define KERNEL_GATE_AARCH64_ARG3 3
#define KERNEL_GATE_AARCH64_ARG4 4
#define KERNEL_GATE_AARCH64_ARG5 5
#define KERNEL_GATE_AARCH64_STATUS 0
#define KERNEL_GATE_AARCH64_ERROR 1
// "xN" for register number N, as an asm register name.
#define KERNEL_GATE_AARCH64_X_(n) "x" #n
#define KERNEL_GATE_AARCH64_X(n) KERNEL_GATE_AARCH64_X_(n)

// Calls numbered from here up belong to the Hyxkernel; below are Linux's.
constexpr uint32_t KERNEL_CALL_FIRST = KERNEL_CALL_SYSCALL_API_CHECKSUM;

// Device-control (ioctl) requests that belong to the host's drivers:
// (name, request, what it is for).
#define KERNEL_DEVICE_REQUESTS(X)                                         \
  X(DEVICE_REQUEST_NVD_PASSTHROUGH, 1, "on the NVDIMM management device") \
  X(IOCTLCMD_HXFS_FS_GET_ATTR, 3002, "file-system attribute query")       \
  X(DEVICE_REQUEST_HXFS_LOCK_QUERY, 3037, "file-system lock query")       \
  X(DEVICE_REQUEST_RELINQUISH_SOCKET, 0x6901, "socket ownership, no argument")

enum KernelDeviceRequest : uint32_t {
#define KERNEL_DEVICE_REQUEST_ENUM(name, request, purpose) name = request,
  KERNEL_DEVICE_REQUESTS(KERNEL_DEVICE_REQUEST_ENUM)
#undef KERNEL_DEVICE_REQUEST_ENUM
};

// The name of call `number` as the list spells it, or null for a number
// the list lacks; its family ("hsi", "process" ...) in the same way.
constexpr const char *KernelCallName(uint64_t number) {
  switch (number) {
#define KERNEL_CALL_NAME(name, number, family) \
  case number:                                 \
    return #name;
    KERNEL_CALLS(KERNEL_CALL_NAME)
#undef KERNEL_CALL_NAME
  }
  return nullptr;
}

constexpr const char *KernelCallFamily(uint64_t number) {
  switch (number) {
#define KERNEL_CALL_FAMILY(name, number, family) \
  case number:                                   \
    return #family;
    KERNEL_CALLS(KERNEL_CALL_FAMILY)
#undef KERNEL_CALL_FAMILY
  }
  return nullptr;
}

// The name of device-control request `request`, or null.
constexpr const char *KernelDeviceRequestName(uint64_t request) {
  switch (request) {
#define KERNEL_DEVICE_REQUEST_NAME(name, request, purpose) \
  case request:                                            \
    return #name;
    KERNEL_DEVICE_REQUESTS(KERNEL_DEVICE_REQUEST_NAME)
#undef KERNEL_DEVICE_REQUEST_NAME
  }
  return nullptr;
}

// The syscall API the library is built for: what KERNEL_CALL_SYSCALL_API_CHECKSUM
// must report.
constexpr uint32_t SYSCALL_API_CHECKSUM = 0xb535cbbb;

HYX_ReturnStatus Kernel_Call6(uint32_t number, uint64_t a0, uint64_t a1, uint64_t a2, uint64_t a3,
                              uint64_t a4, uint64_t a5);

// Linux answers a call number it does not have (every Hyxkernel number, on
// any other kernel) with -errno in the status register and leaves the error
// register holding an argument.  No Hyxkernel status lies in -4095..-1, so
// such an answer is told apart here, the one place every call returns
// through: HYX_NOT_IMPLEMENTED, with the Linux error in errno in place of
// the argument the gate took for one.  No caller ever sees a negative
// Linux value as a status.
constexpr uint32_t KERNEL_LINUX_ERROR_LOWEST = 0xfffff001;  // -4095 in the low half

inline HYX_ReturnStatus Kernel_Answer(HYX_ReturnStatus status) {
  if (status < KERNEL_LINUX_ERROR_LOWEST) return status;
  errno = static_cast<int>(0u - status);
  return HYX_NOT_IMPLEMENTED;
}

// Register images of the argument kinds the kernel takes.
inline uint64_t KernelArg(int32_t v) { return static_cast<uint64_t>(static_cast<int64_t>(v)); }
inline uint64_t KernelArg(uint32_t v) { return v; }
inline uint64_t KernelArg(int64_t v) { return static_cast<uint64_t>(v); }
inline uint64_t KernelArg(uint64_t v) { return v; }
inline uint64_t KernelArg(const void *p) { return reinterpret_cast<uintptr_t>(p); }

template <typename... Args>
HYX_ReturnStatus Kernel_Call(uint32_t number, Args... args) {
  static_assert(sizeof...(Args) <= 6, "the kernel takes at most six arguments");
  uint64_t regs[6] = {KernelArg(args)...};
  return Kernel_Answer(Kernel_Call6(number, regs[0], regs[1], regs[2], regs[3], regs[4], regs[5]));
}
