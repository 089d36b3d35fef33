// The host's uptime (2240): x0 the address of a u64 that receives the
// microseconds since the host started, x1 0.  The host started
// `kernel.uptimeMicroseconds` (profile) before the simulator was loaded.
#include <time.h>

#include <cerrno>
#include <cstring>

#include "../kernel.h"
#include "../models.h"
#include "../profile.h"
#include "hyxsysinfo/kernelCall.h"

namespace hyxsim {
namespace {

constexpr uint32_t kInvalidAddress = 0x0bad0026;
uint64_t uptimeAtLoad;
uint64_t monotonicAtLoad;

// The machine's own monotonic clock, whatever a test pinned.
uint64_t RealMonotonicUs() {
  struct timespec now {};
  RawSyscall(__NR_clock_gettime, CLOCK_MONOTONIC, reinterpret_cast<long>(&now));
  return static_cast<uint64_t>(now.tv_sec) * 1000000 + static_cast<uint64_t>(now.tv_nsec) / 1000;
}

void Uptime(Call &call) {
  if (call.args[0] == 0) {
    call.status = kInvalidAddress;
    call.error = static_cast<uint64_t>(-EFAULT);
    return;
  }
  uint64_t uptime = uptimeAtLoad + (RealMonotonicUs() - monotonicAtLoad);
  memcpy(reinterpret_cast<void *>(call.args[0]), &uptime, sizeof uptime);
  call.status = 0;
}

}  // namespace

void RegisterUptimeModels() {
  if (!CurrentProfile().hyxkernel) return;
  nlohmann::json kernel = CurrentProfile().document.value("kernel", nlohmann::json::object());
  uptimeAtLoad = kernel.value("uptimeMicroseconds", uint64_t{825785982});
  monotonicAtLoad = RealMonotonicUs();
  RegisterModel(KERNEL_CALL_UPTIME, Uptime);
}

}  // namespace hyxsim
