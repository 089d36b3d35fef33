// Library-internal view of the status table.
#pragma once

#include <cstdint>

#include "hyxuser/hyxuser.h"
#include "status/statusNames.h"

// errno 0 gives HYX_OK; any other errno e gives HYX_ERRNO_STATUS_BASE + |e|.
HYX_ReturnStatus StatusFromErrno(int err);

// Lookups by code.  Unknown codes give "UNKNOWN", "Unknown status", the
// HYX_FAILURE message-id message and errno 22; errno-carrying codes give the
// family name and libc's strerror text.  The name lookup needs nothing but
// the table and lives in statusNames.h.
const char *Status_ToMessage(HYX_ReturnStatus status);
const char *Status_ToMsgIdMessage(HYX_ReturnStatus status);
int Status_ToErrno(HYX_ReturnStatus status);

// The inverse of HyxuserStatus_CodeToPamReturnValue over PAM values 1..31;
// HYX_FAILURE for any other value.
HYX_ReturnStatus Status_FromPamReturnValue(int pamValue);
