// Pieces shared by the formatting engine's sources: the output sink, the
// parsed conversion directive and the locale items.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>

// Pairs "00".."99" for writing two decimal digits at a time.
inline constexpr char kDigitPairs[] =
    "00010203040506070809101112131415161718192021222324252627282930313233343536373839"
    "40414243444546474849505152535455565758596061626364656667686970717273747576777879"
    "8081828384858687888990919293949596979899";

// Decimal digits of v (at least one) written so they end at `end`; returns
// where they start.  32-bit values take 32-bit arithmetic.
inline char *PutDecimalBackward(char *end, uint64_t v) {
  char *p = end;
  while (v > UINT32_MAX) {
    uint64_t q = v / 100;
    p -= 2;
    memcpy(p, &kDigitPairs[2 * (v - q * 100)], 2);
    v = q;
  }
  uint32_t w = static_cast<uint32_t>(v);
  while (w >= 100) {
    uint32_t q = w / 100;
    p -= 2;
    memcpy(p, &kDigitPairs[2 * (w - q * 100)], 2);
    w = q;
  }
  if (w >= 10) {
    p -= 2;
    memcpy(p, &kDigitPairs[2 * w], 2);
  } else {
    *--p = static_cast<char>('0' + w);
  }
  return p;
}

// Number of decimal digits of v (1 for 0): the bit length gives the count
// or one more, and one comparison tells which.
inline int DecimalCount(uint64_t v) {
  static constexpr uint64_t kPow10[20] = {1ull,
                                          10ull,
                                          100ull,
                                          1000ull,
                                          10000ull,
                                          100000ull,
                                          1000000ull,
                                          10000000ull,
                                          100000000ull,
                                          1000000000ull,
                                          10000000000ull,
                                          100000000000ull,
                                          1000000000000ull,
                                          10000000000000ull,
                                          100000000000000ull,
                                          1000000000000000ull,
                                          10000000000000000ull,
                                          100000000000000000ull,
                                          1000000000000000000ull,
                                          10000000000000000000ull};
  uint64_t w = v | 1;  // 0 has one digit; setting bit 0 changes no other count
  int t = ((64 - __builtin_clzll(w)) * 1233) >> 12;
  return t + (w >= kPow10[t]);
}

// Decimal digits of v without leading zeros (nothing for 0); returns the count.
inline int PutU64(char *out, uint64_t v) {
  if (v == 0) return 0;
  int n = DecimalCount(v);
  PutDecimalBackward(out + n, v);
  return n;
}

// Where formatted text goes: bytes are stored from start up to end (the
// caller's room); cur is where the next one goes, and lost counts the bytes
// that did not fit.
struct FmtOut {
  char *cur;
  char *end;
  char *start;
  size_t lost;
};

inline size_t OutLength(const FmtOut *o) { return static_cast<size_t>(o->cur - o->start) + o->lost; }
inline size_t OutRoom(const FmtOut *o) { return static_cast<size_t>(o->end - o->cur); }

// Short pieces dominate formatted text; fixed-size copies avoid a call.
inline void CopyShort(char *d, const char *s, size_t n) {
  if (n > 16) {
    memcpy(d, s, n);
  } else if (n >= 8) {
    memcpy(d, s, 8);
    memcpy(d + n - 8, s + n - 8, 8);
  } else if (n >= 4) {
    memcpy(d, s, 4);
    memcpy(d + n - 4, s + n - 4, 4);
  } else if (n > 0) {
    d[0] = s[0];
    d[n / 2] = s[n / 2];
    d[n - 1] = s[n - 1];
  }
}

// The part of a piece that fits, and the count of the rest.
void OutPutCut(FmtOut *o, const char *s, size_t n);
void OutPadCut(FmtOut *o, char c, size_t n);

inline void OutPut(FmtOut *o, const char *s, size_t n) {
  if (n <= OutRoom(o)) {
    CopyShort(o->cur, s, n);
    o->cur += n;
  } else {
    OutPutCut(o, s, n);
  }
}

inline void OutChar(FmtOut *o, char c) {
  if (o->cur < o->end)
    *o->cur++ = c;
  else
    o->lost++;
}

inline void OutPad(FmtOut *o, char c, size_t n) {
  if (n == 0) return;
  if (n <= OutRoom(o)) {
    memset(o->cur, c, n);
    o->cur += n;
  } else {
    OutPadCut(o, c, n);
  }
}

// Writes v in decimal, with a '-' first when negative.
inline void OutDecimal(FmtOut *o, uint64_t v, bool negative) {
  int n = DecimalCount(v);
  size_t total = static_cast<size_t>(n) + negative;
  if (total <= OutRoom(o)) {
    o->cur[0] = '-';  // overwritten by the first digit when not negative
    PutDecimalBackward(o->cur + total, v);
    o->cur += total;
  } else {
    char buffer[24];
    buffer[0] = '-';
    PutDecimalBackward(buffer + total, v);
    OutPutCut(o, buffer, total);
  }
}

enum : uint32_t {
  kFlagMinus = 1,
  kFlagPlus = 2,
  kFlagSpace = 4,
  kFlagAlt = 8,
  kFlagZero = 16,
  kFlagGroup = 32,
};

// Length modifiers after folding the synonyms: q, L and I64 are kQuad (64-bit
// integers, long double for floating conversions), Z and I are kSize.
enum class FmtLength : uint8_t { kNone, kChar, kShort, kLong, kLongLong, kQuad, kMax, kSize, kPtrdiff };

struct FmtSpec {
  uint32_t flags;
  int width;     // 0 when absent
  int prec;      // -1 when absent
  int widthArg;  // 0: literal, -1: next argument, n: argument n
  int precArg;
  int argPos;  // 0: next argument, n: argument n
  FmtLength length;
  char conv;      // 0 when the format ended inside the directive
  bool overflow;  // a width, precision or position that does not fit an int
};

// The locale items, read only when a conversion needs them: the decimal
// point by floating conversions, the separator and grouping by the ' flag.
struct FmtLocale {
  const char *point;  // null until read
  size_t pointLen;
  bool groupingLoaded;
  char separator[8];  // the thousands separator's first character; empty: no grouping
  size_t separatorLen;
  const char *grouping;
  int groupCount;    // leading group sizes that are in use
  bool groupRepeat;  // the last size repeats (the string ended, not CHAR_MAX)
};

void FmtReadPoint(FmtLocale *locale);
void FmtReadGrouping(FmtLocale *locale);

inline void FmtLoadPoint(FmtLocale *l) {
  if (l->point == nullptr) FmtReadPoint(l);
}

inline void FmtLoadGrouping(FmtLocale *l) {
  if (!l->groupingLoaded) FmtReadGrouping(l);
}

// Size of the i-th group counted from the right, 0 when grouping has ended.
inline int FmtGroupSize(const FmtLocale *l, int i) {
  if (i < l->groupCount) return l->grouping[i];
  return (l->groupRepeat && l->groupCount > 0) ? l->grouping[l->groupCount - 1] : 0;
}

// Writes n digits grouped by the locale: put(from, to) writes digits
// [from, to) and the separator goes between groups.
template <typename Put>
void FmtPutGrouped(FmtOut *o, size_t n, const FmtLocale *l, Put put) {
  size_t first = n;
  int groups = 0;
  for (int g; (g = FmtGroupSize(l, groups)) > 0 && first > static_cast<size_t>(g); groups++) first -= g;
  put(0, first);
  size_t at = first;
  for (int i = groups - 1; i >= 0; i--) {
    OutPut(o, l->separator, l->separatorLen);
    size_t g = static_cast<size_t>(FmtGroupSize(l, i));
    put(at, at + g);
    at += g;
  }
}

// Length of n digits once grouped.
inline size_t FmtGroupedLength(size_t n, const FmtLocale *l) {
  size_t rest = n, separators = 0;
  for (int i = 0, g; (g = FmtGroupSize(l, i)) > 0 && rest > static_cast<size_t>(g); i++, separators++)
    rest -= g;
  return n + separators * l->separatorLen;
}

// Spaces, zeros and trailing spaces around a conversion's text of `length`
// bytes (its prefix and precision zeros included).
struct FmtPadding {
  size_t before, zeros, after;
};

inline FmtPadding FmtPad(const FmtSpec *s, size_t length, bool zeroAllowed) {
  FmtPadding p{0, 0, 0};
  size_t width = static_cast<size_t>(s->width);
  if (width <= length) return p;
  if (s->flags & kFlagMinus)
    p.after = width - length;
  else if ((s->flags & kFlagZero) && zeroAllowed)
    p.zeros = width - length;
  else
    p.before = width - length;
  return p;
}

// Writes a floating conversion (e f g E F G) of value under directive; false
// when memory for a very long expansion cannot be had.
struct FloatParts;
bool FmtFloat(FmtOut *o, const FmtSpec *directive, const FloatParts &value, FmtLocale *locale);
