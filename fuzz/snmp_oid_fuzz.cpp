// Fuzzer for the SNMP OID rules and the trap OID split, each against a
// plain model written from the rules: an OID is 1 to 128 dot-separated
// components of 1 to 19 digits that fit in 32 bits; a trap OID of at most
// 127 characters under 1.3.6.1.4.1. splits at its first ".0." after the arc,
// else at its last dot, and the text put back together is the trap OID.
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "hyxuser/snmpSpool.h"

namespace {

std::vector<std::string> Split(const std::string &text) {
  std::vector<std::string> parts;
  size_t at = 0;
  for (size_t dot; (dot = text.find('.', at)) != std::string::npos; at = dot + 1)
    parts.push_back(text.substr(at, dot - at));
  parts.push_back(text.substr(at));
  return parts;
}

bool Number(const std::string &s, uint32_t *value = nullptr) {
  if (s.empty() || s.find_first_not_of("0123456789") != std::string::npos) return false;
  size_t first = s.find_first_not_of('0');
  std::string digits = first == std::string::npos ? "0" : s.substr(first);
  if (digits.size() > 10 || (digits.size() == 10 && digits > "4294967295")) return false;
  if (value) *value = static_cast<uint32_t>(std::stoull(digits));
  return true;
}

bool ModelValid(const std::string &oid) {
  if (oid.empty()) return false;
  std::vector<std::string> parts = Split(oid);
  if (parts.size() > 128) return false;
  for (const std::string &part : parts)
    if (part.size() > 19 || !Number(part)) return false;
  return true;
}

void Check(bool condition) {
  if (!condition) abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  std::string text(reinterpret_cast<const char *>(data), size);
  text = text.c_str();
  bool valid = SnmpOid_IsValid(text.c_str());
  Check(valid == ModelValid(text));

  // Also the same text under the enterprises arc, so the split is reached.
  for (const std::string &oid : {text, std::string(kSnmpEnterprisesPrefix) + text}) {
    SnmpTrapId id;
    HYX_ReturnStatus status = SnmpTrap_SplitOid(oid.c_str(), &id);
    if (status != HYX_OK) {
      Check(status == HYX_BAD_PARAM);
      continue;
    }
    Check(oid.size() <= 127 && oid.rfind(kSnmpEnterprisesPrefix, 0) == 0);
    constexpr size_t kArc = sizeof kSnmpEnterprisesPrefix - 1;
    size_t zero = oid.find(".0.", kArc);
    size_t cut = zero != std::string::npos ? zero : oid.rfind('.');
    Check(id.enterpriseOidLength == cut && cut >= kArc);
    std::string enterpriseOid = oid.substr(0, cut);
    std::string specific = oid.substr(cut + (zero != std::string::npos ? 3 : 1));
    uint32_t value;
    Check(Number(specific, &value) && value == id.specific);
    std::string afterArc = oid.substr(kArc);
    uint32_t enterprise;
    Check(afterArc.find('.') != std::string::npos);
    Check(Number(afterArc.substr(0, afterArc.find('.')), &enterprise) && enterprise == id.enterprise);
    if (valid && oid == text) Check(SnmpOid_IsValid(enterpriseOid.c_str()));
  }
  return 0;
}
