// Differential fuzzer: one conversion directive with random flags,
// width, precision, length and value (floats of every bit pattern included),
// between random literal text, formatted by the engine and by the C
// library's vsnprintf into buffers of the same random size.  Any difference
// in the result or the bytes written aborts.  Only the C99 subset both
// define is generated: no %p, %n, %a, wide conversions or extensions.
#include <fuzzer/FuzzedDataProvider.h>

#include <cfloat>
#include <cstdarg>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "string/bsd_vsnprintf.h"

namespace {

struct Case {
  std::string format;
  size_t size;
};

int Engine(char *buffer, size_t size, const char *format, ...) {
  va_list ap;
  va_start(ap, format);
  int r = bsd_vsnprintf(&buffer, size, format, ap);
  va_end(ap);
  return r;
}

template <typename... Args>
void Compare(const Case &c, Args... args) {
  static char ours[4096], theirs[4096];
  memset(ours, 0x5a, c.size + 1);
  memset(theirs, 0x5a, c.size + 1);
  int a = Engine(ours, c.size, c.format.c_str(), args...);
  int b = snprintf(theirs, c.size, c.format.c_str(), args...);
  size_t written = c.size == 0 ? 0 : (static_cast<size_t>(b) < c.size ? b + 1 : c.size);
  if (a != b || (b >= 0 && memcmp(ours, theirs, written) != 0)) {
    fprintf(stderr, "format \"%s\" size %zu: engine %d \"%.*s\", libc %d \"%.*s\"\n", c.format.c_str(),
            c.size, a, static_cast<int>(written), ours, b, static_cast<int>(written), theirs);
    abort();
  }
}

std::string Literal(FuzzedDataProvider &in) {
  std::string s = in.ConsumeRandomLengthString(12);
  std::string out;
  for (char ch : s) {
    if (ch == '%')
      out += "%%";
    else if (ch != 0)
      out += ch;
  }
  return out;
}

// A long double from raw bits.  x87 extended: the explicit integer bit must
// agree with the exponent (pseudo-denormals and unnormals are not values).
// binary128 (aarch64): the bits fill the 15-bit exponent and the top of the
// fraction, the rest of it stays 0; every pattern is a value.
long double LongDoubleFrom(uint64_t mantissa, uint16_t signExponent) {
  long double v = 0;
#if LDBL_MANT_DIG == 64
  bool normal = (signExponent & 0x7fff) != 0;
  mantissa = normal ? (mantissa | (1ull << 63)) : (mantissa & ~(1ull << 63));
  memcpy(&v, &mantissa, 8);
  memcpy(reinterpret_cast<char *>(&v) + 8, &signExponent, 2);
#elif LDBL_MANT_DIG == 113
  uint64_t halves[2] = {mantissa << 48, uint64_t{signExponent} << 48 | mantissa >> 16};
  memcpy(&v, halves, sizeof halves);
#else
  uint64_t bits = mantissa ^ uint64_t { signExponent } << 48;
  memcpy(&v, &bits, sizeof bits);
#endif
  return v;
}

template <typename... Stars>
void CompareValue(FuzzedDataProvider &in, const Case &c, char conv, const std::string &length,
                  Stars... stars) {
  switch (conv) {
    case 'd':
    case 'i':
    case 'o':
    case 'u':
    case 'x':
    case 'X': {
      long long v = in.ConsumeIntegral<long long>();
      if (length.empty() || length == "h" || length == "hh")
        Compare(c, stars..., static_cast<int>(v));
      else
        Compare(c, stars..., v);
      return;
    }
    case 'c':
      Compare(c, stars..., static_cast<int>(in.ConsumeIntegral<unsigned char>()));
      return;
    case 's': {
      std::string s = in.ConsumeRandomLengthString(40);
      Compare(c, stars..., s.c_str());
      return;
    }
    case '%':
      Compare(c, stars...);
      return;
    default:
      if (length == "L") {
        uint64_t m = in.ConsumeIntegral<uint64_t>();
        Compare(c, stars..., LongDoubleFrom(m, in.ConsumeIntegral<uint16_t>()));
      } else {
        uint64_t bits = in.ConsumeIntegral<uint64_t>();
        double d;
        memcpy(&d, &bits, sizeof d);
        Compare(c, stars..., d);
      }
  }
}

// Flags each conversion defines in C99.
const char *FlagsFor(char conv) {
  switch (conv) {
    case 'd':
    case 'i':
      return "-+ 0";
    case 'u':
      return "-0";
    case 'c':
    case 's':
    case '%':
      return "-";
    default:
      return "-+ #0";
  }
}

const char *LengthFor(FuzzedDataProvider &in, char conv) {
  static const char *const kIntLengths[] = {"", "hh", "h", "l", "ll", "j", "z", "t"};
  if (strchr("diouxX", conv) != nullptr) return kIntLengths[in.ConsumeIntegralInRange(0, 7)];
  if (strchr("fFeEgG", conv) != nullptr) return in.ConsumeBool() ? "L" : "";
  return "";
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  FuzzedDataProvider in(data, size);
  static const char kConversions[] = "diouxXcsfFeEgG%";
  char conv = kConversions[in.ConsumeIntegralInRange<size_t>(0, sizeof kConversions - 2)];
  Case c{Literal(in) + "%", in.ConsumeIntegralInRange<size_t>(0, 300)};
  const char *flags = FlagsFor(conv);
  for (size_t i = 0, n = strlen(flags); i < n; i++)
    if (in.ConsumeBool()) c.format += flags[i];
  int stars[2], count = 0;
  int widthKind = in.ConsumeIntegralInRange(0, 2);
  if (widthKind == 1) c.format += std::to_string(in.ConsumeIntegralInRange(1, 60));
  if (widthKind == 2) {
    c.format += '*';
    stars[count++] = in.ConsumeIntegralInRange(-60, 60);
  }
  if (conv != 'c' && conv != '%') {
    int precKind = in.ConsumeIntegralInRange(0, 3);
    if (precKind == 1) c.format += ".";
    if (precKind == 2) c.format += "." + std::to_string(in.ConsumeIntegralInRange(0, 80));
    if (precKind == 3) {
      c.format += ".*";
      stars[count++] = in.ConsumeIntegralInRange(-5, 80);
    }
  }
  std::string length = LengthFor(in, conv);
  c.format += length;
  c.format += conv;
  c.format += Literal(in);
  if (count == 0)
    CompareValue(in, c, conv, length);
  else if (count == 1)
    CompareValue(in, c, conv, length, stars[0]);
  else
    CompareValue(in, c, conv, length, stars[0], stars[1]);
  return 0;
}
