// The simulated kernel's dispatcher: every trapped call comes here.
#pragma once

#include <cstdint>

#include "hyxsim/hyxsim.h"

namespace hyxsim {

using Call = HyxSimCall;
using Model = void (*)(Call &call);

// A Hyxkernel call's answer: status, and errno err (positive; 0 for none)
// negated in the error register.
void Answer(Call &call, uint32_t status, int err);
// A Linux call (uname, a device-control request): the result, or -errno, in
// the status register; the error register stays as the caller had it.
void AnswerLinux(Call &call, long result);

// The model of kernel or Linux call `number`.
void RegisterModel(uint64_t number, Model model);

// Runs a scripted handler if one is set, else the model, else answers as a
// kernel that lacks the call.  Counts the call.
void Dispatch(Call &call);

// The model of the call's number, or the undefined-call answer.
void RunModel(Call &call);

// The signal mask (signals 1 to 64) of the thread when it trapped into the
// kernel: what the handler runs with may block more.
uint64_t TrappedSignalMask();

// A system call of the simulator's own; never trapped.
long RawSyscall(long number, long a0 = 0, long a1 = 0, long a2 = 0, long a3 = 0, long a4 = 0, long a5 = 0);

// Marks the simulator's own uname and ioctl calls (in the high half of the
// second argument, which the kernel ignores for both) so the filter lets them
// pass.
constexpr uint64_t kOwnCallTag = uint64_t{0x48595853} << 32;

}  // namespace hyxsim
