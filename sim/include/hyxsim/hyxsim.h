/*
 * libhyxsim: the simulated Hyxkernel.
 *
 * Loaded into a process (linked, or preloaded by hyxsim), it traps the
 * kernel's calls, uname and the host's device-control requests, and answers
 * them from a host profile (HYXSIM_PROFILE names the JSON file).  This header
 * is what tests use to watch and script it.  A call is named by the number
 * libhyxuser issues it with; hyxsim --trace shows each call a program makes.
 */
#ifndef HYXSIM_HYXSIM_H
#define HYXSIM_HYXSIM_H

#include <stddef.h>
#include <stdint.h>

/* The exit status of a process whose profile, snapshot or trace settings the
 * simulator refuses at start (after one line on stderr naming the fault):
 * apart from the shell's 126 ("cannot run") and 127 ("not found"). */
#define HYXSIM_REFUSED_STATUS 125

#ifdef __cplusplus
extern "C" {
#endif

/* One trapped call: the number, the six argument registers and the two
 * result registers (status and error) the handler fills in. */
typedef struct HyxSimCall {
  uint64_t number;
  uint64_t args[6];
  uint64_t status;
  uint64_t error;
} HyxSimCall;

typedef void (*HyxSimHandler)(HyxSimCall *call, void *context);

/* Answers every later call of `number` with `handler` instead of the host
 * model; a null handler gives the call back to the model. */
void HyxSim_SetHandler(uint64_t number, HyxSimHandler handler, void *context);

/* Scripts a fixed answer for `number`: the status and error registers, and
 * `length` bytes copied to the address held in argument `argIndex` (none when
 * bytes is null). */
void HyxSim_ScriptAnswer(uint64_t number, uint32_t status, int32_t error, const void *bytes, size_t length,
                         unsigned argIndex);

/* Runs the host model for `call` as if no handler were set: a handler that
 * only watches a call hands it on with this. */
void HyxSim_RunModel(HyxSimCall *call);

/* Gives every scripted call back to the host model. */
void HyxSim_ClearHandlers(void);

/* How many times `number` was trapped since load or the last reset. */
uint64_t HyxSim_CallCount(uint64_t number);
void HyxSim_ResetCounts(void);

/* The resource group the kernel placed child `pid` in (a "++group=" argument
 * of fork-exec, or the attribute record of spawn).  Returns 1 and copies the
 * group (cut to size) and the memory limit in MB (0 when none was given);
 * returns 0 when the child was started in no group. */
int HyxSim_ChildGroup(int32_t pid, char *group, size_t size, uint64_t *memMB);

/* How many times the kernel rescanned adapter `adapter` (its rescan call
 * answered HYX_OK). */
uint64_t HyxSim_RescanCount(const char *adapter);

/* The profile the simulated kernel runs (path as loaded, or "" for the
 * built-in hypervisor host). */
const char *HyxSim_ProfilePath(void);

/* Every field of the profile's sections that the simulator reads
 * ("firmware.acpi[].bytes": list elements as "[]", an element's fields as
 * far as the loaded profile has elements), each once, in order. */
void HyxSim_ProfileFields(void (*each)(const char *path, void *context), void *context);

/* The clock control.  Pinning makes CLOCK_MONOTONIC, as the process reads
 * it through clock_gettime, stand still at `ns` nanoseconds; Advance moves the
 * pinned clock forward by `ns`; Unpin gives the real clock back.  Other clocks
 * are never touched, and the simulated host's uptime keeps the real pace. */
void HyxSim_PinMonotonicClock(uint64_t ns);
void HyxSim_AdvanceMonotonicClock(uint64_t ns);
void HyxSim_UnpinMonotonicClock(void);

#ifdef __cplusplus
}
#endif

#endif /* HYXSIM_HYXSIM_H */
