// Library-internal view of the status table.
#pragma once

#include <cstdint>

#include "hyxuser/hyxuser.h"

// errno 0 gives HYX_OK; any other errno e gives HYX_ERRNO_STATUS_BASE + |e|.
HYX_ReturnStatus StatusFromErrno(int err);

// Lookups by code.  Unknown codes give "UNKNOWN", "Unknown status", the
// HYX_FAILURE message-id message and errno 22; errno-carrying codes give the
// family name and libc's strerror text.
//
// The name lookup needs nothing but the table, so it lives here whole: the
// test suites print statuses with it, whether they link the library's
// archive or the shipped library.
constexpr const char *Status_ToName(HYX_ReturnStatus status) {
  constexpr uint32_t kMaxCarriedErrno = 4095;
  if (status == HYX_ERRNO_STATUS_BASE) return "HYX_OK";
  if (status > HYX_ERRNO_STATUS_BASE && status - HYX_ERRNO_STATUS_BASE <= kMaxCarriedErrno)
    return "HYX_GENERIC_LINUX_ERROR";  // the family of the errno-carrying codes
  switch (status) {
#define HYX_STATUS(n, name, err, msg) \
  case name:                          \
    return #name;
#include "hyxuser/hyxuser_status.def"
#undef HYX_STATUS
    default:
      return "UNKNOWN";
  }
}
const char *Status_ToMessage(HYX_ReturnStatus status);
const char *Status_ToMsgIdMessage(HYX_ReturnStatus status);
int Status_ToErrno(HYX_ReturnStatus status);

// The inverse of HyxuserStatus_CodeToPamReturnValue over PAM values 1..31;
// HYX_FAILURE for any other value.
HYX_ReturnStatus Status_FromPamReturnValue(int pamValue);
