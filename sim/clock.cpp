// The clock control: a test pins the monotonic clock that programs read
// through clock_gettime and moves it by exact amounts, so time-driven code
// (throttles) is tested without waiting.  The simulator is loaded before libc
// in every process it runs in, so its clock_gettime is the one programs and
// the library bind to; unpinned, it hands every call to libc's.
#include <dlfcn.h>
#include <time.h>

#include <atomic>
#include <cerrno>

#include "hyxsim/hyxsim.h"

namespace {

std::atomic<bool> pinned{false};
std::atomic<uint64_t> pinnedNs{0};

using ClockGettime = int (*)(clockid_t, struct timespec *);

ClockGettime LibcClockGettime() {
  static std::atomic<ClockGettime> next{nullptr};
  ClockGettime f = next.load(std::memory_order_acquire);
  if (f == nullptr) {
    f = reinterpret_cast<ClockGettime>(dlsym(RTLD_NEXT, "clock_gettime"));
    next.store(f, std::memory_order_release);
  }
  return f;
}

}  // namespace

extern "C" __attribute__((visibility("default"))) int clock_gettime(clockid_t clock, struct timespec *now) {
  if (clock == CLOCK_MONOTONIC && pinned.load(std::memory_order_acquire)) {
    uint64_t ns = pinnedNs.load(std::memory_order_acquire);
    now->tv_sec = static_cast<time_t>(ns / 1000000000);
    now->tv_nsec = static_cast<long>(ns % 1000000000);
    return 0;
  }
  return LibcClockGettime()(clock, now);
}

extern "C" void HyxSim_PinMonotonicClock(uint64_t ns) {
  pinnedNs.store(ns, std::memory_order_release);
  pinned.store(true, std::memory_order_release);
}

extern "C" void HyxSim_AdvanceMonotonicClock(uint64_t ns) {
  pinnedNs.fetch_add(ns, std::memory_order_acq_rel);
}

extern "C" void HyxSim_UnpinMonotonicClock(void) { pinned.store(false, std::memory_order_release); }
