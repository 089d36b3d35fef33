// The call trace: one line per trapped call, decoded, with the answer and
// the time the model took, written to the file HYXSIM_TRACE names.  Every
// process that loads the simulator appends its own lines under its pid.
// sim/README.md documents the settings and the line formats.
#pragma once

#include "kernel.h"

namespace hyxsim {

// Whether calls are traced; set once at start, before the filter goes in.
extern bool traceOn;

// Reads the trace settings from the environment and opens the trace.  A
// setting it cannot use ends the process with kRefusedStatus, naming it.
void StartTrace(char **envp);

// Dispatches the call and writes its line (when the filters let it).
// kernelCall: the call is answered as the Hyxkernel answers (a status and
// an errno), not as Linux does.
void TraceAndDispatch(Call &call, bool kernelCall);

// The trace settings as "NAME=value" entries, null-terminated: what a child
// started by the process calls needs in its environment to trace too.
const char *const *TraceEnvironment();

}  // namespace hyxsim
