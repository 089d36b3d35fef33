// The formatting cases the engine is measured on, each written once per
// peer: the engine (Str_Snprintf), glibc snprintf, {fmt}'s own `{}` path
// (format_to_n with a runtime format string), {fmt}'s printf path (bounded
// the same way, into the caller's buffer) and, where the case is plain
// enough, std::to_chars with the literal text copied around it.  Every peer
// writes the same text into the same caller buffer (a NUL is added where
// the peer does not add one).
#pragma once

#include <charconv>
#include <cstddef>
#include <cstdio>
#include <cstring>

#ifdef HYX_BENCH_WITH_FMT
#include <fmt/format.h>
#include <fmt/printf.h>
#endif

#include "string/str.h"

namespace format_cases {

constexpr size_t kBufferSize = 256;

struct Args {
  int count = 12345;
  unsigned left = 678;
  const char *name = "HSI GetList";
  const char *text = "handler overflow";
  double load = 42.4242;
  double values[4] = {0.1, 42.4242, 6.02214076e23, -1.0 / 3.0};
  // 100 bytes of argument behind 100 bytes of literal text.
  const char *longText =
      "0123456789abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789"
      "abcdefghijklmnopqrstuvwxyz.!";
};

#define HYX_LONG_LITERAL                                                                   \
  "The quick brown fox jumps over the lazy dog; pack my box with five dozen liquor jugs. " \
  "Sphinx of q: "

using Peer = int (*)(char *, size_t, const Args &);

#ifdef HYX_BENCH_WITH_FMT
// {fmt}'s `{}` path into the caller's buffer, cut like snprintf.
template <typename... T>
int FmtBraces(char *b, size_t n, fmt::string_view format, const T &...args) {
  auto r = fmt::vformat_to_n(b, n - 1, format, fmt::make_format_args(args...));
  *r.out = '\0';
  return static_cast<int>(r.size);
}

// {fmt}'s printf path into the caller's buffer through the same bounded
// buffer format_to_n uses (no allocation).
template <typename... T>
int FmtPrintf(char *b, size_t n, fmt::string_view format, const T &...args) {
  fmt::detail::iterator_buffer<char *, char, fmt::detail::fixed_buffer_traits> out(b, n - 1);
  fmt::detail::vprintf(out, format, fmt::printf_args(fmt::make_printf_args(args...)));
  *out.out() = '\0';
  return static_cast<int>(out.count());
}
#endif

// Cases: name, printf format, `{}` format, arguments.
#define HYX_FORMAT_CASES(X)                                                                      \
  X(integer, "%d items, %u left", "{} items, {} left", a.count, a.left)                          \
  X(string, "%s: %s", "{}: {}", a.name, a.text)                                                  \
  X(mixed, "%s: %d items at %.2f%%", "{}: {} items at {:.2f}%", a.name, a.count, a.load)         \
  X(positional, "%2$s=%1$d (%3$s)", "{1}={0} ({2})", a.count, a.name, a.text)                    \
  X(g17, "%.17g %.17g %.17g %.17g", "{:.17g} {:.17g} {:.17g} {:.17g}", a.values[0], a.values[1], \
    a.values[2], a.values[3])                                                                    \
  X(longstring, HYX_LONG_LITERAL "%s", HYX_LONG_LITERAL "{}", a.longText)

// std::to_chars with the literal text copied around it.
inline int ToCharsInteger(char *b, size_t n, const Args &a) {
  char *p = b, *end = b + n - 1;
  p = std::to_chars(p, end, a.count).ptr;
  memcpy(p, " items, ", 8);
  p = std::to_chars(p + 8, end, a.left).ptr;
  memcpy(p, " left", 5);
  p += 5;
  *p = '\0';
  return static_cast<int>(p - b);
}

inline int ToCharsG17(char *b, size_t n, const Args &a) {
  char *p = b, *end = b + n - 1;
  for (int i = 0; i < 4; i++) {
    if (i > 0) *p++ = ' ';
    p = std::to_chars(p, end, a.values[i], std::chars_format::general, 17).ptr;
  }
  *p = '\0';
  return static_cast<int>(p - b);
}

}  // namespace format_cases
