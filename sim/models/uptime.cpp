// The host's uptime (KERNEL_CALL_UPTIME): x0 the address of a u64 that receives the
// microseconds since the host started, x1 0.  The host started the profile's
// `kernel.uptimeMicroseconds` before the simulator was loaded.
#include <sys/syscall.h>
#include <time.h>

#include <cerrno>

#include "../kit.h"
#include "../models.h"
#include "../profile.h"

namespace hyxsim {
namespace {

uint64_t monotonicAtLoad;

// The machine's own monotonic clock, whatever a test pinned.
uint64_t RealMonotonicUs() {
  struct timespec now {};
  RawSyscall(__NR_clock_gettime, CLOCK_MONOTONIC, reinterpret_cast<long>(&now));
  return static_cast<uint64_t>(now.tv_sec) * 1000000 + static_cast<uint64_t>(now.tv_nsec) / 1000;
}

void Uptime(Call &call) {
  if (call.args[0] == 0) return Answer(call, HYX_INVALID_ADDRESS, EFAULT);
  WriteBlock(call.args[0], CurrentProfile().uptimeMicroseconds + (RealMonotonicUs() - monotonicAtLoad));
  Answer(call, HYX_OK);
}

}  // namespace

void RegisterUptimeModels() {
  if (!CurrentProfile().hyxkernel) return;
  monotonicAtLoad = RealMonotonicUs();
  RegisterModel(KERNEL_CALL_UPTIME, Uptime);
}

}  // namespace hyxsim
