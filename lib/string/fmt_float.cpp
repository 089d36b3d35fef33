// Floating conversions: e, f and g (and upper case) laid out from the exact
// digits of fmt_digits, with the locale's decimal point and grouping.
#include <cerrno>
#include <climits>
#include <cstdlib>

#include "string/fmt_digits.h"
#include "string/fmt_internal.h"

namespace {

constexpr int kStackDigits = 1424;  // enough for every double

// Writes digits [from, to) of d, where positions before 0 and from count on
// are zeros.
void PutDigits(FmtOut *o, const DecimalDigits &d, long from, long to) {
  if (from >= to) return;
  if (from < 0) {
    long zeros = (to < 0 ? to : 0) - from;
    OutPad(o, '0', static_cast<size_t>(zeros));
    from += zeros;
  }
  long stored = from < d.count ? (to < d.count ? to : d.count) : from;
  if (stored > from) OutPut(o, d.digits + from, static_cast<size_t>(stored - from));
  if (to > stored) OutPad(o, '0', static_cast<size_t>(to - stored));
}

char SignOf(const FmtSpec *s, bool negative) {
  if (negative) return '-';
  if (s->flags & kFlagPlus) return '+';
  return (s->flags & kFlagSpace) ? ' ' : 0;
}

void PutPadded(FmtOut *o, const FmtSpec *s, char sign, const char *text, size_t n) {
  FmtPadding pad = FmtPad(s, n + (sign != 0), false);
  OutPad(o, ' ', pad.before);
  if (sign) OutChar(o, sign);
  OutPut(o, text, n);
  OutPad(o, ' ', pad.after);
}

// [-]ddd.ddd with `fraction` digits after the point.
void PutFixed(FmtOut *o, const FmtSpec *s, char sign, const DecimalDigits &d, long fraction,
              const FmtLocale *l) {
  long intLen = d.decpt > 0 ? d.decpt : 1;
  bool grouped = (s->flags & kFlagGroup) && l->separatorLen > 0;
  size_t intText = grouped ? FmtGroupedLength(intLen, l) : intLen;
  bool point = fraction > 0 || (s->flags & kFlagAlt);
  size_t length = (sign != 0) + intText + (point ? l->pointLen : 0) + fraction;
  FmtPadding pad = FmtPad(s, length, true);
  OutPad(o, ' ', pad.before);
  if (sign) OutChar(o, sign);
  OutPad(o, '0', pad.zeros);
  if (d.decpt <= 0)
    OutChar(o, '0');
  else if (grouped)
    FmtPutGrouped(o, intLen, l, [&](size_t a, size_t b) { PutDigits(o, d, a, b); });
  else
    PutDigits(o, d, 0, intLen);
  if (point) OutPut(o, l->point, l->pointLen);
  PutDigits(o, d, d.decpt, d.decpt + fraction);
  OutPad(o, ' ', pad.after);
}

// [-]d.ddde+dd with `fraction` digits after the point.
void PutExponent(FmtOut *o, const FmtSpec *s, char sign, const DecimalDigits &d, long fraction, bool upper,
                 const FmtLocale *l) {
  int exponent = d.count == 0 ? 0 : d.decpt - 1;
  unsigned magnitude = exponent < 0 ? -exponent : exponent;
  char expText[16];
  int expLen =
      magnitude < 10 ? (expText[0] = '0', 1 + PutU64(expText + 1, magnitude)) : PutU64(expText, magnitude);
  if (magnitude == 0) expText[expLen++] = '0';
  bool point = fraction > 0 || (s->flags & kFlagAlt);
  size_t length = (sign != 0) + 1 + (point ? l->pointLen : 0) + fraction + 2 + expLen;
  FmtPadding pad = FmtPad(s, length, true);
  OutPad(o, ' ', pad.before);
  if (sign) OutChar(o, sign);
  OutPad(o, '0', pad.zeros);
  PutDigits(o, d, 0, 1);
  if (point) OutPut(o, l->point, l->pointLen);
  PutDigits(o, d, 1, 1 + fraction);
  OutChar(o, upper ? 'E' : 'e');
  OutChar(o, exponent < 0 ? '-' : '+');
  for (int i = 0; i < expLen; i++) OutChar(o, expText[i]);
  OutPad(o, ' ', pad.after);
}

// Digits after the point that %g shows without '#': the stored ones only.
long Trimmed(long shown, long stored) { return stored < shown ? (stored > 0 ? stored : 0) : shown; }

void PutGeneral(FmtOut *o, const FmtSpec *s, char sign, const DecimalDigits &d, int prec, bool upper,
                const FmtLocale *l) {
  int exponent = d.count == 0 ? 0 : d.decpt - 1;
  bool alt = s->flags & kFlagAlt;
  if (prec > exponent && exponent >= -4) {
    long fraction = prec - 1 - exponent;
    PutFixed(o, s, sign, d, alt ? fraction : Trimmed(fraction, d.count - d.decpt), l);
  } else {
    long fraction = prec - 1;
    PutExponent(o, s, sign, d, alt ? fraction : Trimmed(fraction, d.count - 1), upper, l);
  }
}

}  // namespace

bool FmtFloat(FmtOut *o, const FmtSpec *s, const FloatParts &v, FmtLocale *l) {
  bool upper = s->conv >= 'A' && s->conv <= 'Z';
  char kind = static_cast<char>(s->conv | 0x20);
  char sign = SignOf(s, v.negative);
  if (v.cls == FloatClass::kInfinite || v.cls == FloatClass::kNaN) {
    const char *text = v.cls == FloatClass::kInfinite ? (upper ? "INF" : "inf") : (upper ? "NAN" : "nan");
    PutPadded(o, s, sign, text, 3);
    return true;
  }
  FmtLoadPoint(l);
  if (s->flags & kFlagGroup) FmtLoadGrouping(l);
  int prec = s->prec < 0 ? 6 : s->prec;
  if (kind == 'g' && prec == 0) prec = 1;
  DigitMode mode = kind == 'f' ? DigitMode::kAfterPoint : DigitMode::kSignificant;
  int wanted = kind == 'e' ? (prec == INT_MAX ? prec : prec + 1) : prec;
  char stack[kStackDigits];
  char *heap = nullptr;
  DecimalDigits d{"", 0, 1};
  if (v.cls == FloatClass::kFinite) {
    char *buffer = stack;
    int size = DigitBufferSize(v, mode, wanted);
    if (size > kStackDigits) {
      buffer = heap = static_cast<char *>(malloc(size));
      if (heap == nullptr) {
        errno = ENOMEM;
        return false;
      }
    }
    d = FloatDigits(v, mode, wanted, buffer);
  }
  if (kind == 'f')
    PutFixed(o, s, sign, d, prec, l);
  else if (kind == 'e')
    PutExponent(o, s, sign, d, prec, upper, l);
  else
    PutGeneral(o, s, sign, d, prec, upper, l);
  free(heap);
  return true;
}
