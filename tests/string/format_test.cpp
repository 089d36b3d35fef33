// The formatting engine.  C99 conversions are checked against the C
// library's snprintf on the same arguments (its results are correctly
// rounded); the extensions against the texts they must give.
#include <gtest/gtest.h>
#include <sys/mman.h>
#include <unistd.h>

#include <cerrno>
#include <cfloat>
#include <climits>
#include <cmath>
#include <cstdarg>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>

#include "string/bsd_vsnprintf.h"

namespace {

std::string Lib(const char *format, ...) {
  static char buffer[32768];
  char *out = buffer;
  va_list ap;
  va_start(ap, format);
  int r = bsd_vsnprintf(&out, sizeof buffer, format, ap);
  va_end(ap);
  EXPECT_EQ(r, static_cast<int>(strlen(buffer))) << format;
  return buffer;
}

std::string Libc(const char *format, ...) {
  static char buffer[32768];
  va_list ap;
  va_start(ap, format);
  vsnprintf(buffer, sizeof buffer, format, ap);
  va_end(ap);
  return buffer;
}

// The engine on a caller's buffer (or, with *out null, allocating).
int Engine(char **out, size_t size, const char *format, ...) {
  va_list ap;
  va_start(ap, format);
  int r = bsd_vsnprintf(out, size, format, ap);
  va_end(ap);
  return r;
}

#define EXPECT_AS_LIBC(format, ...) EXPECT_EQ(Lib(format, __VA_ARGS__), Libc(format, __VA_ARGS__)) << format

TEST(Format, IntegersAsC99) {
  EXPECT_AS_LIBC("%d %i %u %x %X %o", 0, -5, 7u, 255, 255, 8);
  EXPECT_AS_LIBC("%5d|%-5d|%05d|%+d|% d|%.3d|%.0d|%8.3d|%-+8.3d|%+.0d", 42, 42, -42, 42, 42, 7, 0, -5, 5, 0);
  EXPECT_AS_LIBC("%#x %#X %#o %#.0o %#5x %#08x %#.3o %#o", 31, 31, 8, 0, 0, 255, 8, 0);
  EXPECT_AS_LIBC("%hhd %hd %hhu %hu %hhx", 300, 70000, 300, 70000, -1);
  EXPECT_AS_LIBC("%ld %lld %jd %zd %td %lu %llx %zu", LONG_MIN, -2LL, INTMAX_MAX, static_cast<ssize_t>(-4),
                 static_cast<ptrdiff_t>(-5), ULONG_MAX, ULLONG_MAX, SIZE_MAX);
  EXPECT_AS_LIBC("%d %d %u", INT_MIN, INT_MAX, UINT_MAX);
  EXPECT_AS_LIBC("%0-8d|%-08d|% +d|%08.3d|%+05d", 1, 2, 3, 4, -5);
}

TEST(Format, CharactersAndStringsAsC99) {
  EXPECT_AS_LIBC("%s|%10s|%-10s|%.2s|%.0s|%c|%5c|%-3c|%%", "abc", "abc", "abc", "abc", "abc", 'x', 'y', 'z');
  EXPECT_AS_LIBC("%*d|%-*d|%*d|%.*d|%.*d", 5, 1, 5, 2, -5, 3, 3, 4, -3, 5);
  EXPECT_AS_LIBC("%s", "");
  // A precision bounds the read: no NUL is needed within it.
  const char unterminated[3] = {'a', 'b', 'c'};
  EXPECT_EQ(Lib("%.3s", unterminated), "abc");
}

TEST(Format, DoublesAreCorrectlyRounded) {
  EXPECT_AS_LIBC("%f %e %g %E %G %F", 3.14159, 3.14159, 3.14159, 1e-10, 1e20, 2.5);
  EXPECT_AS_LIBC("%.0f %.0f %.0f %.0f %.1f %.2f %.1f", 0.5, 1.5, 2.5, 3.5, 0.25, 0.125, 0.35);
  EXPECT_AS_LIBC("%f %f %f %f %e %g", 0.0, -0.0, 1e300, -1e-300, 0.0, -0.0);
  EXPECT_AS_LIBC("%.20e %.30f %.17g %.15g %.16g", 0.1, 0.1, 0.1, 0.3, 0.3);
  EXPECT_AS_LIBC("%g %g %g %g %g %g %g", 100000.0, 1000000.0, 0.0001, 0.00001, 123456789.0, 0.0, 1.0);
  EXPECT_AS_LIBC("%#g %#.0f %#.0e %#.3g %#g", 1.0, 3.0, 3.0, 100.0, 0.0);
  EXPECT_AS_LIBC("%10.3f|%-10.3f|%010.3f|%+.2e|% .3g|%010e|%-+12.4g", 3.14159, -3.14159, -3.14159, 12345.678,
                 0.5, 1.5, 2e-5);
  EXPECT_AS_LIBC("%.3e %.10g %g %e %.0e %.1e", DBL_MAX, DBL_MIN, 4.9e-324, 4.9e-324, 5.0, 0.25);
  EXPECT_AS_LIBC("%.1100f|%f", 4.9e-324, DBL_MAX);
  EXPECT_AS_LIBC("%g %g %.3g %.2g %.1g", 9.9999995, 999999.5, 99.95, 0.0995, 0.95);
  EXPECT_AS_LIBC("%.17g %.17g %.17g %.0f", 1e23, 5e-324, 1.7976931348623157e308, 1e22);
  EXPECT_AS_LIBC("%.2f %.2f %.3f %.12f", 1.005, 2.675, 1.0005, 1e-5);
}

TEST(Format, LongDoublesAreCorrectlyRounded) {
  EXPECT_AS_LIBC("%Lf %Le %Lg %.30Le %.25Lf", 1.0L / 3, 1e-4000L, 1e4000L, 1e-4000L, 2.5L);
  EXPECT_AS_LIBC("%Lf", LDBL_MAX);
  EXPECT_AS_LIBC("%.40Le %.40Lg %.5Le", LDBL_MIN, LDBL_TRUE_MIN, LDBL_TRUE_MIN);
  EXPECT_AS_LIBC("%.0Lf %.0Lf %.1Lf %.36Lg %.20Lf", 0.5L, 1.5L, 0.25L, 0.1L, 1e-10L);
  EXPECT_AS_LIBC("%qf %qe", 2.0L / 3, 2.0L / 3);  // q is L for floating conversions
  // The exact expansion of the smallest subnormal, every digit of it.
  EXPECT_AS_LIBC("%.16500Le", LDBL_TRUE_MIN);
}

TEST(Format, InfinitiesAndNaNsFollowTheLettersCase) {
  EXPECT_EQ(Lib("%f %F %e %E %g %G", INFINITY, INFINITY, -INFINITY, -INFINITY, NAN, NAN),
            "inf INF -inf -INF nan NAN");
  EXPECT_EQ(Lib("%5f|%-5f|%05f|%+f|% f|%Lf", INFINITY, INFINITY, -INFINITY, INFINITY, INFINITY,
                static_cast<long double>(-INFINITY)),
            "  inf|inf  | -inf|+inf| inf|-inf");
  EXPECT_EQ(Lib("%f %Lf", -NAN, static_cast<long double>(NAN)), "-nan nan");
}

TEST(Format, PositionalArguments) {
  EXPECT_EQ(Lib("%2$s %1$d", 5, "x"), "x 5");
  EXPECT_EQ(Lib("%3$.*2$f|%1$*2$d", 7, 4, 3.14159), "3.1416|   7");
  EXPECT_EQ(Lib("%1$s %1$s %2$c", "ab", 'z'), "ab ab z");
  EXPECT_AS_LIBC("%2$*1$d|%3$-*1$s|%4$.*5$e", 6, 42, "s", 1.5, 3);
  // Positions up to 40 go beyond the table kept on the stack.
  EXPECT_EQ(Lib("%40$d %1$d", 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15, 16, 17, 18, 19, 20, 21, 22,
                23, 24, 25, 26, 27, 28, 29, 30, 31, 32, 33, 34, 35, 36, 37, 38, 39, 40),
            "40 1");
  // Long doubles, doubles and 64-bit integers mixed in the table.
  EXPECT_EQ(Lib("%3$Lf %2$lld %1$g", 0.5, 1LL << 40, 2.25L), "2.250000 1099511627776 0.5");
  // Every kind the scan reads without parsing, beside one it must parse
  // (a length modifier, "%%"), with the table first built by a plain letter.
  EXPECT_AS_LIBC("%2$X %% %1$s|%4$lu|%3$c|%5$.1f|%6$i|%2$o", "a", 255u, 'q', 7ul, 2.5, -3);
  // A position beyond the table's reach refused from the short path too.
  char buffer[16];
  char *out = buffer;
  errno = 0;
  EXPECT_EQ(Engine(&out, sizeof buffer, "%5000$d", 1), -1);
  EXPECT_EQ(errno, EOVERFLOW);
  errno = 0;
  EXPECT_EQ(Engine(&out, sizeof buffer, "%1$d %5000$d", 1), -1);
  EXPECT_EQ(errno, EOVERFLOW);
}

TEST(Format, LengthModifierExtensions) {
  EXPECT_EQ(Lib("%qd %Ld %qx", -(1LL << 40), 1LL << 40, 0xffffffffffLL),
            "-1099511627776 1099511627776 ffffffffff");
  EXPECT_EQ(Lib("%Zu %Iu %Id", SIZE_MAX, SIZE_MAX, static_cast<ssize_t>(-3)),
            "18446744073709551615 18446744073709551615 -3");
  EXPECT_EQ(Lib("%I64d %I32d %I64x", INT64_MIN, -7, 0x1234567890LL), "-9223372036854775808 -7 1234567890");
  EXPECT_EQ(Lib("%D %O %U", -(1L << 40), 8L, ULONG_MAX), "-1099511627776 10 18446744073709551615");
}

TEST(Format, WideStringsBecomeUtf8) {
  EXPECT_EQ(Lib("%ls|%S", L"h\u00e9\u20ac\U0001F600", L"x"), "h\xC3\xA9\xE2\x82\xAC\xF0\x9F\x98\x80|x");
  // Surrogates: a pair joins, a lone one is kept as its 3-byte form.
  const wchar_t pair[] = {0xD83D, 0xDE00, 0};
  const wchar_t lone[] = {'a', 0xD800, 'b', 0xDC00, 0};
  const wchar_t beyond[] = {0x110000, 0};
  EXPECT_EQ(Lib("%ls|%ls|%ls", pair, lone, beyond),
            "\xF0\x9F\x98\x80|a\xED\xA0\x80"
            "b\xED\xB0\x80|\xEF\xBF\xBD");
  // A precision counts UTF-8 bytes and never splits a character.
  EXPECT_EQ(Lib("[%.3ls][%.2ls][%6.3ls][%-6ls]", L"\u00e9\u00e9", L"\u20ac", L"a\u00e9b", L"\u00e9"),
            "[\xC3\xA9][][   a\xC3\xA9][\xC3\xA9    ]");  // width counts bytes
  EXPECT_EQ(Lib("%ls|%C|%lc", static_cast<wchar_t *>(nullptr), L'A', L'b'), "(null)|A|b");
}

TEST(Format, WideCharacterTheLocaleCannotEncodeFails) {
  char buffer[32];
  char *out = buffer;
  EXPECT_EQ(Engine(&out, sizeof buffer, "ok %lc", static_cast<wint_t>(0)), 4);  // L'\0' is one NUL byte
  errno = 0;
  EXPECT_EQ(Engine(&out, sizeof buffer, "ab%lcde", static_cast<wint_t>(0x20AC)), -1);  // no euro sign in "C"
  EXPECT_EQ(errno, EILSEQ);
  EXPECT_STREQ(buffer, "ab");
}

TEST(Format, PointersNullsCountsAndUnknownLetters) {
  EXPECT_EQ(Lib("%p|%p|%8p", reinterpret_cast<void *>(0xabcdef12), nullptr, reinterpret_cast<void *>(0x1f)),
            "ABCDEF12|0|      1F");
  EXPECT_EQ(Lib("%s|%.3s|%8s", static_cast<char *>(nullptr), static_cast<char *>(nullptr),
                static_cast<char *>(nullptr)),
            "(null)|(nu|  (null)");
  int n = -1;
  signed char hh = -1;
  long long ll = -1;
  size_t z = 0;
  EXPECT_EQ(Lib("abc%n%5d%hhn|%lln%zn", &n, 1, &hh, &ll, &z), "abc    1|");
  EXPECT_EQ(n, 3);
  EXPECT_EQ(hh, 8);
  EXPECT_EQ(ll, 9);
  EXPECT_EQ(z, 9u);
  EXPECT_EQ(Lib("%n|", nullptr), "|");  // a null target is skipped
  EXPECT_EQ(Lib("%y|%3k|%-3w|%5%|tail%", 1), "y|  k|w  |%|tail");
  // a and A are not offered: the letter, and the argument is still consumed.
  EXPECT_EQ(Lib("%a %A %d", 1.0, 2.0, 7), "a A 7");
}

TEST(Format, AllocatingModeAndLimits) {
  std::string longText(1000, 'x');
  char *out = nullptr;
  EXPECT_EQ(Engine(&out, 0, "short %d", 7), 7);
  EXPECT_STREQ(out, "short 7");
  free(out);
  out = nullptr;
  EXPECT_EQ(Engine(&out, 0, "%s|%d", longText.c_str(), 1), 1002);
  EXPECT_EQ(std::string(out), longText + "|1");
  free(out);

  char small[4];
  out = small;
  EXPECT_EQ(Engine(&out, sizeof small, "%s", static_cast<char *>(nullptr)), 6);
  EXPECT_STREQ(small, "(nu");
  errno = 0;
  EXPECT_EQ(Engine(&out, sizeof small, "%99999999999d", 1), -1);
  EXPECT_EQ(errno, EOVERFLOW);
  errno = 0;
  EXPECT_EQ(Engine(&out, sizeof small, "%2000000000d%2000000000d", 1, 2), -1);  // longer than INT_MAX
  EXPECT_EQ(errno, EOVERFLOW);
  EXPECT_EQ(Engine(&out, sizeof small, "%*d", INT_MIN, 1), -1);
  EXPECT_EQ(Engine(&out, 0, "%d", 1), 1);  // a zero-size buffer is left alone
}

// The short paths write straight into the output: every cut of a text made
// of them must match the C library's, and literal text must be found at
// every alignment and length, including at a page's end.
TEST(Format, ShortPathsCutAndAlignLikeLibc) {
  const char *formats[] = {"%d items, %u left", "%s: %s", "%x%X%lx%llu%zd%%%c", "%.2f%% %g %.17e", "%ld %d"};
  for (const char *format : formats) {
    char ours[64], theirs[64];
    for (size_t size = 0; size <= sizeof ours; size++) {
      memset(ours, 0x5a, sizeof ours);
      memset(theirs, 0x5a, sizeof theirs);
      char *out = ours;
      int a, b;
      if (format[1] == 'd' && format[2] == ' ') {
        a = Engine(&out, size, format, INT_MIN, -1234567);
        b = snprintf(theirs, size, format, INT_MIN, -1234567);
      } else if (format[1] == 'd') {
        a = Engine(&out, size, format, 1000000000, 99u);
        b = snprintf(theirs, size, format, 1000000000, 99u);
      } else if (format[1] == 's') {
        a = Engine(&out, size, format, "HSI GetList", "handler overflow");
        b = snprintf(theirs, size, format, "HSI GetList", "handler overflow");
      } else if (format[1] == 'x') {
        a = Engine(&out, size, format, 0u, 0xABCDEFu, ~0ul, ~0ull, static_cast<ssize_t>(-9), 'q');
        b = snprintf(theirs, size, format, 0u, 0xABCDEFu, ~0ul, ~0ull, static_cast<ssize_t>(-9), 'q');
      } else if (format[1] == '.') {
        a = Engine(&out, size, format, 42.4242, 1e-5, 6.02214076e23);
        b = snprintf(theirs, size, format, 42.4242, 1e-5, 6.02214076e23);
      } else {
        a = Engine(&out, size, format, LONG_MIN, 0);
        b = snprintf(theirs, size, format, LONG_MIN, 0);
      }
      EXPECT_EQ(a, b) << format << " size " << size;
      EXPECT_EQ(memcmp(ours, theirs, sizeof ours), 0)
          << format << " size " << size;  // nothing past the NUL either
    }
  }
  // Decimal widths change at every power of ten.
  for (uint64_t p = 1; p != 0 && p <= UINT64_MAX / 10; p *= 10)
    for (uint64_t v : {p - 1, p, p + 1})
      EXPECT_AS_LIBC("%llu %lld %u %d", v, -static_cast<long long>(v), (unsigned)v, (int)v);
  EXPECT_AS_LIBC("%llu %lld %lld %x %lx", ULLONG_MAX, LLONG_MIN, LLONG_MAX, 0u, 1ul << 63);

  // Formats ending right before a page that is not mapped.
  long page = sysconf(_SC_PAGESIZE);
  char *map = static_cast<char *>(
      mmap(nullptr, 2 * page, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0));
  ASSERT_NE(map, MAP_FAILED);
  ASSERT_EQ(mprotect(map + page, page, PROT_NONE), 0);
  for (size_t length = 1; length <= 40; length++) {
    for (size_t percentAt = 0; percentAt <= length; percentAt++) {
      char *format = map + page - length - 1;
      for (size_t i = 0; i < length; i++) format[i] = static_cast<char>('a' + i % 26);
      if (percentAt + 1 < length) memcpy(format + percentAt, "%d", 2);
      format[length] = '\0';
      EXPECT_EQ(Lib(format, 7), Libc(format, 7)) << format;
    }
  }
  munmap(map, 2 * page);
}

}  // namespace
