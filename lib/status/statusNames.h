// The status table by name: each code's name and message, a code from its
// name, and the range of errno-carrying codes the table names.  It needs
// nothing but hyxuser_status.def, so the library, its tools, the test
// suites and the simulator share this one lookup whatever they link.
#pragma once

#include <cstddef>
#include <cstdint>

#include "hyxuser/hyxuser.h"

// The errno-carrying codes the table names: HYX_ERRNO_STATUS_BASE + e for
// e from 1 to this.
constexpr uint32_t kStatusMaxCarriedErrno = 4095;

struct StatusNameRow {
  HYX_ReturnStatus code;
  const char *name;
  const char *message;
};

// The rows of the table, in its order (HYX_OK first).
inline constexpr StatusNameRow kStatusNameRows[] = {
#define HYX_STATUS(n, name, err, msg) {name, #name, msg},
#include "hyxuser/hyxuser_status.def"
#undef HYX_STATUS
};
inline constexpr size_t kStatusNameRowCount = sizeof kStatusNameRows / sizeof kStatusNameRows[0];

// The errno e that HYX_ERRNO_STATUS_BASE + e carries, for e from 1 to
// kStatusMaxCarriedErrno; 0 for any other code.
constexpr int Status_CarriedErrno(HYX_ReturnStatus status) {
  return status > HYX_ERRNO_STATUS_BASE && status - HYX_ERRNO_STATUS_BASE <= kStatusMaxCarriedErrno
             ? static_cast<int>(status - HYX_ERRNO_STATUS_BASE)
             : 0;
}

// The table's row of a code; null for an errno-carrying or unknown code.
// HYX_ERRNO_STATUS_BASE itself is HYX_OK's.
constexpr const StatusNameRow *Status_Row(HYX_ReturnStatus status) {
  if (status == HYX_ERRNO_STATUS_BASE) status = HYX_OK;
  for (const StatusNameRow &row : kStatusNameRows)
    if (row.code == status) return &row;
  return nullptr;
}

// "HYX_OK" for 0 and HYX_ERRNO_STATUS_BASE, the family name
// "HYX_GENERIC_LINUX_ERROR" for an errno-carrying code, the row's name for
// a kernel code, "UNKNOWN" for anything else.
constexpr const char *Status_ToName(HYX_ReturnStatus status) {
  if (Status_CarriedErrno(status) != 0) return "HYX_GENERIC_LINUX_ERROR";
  const StatusNameRow *row = Status_Row(status);
  return row ? row->name : "UNKNOWN";
}

// A code by its name: "HYX_NOT_FOUND", "hyx_not_found" or "NOT_FOUND"
// (case ignored, the prefix optional).  False for a name the table lacks.
constexpr bool Status_FromName(const char *name, HYX_ReturnStatus *code) {
  if (name == nullptr || code == nullptr) return false;
  auto lower = [](char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; };
  auto same = [&](const char *a, const char *b) {
    while (*a != '\0' && lower(*a) == lower(*b)) a++, b++;
    return *a == '\0' && *b == '\0';
  };
  for (const StatusNameRow &row : kStatusNameRows) {
    if (same(name, row.name) || same(name, row.name + 4)) {
      *code = row.code;
      return true;
    }
  }
  return false;
}
