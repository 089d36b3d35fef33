// The exports that are a kernel call and nothing more.  Off the Hyxkernel
// their call numbers mean nothing (Linux answers ENOSYS in the status
// register and leaves the error register holding an argument), so they answer
// for the kernel instead of asking it.
#pragma once

#include <cerrno>

#include "hyxsysinfo/hostType.h"
#include "hyxsysinfo/kernelCall.h"

template <typename... Args>
HYX_ReturnStatus Kernel_DirectCall(uint32_t number, Args... args) {
  if (!IsHyxkernelHost()) {
    errno = ENOSYS;
    return HYX_NOT_IMPLEMENTED;
  }
  return Kernel_Call(number, args...);
}
