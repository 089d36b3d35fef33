// The text side of SNMP traps: OID syntax, the split of a trap OID into its
// enterprise and specific-trap number, and the type texts of the spool file.
#pragma once

#include <cstddef>
#include <cstdint>

#include "hyxuser/hyxuser.h"

inline constexpr char kSnmpEnterprisesPrefix[] = "1.3.6.1.4.1.";
inline constexpr size_t kSnmpOidMaxComponents = 128;
inline constexpr size_t kSnmpComponentMaxDigits = 19;
inline constexpr size_t kSnmpTrapOidMax = 127;

// length bytes of decimal digits (the first a digit, all consumed) whose
// value fits in 32 bits: HYX_OK and *value; else HYX_BAD_PARAM.
HYX_ReturnStatus SnmpParseU32(const char *text, size_t length, uint32_t *value);

// Dotted decimal, 1 to 128 components of 1 to 19 characters each, every
// component a 32-bit number.  No leading, trailing or doubled dot.
bool SnmpOid_IsValid(const char *oid);

struct SnmpTrapId {
  uint32_t enterprise;         // the component right after the enterprises arc
  size_t enterpriseOidLength;  // the enterprise OID is the trap OID's first this many bytes
  uint32_t specific;           // specific-trap number
};

// Splits a trap OID (at most 127 characters, under 1.3.6.1.4.1.): the
// enterprise OID ends at the first ".0." after the arc, else at the last
// dot; the rest is the specific-trap number.  HYX_BAD_PARAM when the OID
// does not have that shape.
HYX_ReturnStatus SnmpTrap_SplitOid(const char *trapOid, SnmpTrapId *id);

// The text a type code is written as, or null for a code without one.
const char *SnmpType_Text(uint32_t type);
