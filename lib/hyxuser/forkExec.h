// Internal operations behind the fork-exec family.
#pragma once

#include <cstddef>
#include <cstdint>

#include "hyxsysinfo/kernelWire.h"  // ForkExecParams
#include "hyxuser/hyxuser.h"

constexpr size_t GROUP_ARG_SIZE = 200;
constexpr uint32_t FORK_EXEC_NO_EXTRA = 0xFFFFFFFF;

// The shell's resource-group argument from attr ("" when none applies).
void GroupArg_Build(const HyxuserSpawnAttr *attr, char (&buffer)[GROUP_ARG_SIZE]);

// Starts a "#!" script through its interpreter after the kernel refused it
// as not executable.  Arguments as for the fork-exec call.
HYX_ReturnStatus ScriptInterp_Retry(const char *path, char *const argv[], char *const envp[],
                                    int32_t passThrough, const int32_t *fdMap, uint32_t fdCount,
                                    uint32_t extraA, uint32_t extraB, uint8_t flag, pid_t *pid);

// The current (default) fork-exec entry.
extern "C" HYX_ReturnStatus ForkExec_Current(const char *path, char *const argv[], char *const envp[],
                                             int32_t passThrough, const int32_t *fdMap, uint32_t fdCount,
                                             uint32_t extraA, uint32_t extraB, uint8_t flag, pid_t *pid);
