// The formatting loop and the integer, character and string conversions.
// Literal text is scanned and copied in one pass.  Conversions without
// flags or width (%d %u %x %s %c %%, their l ll z j t forms, %n$ forms of
// them once the positional table is built, and floating conversions with
// at most a two-digit precision) take a short path with no directive
// parsing; integers are counted first and written once, straight into the
// output when it has room.  Positional formats read from a table built once.
#include "string/bsd_vsnprintf.h"

#include <cerrno>
#include <climits>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <cwchar>

#if defined(__SSE2__)
#include <emmintrin.h>
#elif defined(__aarch64__) && defined(__ARM_NEON)
#include <arm_neon.h>
#endif

#include "string/fmt_args.h"
#include "string/fmt_digits.h"
#include "string/fmt_internal.h"

namespace {

constexpr char kNull[] = "(null)";
constexpr char kLowerHex[] = "0123456789abcdef";
constexpr char kUpperHex[] = "0123456789ABCDEF";

// Digits of v in base 8, 10 or 16, written so they end at `end`.
char *PutDigitsBackward(char *end, uint64_t v, int base, bool upper) {
  if (base == 10) return PutDecimalBackward(end, v);
  char *p = end;
  const char *digits = upper ? kUpperHex : kLowerHex;
  unsigned shift = base == 16 ? 4 : 3, mask = base - 1;
  do {
    *--p = digits[v & mask];
    v >>= shift;
  } while (v != 0);
  return p;
}

struct IntFormat {
  int base;
  bool upper;
  bool hexPrefix;  // # adds 0x / 0X
};

// Hexadecimal digits of v written straight into the output.
void OutHex(FmtOut *o, uint64_t v, bool upper) {
  size_t n = (64 - __builtin_clzll(v | 1) + 3) / 4;
  const char *digits = upper ? kUpperHex : kLowerHex;
  char buffer[16];
  char *to = n <= OutRoom(o) ? o->cur : buffer;
  for (char *p = to + n; p != to; v >>= 4) *--p = digits[v & 15];
  if (to == o->cur)
    o->cur += n;
  else
    OutPutCut(o, buffer, n);
}

void PutInteger(FmtOut *o, const FmtSpec *s, uint64_t magnitude, char sign, IntFormat f, FmtLocale *l) {
  if (s->flags == 0 && s->width == 0 && s->prec < 0) {  // nothing around the digits
    if (f.base == 10 && (sign == 0 || sign == '-')) return OutDecimal(o, magnitude, sign == '-');
    if (f.base == 16) return OutHex(o, magnitude, f.upper);
  }
  char buf[24];
  char *end = buf + sizeof buf;
  char *digits = PutDigitsBackward(end, magnitude, f.base, f.upper);
  size_t n = end - digits;
  if (s->prec == 0 && magnitude == 0) n = 0;
  size_t zeros = s->prec > 0 && static_cast<size_t>(s->prec) > n ? s->prec - n : 0;
  if (f.base == 8 && (s->flags & kFlagAlt) && zeros == 0 && (n == 0 || digits[0] != '0')) zeros = 1;
  char prefix[3];
  size_t prefixLen = 0;
  if (sign) prefix[prefixLen++] = sign;
  if (f.hexPrefix && (s->flags & kFlagAlt) && magnitude != 0) {
    prefix[prefixLen++] = '0';
    prefix[prefixLen++] = f.upper ? 'X' : 'x';
  }
  bool grouped = false;
  size_t body = n;
  if ((s->flags & kFlagGroup) && f.base == 10) {
    FmtLoadGrouping(l);
    grouped = l->separatorLen > 0;
    if (grouped) body = FmtGroupedLength(n, l);
  }
  FmtPadding pad = FmtPad(s, prefixLen + zeros + body, s->prec < 0);
  OutPad(o, ' ', pad.before);
  OutPut(o, prefix, prefixLen);
  OutPad(o, '0', pad.zeros + zeros);
  if (grouped)
    FmtPutGrouped(o, n, l, [&](size_t a, size_t b) { OutPut(o, digits + a, b - a); });
  else
    OutPut(o, digits, n);
  OutPad(o, ' ', pad.after);
}

void PutText(FmtOut *o, const FmtSpec *s, const char *text, size_t n) {
  if (s->width == 0) return OutPut(o, text, n);
  FmtPadding pad = FmtPad(s, n, false);
  OutPad(o, ' ', pad.before);
  OutPut(o, text, n);
  OutPad(o, ' ', pad.after);
}

void PutString(FmtOut *o, const FmtSpec *s, const char *text) {
  if (text == nullptr) text = kNull;
  size_t n = s->prec >= 0 ? strnlen(text, s->prec) : strlen(text);
  PutText(o, s, text, n);
}

// Next code point of a 4-byte wide string; a surrogate pair is joined, a
// lone surrogate passes through, anything beyond Unicode becomes U+FFFD.
uint32_t NextCodePoint(const wchar_t *&w) {
  uint32_t u = static_cast<uint32_t>(*w++);
  if (u >= 0xD800 && u <= 0xDBFF) {
    uint32_t low = static_cast<uint32_t>(*w);
    if (low >= 0xDC00 && low <= 0xDFFF) {
      w++;
      return 0x10000 + ((u - 0xD800) << 10) + (low - 0xDC00);
    }
  }
  return u > 0x10FFFF ? 0xFFFD : u;
}

size_t EncodeUtf8(uint32_t c, char *out) {
  if (c < 0x80) {
    out[0] = static_cast<char>(c);
    return 1;
  }
  if (c < 0x800) {
    out[0] = static_cast<char>(0xC0 | (c >> 6));
    out[1] = static_cast<char>(0x80 | (c & 0x3F));
    return 2;
  }
  if (c < 0x10000) {
    out[0] = static_cast<char>(0xE0 | (c >> 12));
    out[1] = static_cast<char>(0x80 | ((c >> 6) & 0x3F));
    out[2] = static_cast<char>(0x80 | (c & 0x3F));
    return 3;
  }
  out[0] = static_cast<char>(0xF0 | (c >> 18));
  out[1] = static_cast<char>(0x80 | ((c >> 12) & 0x3F));
  out[2] = static_cast<char>(0x80 | ((c >> 6) & 0x3F));
  out[3] = static_cast<char>(0x80 | (c & 0x3F));
  return 4;
}

// UTF-8 bytes of the wide string that fit in `limit`, whole characters only.
size_t WideLength(const wchar_t *w, size_t limit) {
  size_t total = 0;
  char unit[4];
  while (*w != 0) {
    size_t n = EncodeUtf8(NextCodePoint(w), unit);
    if (total + n > limit) break;
    total += n;
  }
  return total;
}

void PutWideString(FmtOut *o, const FmtSpec *s, const wchar_t *w) {
  if (w == nullptr) return PutString(o, s, nullptr);
  size_t total = WideLength(w, s->prec >= 0 ? static_cast<size_t>(s->prec) : SIZE_MAX);
  FmtPadding pad = FmtPad(s, total, false);
  OutPad(o, ' ', pad.before);
  char unit[4];
  for (size_t done = 0; done < total;) {
    size_t n = EncodeUtf8(NextCodePoint(w), unit);
    OutPut(o, unit, n);
    done += n;
  }
  OutPad(o, ' ', pad.after);
}

bool PutWideChar(FmtOut *o, const FmtSpec *s, wint_t c) {
  char mb[MB_LEN_MAX];
  mbstate_t state{};
  size_t n = wcrtomb(mb, static_cast<wchar_t>(c), &state);
  if (n == static_cast<size_t>(-1)) return false;  // errno is EILSEQ
  PutText(o, s, mb, n);
  return true;
}

int64_t NarrowSigned(int64_t v, FmtLength length) {
  switch (length) {
    case FmtLength::kNone:
      return static_cast<int>(v);
    case FmtLength::kChar:
      return static_cast<signed char>(v);
    case FmtLength::kShort:
      return static_cast<short>(v);
    default:
      return v;
  }
}

uint64_t NarrowUnsigned(int64_t v, FmtLength length) {
  switch (length) {
    case FmtLength::kNone:
      return static_cast<unsigned>(v);
    case FmtLength::kChar:
      return static_cast<unsigned char>(v);
    case FmtLength::kShort:
      return static_cast<unsigned short>(v);
    default:
      return static_cast<uint64_t>(v);
  }
}

void StoreCount(void *target, FmtLength length, size_t count) {
  if (target == nullptr) return;
  switch (length) {
    case FmtLength::kChar:
      *static_cast<signed char *>(target) = static_cast<signed char>(count);
      break;
    case FmtLength::kShort:
      *static_cast<short *>(target) = static_cast<short>(count);
      break;
    case FmtLength::kNone:
      *static_cast<int *>(target) = static_cast<int>(count);
      break;
    default:
      *static_cast<int64_t *>(target) = static_cast<int64_t>(count);
      break;
  }
}

bool PutFloating(FmtOut *o, const FmtSpec *s, FmtArgs *a, FmtLocale *l) {
  FloatParts parts = s->length == FmtLength::kQuad ? FloatPartsOfLongDouble(FmtArgLongDouble(a, s->argPos))
                                                   : FloatPartsOfDouble(FmtArgDouble(a, s->argPos));
  if ((s->conv | 0x20) == 'a') {  // hexadecimal floating output is not offered
    PutText(o, s, &s->conv, 1);
    return true;
  }
  return FmtFloat(o, s, parts, l);
}

// Width and precision taken from arguments; false when a width is INT_MIN.
bool ResolveStars(FmtSpec *s, FmtArgs *a) {
  if (s->widthArg != 0) {
    int w = static_cast<int>(FmtArgInteger(a, s->widthArg > 0 ? s->widthArg : 0, ArgKind::kInt));
    if (w == INT_MIN) return false;
    if (w < 0) {
      s->flags |= kFlagMinus;
      w = -w;
    }
    s->width = w;
  }
  if (s->precArg != 0) {
    int p = static_cast<int>(FmtArgInteger(a, s->precArg > 0 ? s->precArg : 0, ArgKind::kInt));
    s->prec = p < 0 ? -1 : p;
  }
  return true;
}

bool Convert(FmtOut *o, FmtSpec *s, FmtArgs *a, FmtLocale *l) {
  if (s->overflow || !ResolveStars(s, a)) {
    errno = EOVERFLOW;
    return false;
  }
  // The argument table says which letters take a floating-point argument.
  ArgKind kind = FmtArgKind(s->conv, s->length);
  if (kind == ArgKind::kDouble || kind == ArgKind::kLongDouble) return PutFloating(o, s, a, l);
  switch (s->conv) {
    case 'd':
    case 'i': {
      int64_t v = NarrowSigned(FmtArgInteger(a, s->argPos, kind), s->length);
      char sign = v < 0 ? '-' : (s->flags & kFlagPlus) ? '+' : (s->flags & kFlagSpace) ? ' ' : 0;
      uint64_t magnitude = v < 0 ? 0 - static_cast<uint64_t>(v) : static_cast<uint64_t>(v);
      PutInteger(o, s, magnitude, sign, {10, false, false}, l);
      return true;
    }
    case 'u':
      PutInteger(o, s, NarrowUnsigned(FmtArgInteger(a, s->argPos, kind), s->length), 0, {10, false, false},
                 l);
      return true;
    case 'o':
      PutInteger(o, s, NarrowUnsigned(FmtArgInteger(a, s->argPos, kind), s->length), 0, {8, false, false}, l);
      return true;
    case 'x':
      PutInteger(o, s, NarrowUnsigned(FmtArgInteger(a, s->argPos, kind), s->length), 0, {16, false, true}, l);
      return true;
    case 'X':
      PutInteger(o, s, NarrowUnsigned(FmtArgInteger(a, s->argPos, kind), s->length), 0, {16, true, true}, l);
      return true;
    case 'p':
      PutInteger(o, s, reinterpret_cast<uintptr_t>(FmtArgPointer(a, s->argPos)), 0, {16, true, false}, l);
      return true;
    case 'c': {
      int64_t v = FmtArgInteger(a, s->argPos, kind);
      if (s->length == FmtLength::kLong) return PutWideChar(o, s, static_cast<wint_t>(v));
      char c = static_cast<char>(v);
      PutText(o, s, &c, 1);
      return true;
    }
    case 's':
      if (s->length == FmtLength::kLong)
        PutWideString(o, s, static_cast<const wchar_t *>(FmtArgPointer(a, s->argPos)));
      else
        PutString(o, s, static_cast<const char *>(FmtArgPointer(a, s->argPos)));
      return true;
    case 'n':
      StoreCount(FmtArgPointer(a, s->argPos), s->length, OutLength(o));
      return true;
    case '%':
      OutChar(o, '%');
      return true;
    default:
      PutText(o, s, &s->conv, 1);
      return true;  // unknown: the letter itself
  }
}

// What TryPlain returns when a conversion failed (errno is set).
const char kFailed[] = "";

bool IsFloatLetter(char c) {
  switch (c) {
    case 'f':
    case 'F':
    case 'e':
    case 'E':
    case 'g':
    case 'G':
      return true;
    default:
      return false;
  }
}

// Letters the short path takes after "n$" with no length modifier.
bool IsPlainPositional(char c) {
  switch (c) {
    case 'd':
    case 'i':
    case 'u':
    case 'x':
    case 'X':
    case 's':
    case 'c':
      return true;
    default:
      return false;
  }
}

// An integer conversion letter after a 64-bit length modifier.
const char *PutPlain64(FmtOut *o, const char *f, FmtArgs *a, int pos) {
  switch (f[0]) {
    case 'd':
    case 'i': {
      int64_t v = FmtArgInteger(a, pos, ArgKind::kInt64);
      OutDecimal(o, v < 0 ? 0 - static_cast<uint64_t>(v) : static_cast<uint64_t>(v), v < 0);
      return f + 1;
    }
    case 'u':
      OutDecimal(o, static_cast<uint64_t>(FmtArgInteger(a, pos, ArgKind::kInt64)), false);
      return f + 1;
    case 'x':
      OutHex(o, static_cast<uint64_t>(FmtArgInteger(a, pos, ArgKind::kInt64)), false);
      return f + 1;
    case 'X':
      OutHex(o, static_cast<uint64_t>(FmtArgInteger(a, pos, ArgKind::kInt64)), true);
      return f + 1;
    default:
      return nullptr;
  }
}

// The short path for a conversion with no flags and no width right after
// '%' (or after "n$" with a one-digit position once the table is built);
// returns the format position after it, null when the full path must
// handle it, or kFailed.
const char *TryPlain(FmtOut *o, const char *f, FmtArgs *a, FmtLocale *l) {
  int pos = 0;
  if (f[0] >= '1' && f[0] <= '9' && f[1] == '$') {
    if (a->table == nullptr) {
      // The first position named: the table is built here for the letters
      // taken below; anything else is left to the full path, which builds
      // it once the directive has parsed.
      if (!IsPlainPositional(f[2])) return nullptr;
      if (!FmtBuildArgTable(a)) return kFailed;
    }
    pos = f[0] - '0';
    f += 2;
  }
  switch (f[0]) {
    case 'd':
    case 'i': {
      int v = static_cast<int>(FmtArgInteger(a, pos, ArgKind::kInt));
      OutDecimal(o, v < 0 ? 0u - static_cast<unsigned>(v) : static_cast<unsigned>(v), v < 0);
      return f + 1;
    }
    case 'u':
      OutDecimal(o, static_cast<unsigned>(FmtArgInteger(a, pos, ArgKind::kInt)), false);
      return f + 1;
    case 'x':
      OutHex(o, static_cast<unsigned>(FmtArgInteger(a, pos, ArgKind::kInt)), false);
      return f + 1;
    case 'X':
      OutHex(o, static_cast<unsigned>(FmtArgInteger(a, pos, ArgKind::kInt)), true);
      return f + 1;
    case 's': {
      const char *text = static_cast<const char *>(FmtArgPointer(a, pos));
      if (text == nullptr) text = kNull;
      OutPut(o, text, strlen(text));
      return f + 1;
    }
    case 'c':
      OutChar(o, static_cast<char>(FmtArgInteger(a, pos, ArgKind::kInt)));
      return f + 1;
    case '%':
      if (pos != 0) return nullptr;
      OutChar(o, '%');
      return f + 1;
    case 'l':
      return PutPlain64(o, f + 1 + (f[1] == 'l'), a, pos);
    case 'z':
    case 'j':
    case 't':
      return PutPlain64(o, f + 1, a, pos);
    default:
      break;
  }
  // Floating conversions of a double with no precision or one of at most
  // two digits.
  int prec = -1;
  const char *conv = f;
  if (f[0] == '.' && f[1] >= '0' && f[1] <= '9') {
    prec = f[1] - '0';
    conv = f + 2;
    if (*conv >= '0' && *conv <= '9') prec = prec * 10 + (*conv++ - '0');
  }
  if (!IsFloatLetter(*conv)) return nullptr;
  FmtSpec directive{0, 0, prec, 0, 0, pos, FmtLength::kNone, *conv, false};
  return PutFloating(o, &directive, a, l) ? conv + 1 : kFailed;
}

// Literal text up to the next '%' or the end of the format, copied while it
// is scanned, sixteen bytes at a time (eight without vector registers).
// The loads are aligned: an aligned block holding a byte of the format
// never crosses a page, though it may reach past the format's NUL.  Those
// bytes are never used, so neither the address checker nor the race
// checker (to which they may look freed, or another thread's) is asked to
// look at them.  A block without '%' or NUL is stored whole; the piece
// before a stop is copied alone, so nothing past the text is ever written.
// The first block is taken from f on; the whole blocks after it are stored
// while they fit, with the sink's position and end kept in locals (the
// compiler would reload them after every store through a char pointer).
#define OVERREADS_FORMAT __attribute__((no_sanitize("address", "hwaddress", "thread")))
#if defined(__SSE2__)
OVERREADS_FORMAT inline unsigned StopMask(const char *block) {
  const __m128i v = _mm_load_si128(reinterpret_cast<const __m128i *>(block));
  return static_cast<unsigned>(_mm_movemask_epi8(
      _mm_or_si128(_mm_cmpeq_epi8(v, _mm_set1_epi8('%')), _mm_cmpeq_epi8(v, _mm_setzero_si128()))));
}
inline int FirstStop(unsigned hits) { return __builtin_ctz(hits); }
inline unsigned StopsFrom(unsigned hits, int skip) { return hits & (0xffffu << skip); }
OVERREADS_FORMAT inline void StoreBlock(char *to, const char *block) {
  _mm_storeu_si128(reinterpret_cast<__m128i *>(to), _mm_load_si128(reinterpret_cast<const __m128i *>(block)));
}
#define HYX_BLOCK_SCAN 1
#elif defined(__aarch64__) && defined(__ARM_NEON)
// Four mask bits per byte: the compare narrowed by a shift.
OVERREADS_FORMAT inline uint64_t StopMask(const char *block) {
  const uint8x16_t v = vld1q_u8(reinterpret_cast<const uint8_t *>(block));
  const uint8x16_t match = vorrq_u8(vceqq_u8(v, vdupq_n_u8('%')), vceqzq_u8(v));
  return vget_lane_u64(vreinterpret_u64_u8(vshrn_n_u16(vreinterpretq_u16_u8(match), 4)), 0);
}
inline int FirstStop(uint64_t hits) { return __builtin_ctzll(hits) >> 2; }
inline uint64_t StopsFrom(uint64_t hits, int skip) { return hits & (~uint64_t(0) << (4 * skip)); }
OVERREADS_FORMAT inline void StoreBlock(char *to, const char *block) {
  vst1q_u8(reinterpret_cast<uint8_t *>(to), vld1q_u8(reinterpret_cast<const uint8_t *>(block)));
}
#define HYX_BLOCK_SCAN 1
#endif

#ifdef HYX_BLOCK_SCAN
OVERREADS_FORMAT const char *CopyLiteral(FmtOut *o, const char *f) {
  const char *block = f - (reinterpret_cast<uintptr_t>(f) & 15);
  auto hits = StopsFrom(StopMask(block), static_cast<int>(f - block));
  if (hits != 0) {
    const char *stop = block + FirstStop(hits);
    OutPut(o, f, stop - f);
    return stop;
  }
  OutPut(o, f, block + 16 - f);
  char *cur = o->cur, *const end = o->end;
  for (block += 16; (hits = StopMask(block)) == 0; block += 16) {
    if (end - cur >= 16) {
      StoreBlock(cur, block);
      cur += 16;
    } else {
      o->cur = cur;
      OutPut(o, block, 16);
      cur = o->cur;
    }
  }
  o->cur = cur;
  const char *stop = block + FirstStop(hits);
  OutPut(o, block, stop - block);
  return stop;
}
#elif defined(__BYTE_ORDER__) && __BYTE_ORDER__ == __ORDER_LITTLE_ENDIAN__
// Eight bytes per word, a byte equal to '%' or NUL found by the carry
// trick; only the lowest flagged byte is exact, which is the one used.
OVERREADS_FORMAT const char *CopyLiteral(FmtOut *o, const char *f) {
  constexpr uint64_t kOnes = 0x0101010101010101ull, kHighs = 0x8080808080808080ull;
  constexpr uint64_t kPercents = kOnes * '%';
  const char *word = f - (reinterpret_cast<uintptr_t>(f) & 7);
  uint64_t before = (uint64_t(1) << (8 * (f - word))) - 1;  // bytes before f: 0xff, which matches nothing
  for (const char *p = f;; p = word += 8, before = 0) {
    uint64_t v;
    memcpy(&v, __builtin_assume_aligned(word, 8), 8);
    v |= before;
    uint64_t percent = v ^ kPercents;
    uint64_t hits = ((v - kOnes) & ~v & kHighs) | ((percent - kOnes) & ~percent & kHighs);
    if (hits != 0) {
      const char *stop = word + (__builtin_ctzll(hits) >> 3);
      OutPut(o, p, stop - p);
      return stop;
    }
    OutPut(o, p, word + 8 - p);
  }
}
#else
const char *CopyLiteral(FmtOut *o, const char *f) {
  const char *stop = strchrnul(f, '%');
  OutPut(o, f, stop - f);
  return stop;
}
#endif

bool Run(FmtOut *o, const char *f, FmtArgs *a) {
  FmtLocale locale;
  locale.point = nullptr;
  locale.groupingLoaded = false;
  for (;;) {
    f = CopyLiteral(o, f);
    if (*f == 0) return true;
    f++;
    if (const char *after = TryPlain(o, f, a, &locale)) {
      if (after == kFailed) return false;
      f = after;
      continue;
    }
    FmtSpec directive;
    f = FmtParseSpec(f, &directive);
    if (directive.conv == 0) return true;  // the format ends inside a directive
    if (a->table == nullptr && FmtUsesPositions(&directive) && !FmtBuildArgTable(a)) return false;
    if (!Convert(o, &directive, a, &locale)) return false;
  }
}

int Format(FmtOut *o, const char *format, va_list ap) {
  FmtArgs args;
  va_copy(args.ap, ap);
  va_copy(args.original, ap);
  args.format = format;
  args.table = nullptr;
  args.next = 1;
  args.count = 0;
  bool ok = Run(o, format, &args);
  if (args.table != nullptr) FmtReleaseArgTable(&args);
  va_end(args.original);
  va_end(args.ap);
  if (!ok) return -1;
  size_t length = OutLength(o);
  if (length > INT_MAX) {
    errno = EOVERFLOW;
    return -1;
  }
  return static_cast<int>(length);
}

// Formats once into a stack buffer; a longer text is formatted again into
// a block of the right size.
int FormatAllocated(char **outbuf, const char *format, va_list ap) {
  char first[256];
  FmtOut o{first, first + sizeof first - 1, first, 0};
  int r = Format(&o, format, ap);
  if (r < 0) return r;
  char *text = static_cast<char *>(malloc(static_cast<size_t>(r) + 1));
  if (text == nullptr) {
    errno = ENOMEM;
    return -1;
  }
  if (static_cast<size_t>(r) < sizeof first) {
    memcpy(text, first, r);
  } else {
    FmtOut again{text, text + r, text, 0};
    if (Format(&again, format, ap) != r) {  // the locale changed between the passes
      free(text);
      errno = EAGAIN;
      return -1;
    }
  }
  text[r] = '\0';
  *outbuf = text;
  return r;
}

}  // namespace

int bsd_vsnprintf(char **outbuf, size_t bufSize, const char *format, va_list ap) {
  if (*outbuf == nullptr) return FormatAllocated(outbuf, format, ap);
  char *buf = *outbuf;
  FmtOut o{buf, buf + (bufSize > 0 ? bufSize - 1 : 0), buf, 0};
  int r = Format(&o, format, ap);
  if (bufSize > 0) *o.cur = '\0';
  return r;
}
