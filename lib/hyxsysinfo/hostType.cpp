#include "hyxsysinfo/hostType.h"

#include <sys/utsname.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "common/hostPaths.h"
#include "hyxsysinfo/kernelCall.h"

namespace {

constexpr char kHyxkernelSystemName[] = "Hyxkernel";
constexpr uint32_t kLocalMessageSize = 128;

// Each moves once from "untested" to its answer; racing threads store the
// same answer, so relaxed order is enough.
enum : uint32_t { kHostUntested = 0, kHostOther = 1, kHostHyxkernel = 2 };
std::atomic<uint32_t> hostTypeCache{kHostUntested};
constexpr uint32_t kMockupUntested = 0xFFFFFFFF;
std::atomic<uint32_t> mockupCache{kMockupUntested};
std::atomic<bool> checksumPassed{false};

// Formats the failure, if any, of the checksum call into (message, size);
// returns whether the kernel's checksum matched.
bool AskKernelChecksum(char *message, uint32_t size) {
  uint32_t kernelChecksum = 0;
  errno = 0;  // so a stale EPERM is not taken for the kernel's answer
  HYX_ReturnStatus status = Kernel_Call(KERNEL_CALL_SYSCALL_API_CHECKSUM, &kernelChecksum, uint64_t{0});
  if (status != HYX_OK) {
    if (errno == EPERM)
      snprintf(message, size, "Failed to get hyxkernel version: %s (running as non-root?)", strerror(errno));
    else
      snprintf(message, size, "Failed to get hyxkernel version: %#x", status);
    return false;
  }
  bool matches = kernelChecksum == SYSCALL_API_CHECKSUM;
  checksumPassed.store(matches, std::memory_order_relaxed);
  if (!matches)
    snprintf(message, size, "The system call API checksum does not match (%#x [kernel] != %#x [user]).",
             kernelChecksum, SYSCALL_API_CHECKSUM);
  return matches;
}

}  // namespace

bool IsHyxkernelHost() {
  uint32_t cached = hostTypeCache.load(std::memory_order_relaxed);
  if (cached != kHostUntested) return cached == kHostHyxkernel;
  struct utsname names;
  bool isHyxkernel = uname(&names) == 0 && strcmp(names.sysname, kHyxkernelSystemName) == 0;
  hostTypeCache.store(isHyxkernel ? kHostHyxkernel : kHostOther, std::memory_order_relaxed);
  return isHyxkernel;
}

bool IsMockupHost() {
  uint32_t cached = mockupCache.load(std::memory_order_relaxed);
  if (cached != kMockupUntested) return cached == 1;
  bool present = access(hostPaths::kMockupMarker, F_OK) == 0;
  mockupCache.store(present ? 1 : 0, std::memory_order_relaxed);
  return present;
}

bool SyscallApi_Check(bool exitOnFailure, char *message, uint32_t messageSize) {
  if (checksumPassed.load(std::memory_order_relaxed)) return true;
  if (!IsHyxkernelHost() || IsMockupHost()) return false;
  char localMessage[kLocalMessageSize];
  bool useLocal = message == nullptr;
  if (useLocal) {
    message = localMessage;
    messageSize = kLocalMessageSize;
  }
  if (AskKernelChecksum(message, messageSize)) return true;
  if (useLocal) fprintf(stderr, "Error during version check: %s\n", message);
  if (exitOnFailure) exit(-1);
  return false;
}
