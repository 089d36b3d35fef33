// What kind of host the process runs on, and whether its kernel speaks the
// system-call interface the library was built for.
#pragma once

#include <cstdint>

#include "hyxsysinfo/kernelCall.h"  // SYSCALL_API_CHECKSUM

// True on the Hyxkernel (uname system name exactly "Hyxkernel").  Cached.
bool IsHyxkernelHost();

// True when the mock-up marker file exists.  Cached.
bool IsMockupHost();

// Compares the kernel's syscall-API checksum with the library's.  Without a
// message buffer, failures are also written to stderr.  With exitOnFailure a
// failure ends the process with status 255.  Off the Hyxkernel, and on a
// mock-up host, returns false without asking the kernel.
bool SyscallApi_Check(bool exitOnFailure, char *message, uint32_t messageSize);
