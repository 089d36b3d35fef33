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
// where they start.
inline char *PutDecimalBackward(char *end, uint64_t v) {
  char *p = end;
  while (v >= 100) {
    p -= 2;
    memcpy(p, &kDigitPairs[2 * (v % 100)], 2);
    v /= 100;
  }
  if (v >= 10) {
    p -= 2;
    memcpy(p, &kDigitPairs[2 * v], 2);
  } else {
    *--p = static_cast<char>('0' + v);
  }
  return p;
}

// Decimal digits of v without leading zeros (nothing for 0); returns the count.
inline int PutU64(char *out, uint64_t v) {
  if (v == 0) return 0;
  char tmp[20];
  char *p = PutDecimalBackward(tmp + sizeof tmp, v);
  int n = static_cast<int>(tmp + sizeof tmp - p);
  memcpy(out, p, n);
  return n;
}

// Where formatted text goes: at most cap bytes are stored, len counts all.
struct FmtOut {
  char *buf;
  size_t cap;
  size_t len;
};

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

inline void OutPut(FmtOut *o, const char *s, size_t n) {
  if (o->len + n <= o->cap) {
    CopyShort(o->buf + o->len, s, n);
  } else if (o->len < o->cap) {
    memcpy(o->buf + o->len, s, o->cap - o->len);
  }
  o->len += n;
}

inline void OutChar(FmtOut *o, char c) {
  if (o->len < o->cap) o->buf[o->len] = c;
  o->len++;
}

inline void OutPad(FmtOut *o, char c, size_t n) {
  if (o->len < o->cap) memset(o->buf + o->len, c, n <= o->cap - o->len ? n : o->cap - o->len);
  o->len += n;
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
  char conv;  // 0 when the format ended inside the directive
  bool overflow;  // a width, precision or position that does not fit an int
};

// The locale items, read from localeconv only when a conversion needs them.
struct FmtLocale {
  bool loaded;
  const char *point;
  size_t pointLen;
  char separator[8];  // the thousands separator's first character; empty: no grouping
  size_t separatorLen;
  const char *grouping;
  int groupCount;   // leading group sizes that are in use
  bool groupRepeat;  // the last size repeats (the string ended, not CHAR_MAX)
};

void FmtLoadLocale(FmtLocale *locale);

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
  for (int i = 0, g; (g = FmtGroupSize(l, i)) > 0 && rest > static_cast<size_t>(g); i++, separators++) rest -= g;
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
  if (s->flags & kFlagMinus) p.after = width - length;
  else if ((s->flags & kFlagZero) && zeroAllowed) p.zeros = width - length;
  else p.before = width - length;
  return p;
}

// Writes a floating conversion (e f g E F G) of value under directive; false
// when memory for a very long expansion cannot be had.
struct FloatParts;
bool FmtFloat(FmtOut *o, const FmtSpec *directive, const FloatParts &value, FmtLocale *locale);
