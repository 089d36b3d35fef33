// Digit generation.  The value is split into an integer part I and a binary
// fraction F / 2^k; I's digits are exact, and the fraction yields nine exact
// digits per step (F *= 10^9, the digits are what crosses 2^k).  Rounding
// looks at the first dropped digit, the digits after it and whether F is
// zero, so ties are recognised exactly.  The common case (I < 2^64, k <= 98)
// runs on 128-bit integers; everything else uses a little big-integer code
// sized for the widest long double.
#include "string/fmt_digits.h"

#include <cfloat>
#include <cstring>

#include "string/fmt_internal.h"

namespace {

using u128 = unsigned __int128;

constexpr uint32_t kChunk = 1000000000u;  // nine digits per fraction step
constexpr int kFastFractionBits = 98;     // F * 10^9 still fits in 128 bits
constexpr int kMaxLimbs = 520;            // 16384 integer bits or 16512 fraction bits
constexpr int kMaxChunks = 560;           // 9-digit groups of a 16384-bit integer
constexpr int kMaxUsefulDigits = 25000;   // more than any value has before its zeros

int BitLength(u128 v) {
  uint64_t hi = static_cast<uint64_t>(v >> 64), lo = static_cast<uint64_t>(v);
  if (hi != 0) return 128 - __builtin_clzll(hi);
  return lo != 0 ? 64 - __builtin_clzll(lo) : 0;
}

int TrailingZeros(u128 v) {
  uint64_t lo = static_cast<uint64_t>(v);
  return lo != 0 ? __builtin_ctzll(lo) : 64 + __builtin_ctzll(static_cast<uint64_t>(v >> 64));
}

u128 LowBits(u128 v, int bits) { return bits >= 128 ? v : v & ((u128(1) << bits) - 1); }

// Exactly nine digits, leading zeros included.
void Put9(char *out, uint32_t c) {
  out[0] = static_cast<char>('0' + c / 100000000);
  c %= 100000000;
  memcpy(out + 1, &kDigitPairs[2 * (c / 1000000)], 2);
  memcpy(out + 3, &kDigitPairs[2 * (c / 10000 % 100)], 2);
  memcpy(out + 5, &kDigitPairs[2 * (c / 100 % 100)], 2);
  memcpy(out + 7, &kDigitPairs[2 * (c % 100)], 2);
}

struct Fraction128 {
  u128 f;  // value f / 2^k, k <= kFastFractionBits
  int k;
  bool Zero() const { return f == 0; }
  uint32_t Next() {
    u128 p = f * kChunk;
    f = LowBits(p, k);
    return static_cast<uint32_t>(p >> k);
  }
};

// value = limb / 2^(32 n); only limbs [lo, hi) can be non-zero, which keeps
// the early steps of a long expansion cheap.
struct BigFraction {
  uint32_t limb[kMaxLimbs];
  int lo, hi, n;

  void Set(u128 f, int k) {
    n = (k + 31) / 32;
    int shift = 32 * n - k;  // aligns the fraction's top to a limb boundary
    lo = 0;
    hi = 0;
    for (int i = 0; i < n; i++) {
      int p = 32 * i - shift;
      uint32_t bits = 0;
      if (p < 0)
        bits = static_cast<uint32_t>(f << -p);
      else if (p < 128)
        bits = static_cast<uint32_t>(f >> p);
      limb[i] = bits;
      if (bits != 0) hi = i + 1;
      if (p >= 128) break;
    }
    while (lo < hi && limb[lo] == 0) lo++;
  }
  bool Zero() const { return lo >= hi; }
  uint32_t Next() {
    uint64_t carry = 0;
    for (int i = lo; i < hi; i++) {
      uint64_t t = uint64_t(limb[i]) * kChunk + carry;
      limb[i] = static_cast<uint32_t>(t);
      carry = t >> 32;
    }
    uint32_t out = 0;
    if (hi < n) {
      if (carry != 0) limb[hi++] = static_cast<uint32_t>(carry);
    } else {
      out = static_cast<uint32_t>(carry);
    }
    while (lo < hi && limb[lo] == 0) lo++;
    while (hi > lo && limb[hi - 1] == 0) hi--;
    return out;
  }
};

struct BigInteger {
  uint32_t limb[kMaxLimbs];
  int n;

  // m * 2^shift with shift >= 0.
  void Set(u128 m, int shift) {
    int base = shift / 32, bitShift = shift % 32;
    n = base + 5;
    memset(limb, 0, sizeof(uint32_t) * n);
    for (int i = 0; i < 5; i++) {
      int p = 32 * i - bitShift;
      uint32_t bits = 0;
      if (p < 0)
        bits = static_cast<uint32_t>(m << -p);
      else if (p < 128)
        bits = static_cast<uint32_t>(m >> p);
      limb[base + i] = bits;
    }
    Trim();
  }
  void Trim() {
    while (n > 0 && limb[n - 1] == 0) n--;
  }
  uint32_t DivideByChunk() {
    uint64_t rem = 0;
    for (int i = n - 1; i >= 0; i--) {
      uint64_t cur = (rem << 32) | limb[i];
      limb[i] = static_cast<uint32_t>(cur / kChunk);
      rem = cur % kChunk;
    }
    Trim();
    return static_cast<uint32_t>(rem);
  }
};

int PutBigInteger(char *out, BigInteger &value) {
  uint32_t chunks[kMaxChunks];
  int count = 0;
  while (value.n > 0) chunks[count++] = value.DivideByChunk();
  if (count == 0) return 0;
  int length = PutU64(out, chunks[count - 1]);
  for (int i = count - 2; i >= 0; i--, length += 9) Put9(out + length, chunks[i]);
  return length;
}

bool RoundsUp(const char *d, int n, int target, bool fractionZero) {
  char c = d[target];
  if (c != '5') return c > '5';
  for (int i = target + 1; i < n; i++)
    if (d[i] != '0') return true;
  if (!fractionZero) return true;
  return target > 0 && ((d[target - 1] - '0') & 1) != 0;  // a tie goes to the even digit
}

// buffer[1, 1 + intCount) holds the integer part's digits; buffer[0] is room
// for a carry out of the first digit.
template <typename Fraction>
DecimalDigits Generate(char *buffer, int intCount, Fraction &fraction, DigitMode mode, int wanted) {
  char *d = buffer + 1;
  int n = intCount, decpt = intCount;
  if (n == 0 && mode == DigitMode::kSignificant) {
    uint32_t c;
    while ((c = fraction.Next()) == 0) decpt -= 9;
    char first[9];
    Put9(first, c);
    int zeros = 0;
    while (first[zeros] == '0') zeros++;
    decpt -= zeros;
    n = 9 - zeros;
    memcpy(d, first + zeros, n);
  }
  int target = mode == DigitMode::kSignificant ? wanted : decpt + wanted;
  while (n <= target && !fraction.Zero()) {
    Put9(d + n, fraction.Next());
    n += 9;
  }
  if (n > target) {
    bool up = RoundsUp(d, n, target, fraction.Zero());
    n = target;
    if (up) {
      int i = n - 1;
      while (i >= 0 && d[i] == '9') d[i--] = '0';
      if (i >= 0) {
        d[i]++;
      } else {
        *--d = '1';
        n++;
        decpt++;
      }
    }
  }
  while (n > 0 && d[n - 1] == '0') n--;
  while (n > 0 && d[0] == '0') {
    d++;
    n--;
    decpt--;
  }
  if (n == 0) decpt = 0;
  return {d, n, decpt};
}

__attribute__((noinline)) DecimalDigits BigDigits(const FloatParts &v, DigitMode mode, int wanted,
                                                  char *buffer) {
  BigInteger integer;
  BigFraction fraction;
  if (v.exponent >= 0) {
    integer.Set(v.mantissa, v.exponent);
    fraction.Set(0, 0);
  } else {
    int k = -v.exponent;
    integer.Set(k >= 128 ? 0 : v.mantissa >> k, 0);
    fraction.Set(LowBits(v.mantissa, k), k);
  }
  int intCount = PutBigInteger(buffer + 1, integer);
  return Generate(buffer, intCount, fraction, mode, wanted);
}

FloatParts Finite(bool negative, u128 mantissa, int exponent) {
  if (mantissa == 0) return {FloatClass::kZero, negative, 0, 0};
  int zeros = TrailingZeros(mantissa);
  return {FloatClass::kFinite, negative, exponent + zeros, mantissa >> zeros};
}

}  // namespace

FloatParts FloatPartsOfDouble(double value) {
  uint64_t bits;
  memcpy(&bits, &value, sizeof bits);
  bool negative = (bits >> 63) != 0;
  int biased = static_cast<int>((bits >> 52) & 0x7ff);
  uint64_t fraction = bits & ((uint64_t(1) << 52) - 1);
  if (biased == 0x7ff) return {fraction == 0 ? FloatClass::kInfinite : FloatClass::kNaN, negative, 0, 0};
  if (biased == 0) return Finite(negative, fraction, -1074);
  return Finite(negative, fraction | (uint64_t(1) << 52), biased - 1075);
}

FloatParts FloatPartsOfLongDouble(long double value) {
#if LDBL_MANT_DIG == 64
  // x87 extended: 64-bit mantissa with an explicit integer bit, then sign
  // and 15-bit exponent.
  uint64_t mantissa;
  uint16_t signExponent;
  memcpy(&mantissa, &value, sizeof mantissa);
  memcpy(&signExponent, reinterpret_cast<const char *>(&value) + 8, sizeof signExponent);
  bool negative = (signExponent >> 15) != 0;
  int biased = signExponent & 0x7fff;
  if (biased == 0x7fff)
    return {(mantissa << 1) == 0 ? FloatClass::kInfinite : FloatClass::kNaN, negative, 0, 0};
  return Finite(negative, mantissa, (biased == 0 ? 1 : biased) - 16383 - 63);
#elif LDBL_MANT_DIG == 113
  // IEEE binary128, little-endian: low 64 fraction bits, then sign, 15-bit
  // exponent and the high 48 fraction bits.
  uint64_t lo, hi;
  memcpy(&lo, &value, sizeof lo);
  memcpy(&hi, reinterpret_cast<const char *>(&value) + 8, sizeof hi);
  bool negative = (hi >> 63) != 0;
  int biased = static_cast<int>((hi >> 48) & 0x7fff);
  u128 fraction = (u128(hi & ((uint64_t(1) << 48) - 1)) << 64) | lo;
  if (biased == 0x7fff) return {fraction == 0 ? FloatClass::kInfinite : FloatClass::kNaN, negative, 0, 0};
  if (biased == 0) return Finite(negative, fraction, 1 - 16383 - 112);
  return Finite(negative, fraction | (u128(1) << 112), biased - 16383 - 112);
#elif LDBL_MANT_DIG == 53
  return FloatPartsOfDouble(static_cast<double>(value));
#else
#error "unsupported long double format"
#endif
}

int DigitBufferSize(const FloatParts &v, DigitMode mode, int wanted) {
  (void)mode;
  int k = v.exponent < 0 ? -v.exponent : 0;
  int intBits = v.exponent >= 0 ? BitLength(v.mantissa) + v.exponent : BitLength(v.mantissa) - k;
  int intDigits = intBits > 0 ? ((intBits * 1233) >> 12) + 1 : 0;
  return intDigits + (wanted < k ? wanted : k) + 12;
}

DecimalDigits FloatDigits(const FloatParts &v, DigitMode mode, int wanted, char *buffer) {
  if (wanted > kMaxUsefulDigits) wanted = kMaxUsefulDigits;
  if (v.exponent >= 0) {
    if (BitLength(v.mantissa) + v.exponent <= 64) {
      Fraction128 none{0, 0};
      int intCount = PutU64(buffer + 1, static_cast<uint64_t>(v.mantissa << v.exponent));
      return Generate(buffer, intCount, none, mode, wanted);
    }
  } else if (-v.exponent <= kFastFractionBits) {
    int k = -v.exponent;
    u128 integer = v.mantissa >> k;
    if ((integer >> 64) == 0) {
      Fraction128 fraction{LowBits(v.mantissa, k), k};
      int intCount = PutU64(buffer + 1, static_cast<uint64_t>(integer));
      return Generate(buffer, intCount, fraction, mode, wanted);
    }
  }
  return BigDigits(v, mode, wanted, buffer);
}
