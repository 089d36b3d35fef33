// The process-wide throttles of traps and events: one call per period
// passes, a call inside the period since the last one that passed is
// refused.  The window belongs to the caller, who guards it with a mutex of
// its own and holds that mutex around every call below; the clock is read
// here, under that mutex, so that a thread which read the clock earlier
// cannot compare its older time with a newer pass and see a wrapped,
// enormous elapsed time.
#pragma once

#include <time.h>

#include <cstdint>

namespace throttle {

// CLOCK_MONOTONIC in milliseconds; false when the clock cannot be read.
inline bool MonotonicMs(uint64_t *ms) {
  struct timespec now;
  if (clock_gettime(CLOCK_MONOTONIC, &now) != 0) return false;
  *ms = static_cast<uint64_t>(now.tv_sec) * 1000 + static_cast<uint64_t>(now.tv_nsec) / 1000000;
  return true;
}

enum class Verdict { kPassed, kRefused, kNoClock };

class Window {
 public:
  constexpr explicit Window(uint32_t periodMs) : periodMs_(periodMs) {}

  uint32_t period() const { return periodMs_; }

  // With the guarding mutex held: passes (and starts a new window) unless
  // the last pass was less than a period ago.
  Verdict Pass() {
    uint64_t now, elapsed;
    if (!MonotonicMs(&now)) return Verdict::kNoClock;
    if (Inside(now, &elapsed)) return Verdict::kRefused;
    lastMs_ = now;
    return Verdict::kPassed;
  }

  // With the guarding mutex held: milliseconds until the next call would
  // pass, 0 when it would pass now.
  bool Remaining(uint32_t *remainingMs) const {
    uint64_t now, elapsed;
    if (!MonotonicMs(&now)) return false;
    *remainingMs = Inside(now, &elapsed) ? static_cast<uint32_t>(periodMs_ - elapsed) : 0;
    return true;
  }

 private:
  // 0 is "no pass yet".  Both times are read under one mutex, so now is
  // never before the last pass; if a clock ever stepped back, the window is
  // taken as just started rather than as long over.
  bool Inside(uint64_t now, uint64_t *elapsed) const {
    if (lastMs_ == 0) return false;
    *elapsed = now >= lastMs_ ? now - lastMs_ : 0;
    return *elapsed < periodMs_;
  }

  uint32_t periodMs_;
  uint64_t lastMs_ = 0;
};

}  // namespace throttle
