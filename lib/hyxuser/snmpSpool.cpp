// OID syntax and the trap OID split (see snmpSpool.h).
#include "hyxuser/snmpSpool.h"

#include <cstring>

HYX_ReturnStatus SnmpParseU32(const char *text, size_t length, uint32_t *value) {
  if (length == 0) return HYX_BAD_PARAM;
  uint64_t v = 0;
  for (size_t i = 0; i < length; ++i) {
    if (text[i] < '0' || text[i] > '9') return HYX_BAD_PARAM;
    v = v * 10 + static_cast<uint64_t>(text[i] - '0');
    if (v > UINT32_MAX) return HYX_BAD_PARAM;
  }
  *value = static_cast<uint32_t>(v);
  return HYX_OK;
}

bool SnmpOid_IsValid(const char *oid) {
  if (oid == nullptr || *oid == '\0') return false;
  size_t components = 0;
  const char *p = oid;
  for (;;) {
    const char *end = strchrnul(p, '.');
    size_t length = static_cast<size_t>(end - p);
    uint32_t value;
    if (++components > kSnmpOidMaxComponents || length > kSnmpComponentMaxDigits ||
        SnmpParseU32(p, length, &value) != HYX_OK)
      return false;
    if (*end == '\0') return true;
    p = end + 1;
  }
}

HYX_ReturnStatus SnmpTrap_SplitOid(const char *trapOid, SnmpTrapId *id) {
  size_t length = strnlen(trapOid, kSnmpTrapOidMax + 1);
  if (length > kSnmpTrapOidMax) return HYX_BAD_PARAM;
  constexpr size_t kPrefix = sizeof kSnmpEnterprisesPrefix - 1;
  if (strncmp(trapOid, kSnmpEnterprisesPrefix, kPrefix) != 0) return HYX_BAD_PARAM;
  const char *rest = trapOid + kPrefix;
  const char *dot = strchr(rest, '.');
  if (dot == nullptr || SnmpParseU32(rest, static_cast<size_t>(dot - rest), &id->enterprise) != HYX_OK)
    return HYX_BAD_PARAM;
  const char *specific;
  if (const char *zero = strstr(rest, ".0."); zero != nullptr) {
    id->enterpriseOidLength = static_cast<size_t>(zero - trapOid);
    specific = zero + 3;
  } else {
    const char *last = strrchr(rest, '.');
    id->enterpriseOidLength = static_cast<size_t>(last - trapOid);
    specific = last + 1;
  }
  return SnmpParseU32(specific, strlen(specific), &id->specific);
}

const char *SnmpType_Text(uint32_t type) {
  static constexpr const char *kTexts[] = {"2", "4", "6", "66", "67", "40", "100"};
  return type < sizeof kTexts / sizeof kTexts[0] ? kTexts[type] : nullptr;
}
