// The formatting engine (through Str_Snprintf) beside glibc snprintf on the
// same formats, arguments and buffer.
#include <benchmark/benchmark.h>

#include <cstdio>

#include "string/str.h"

namespace {

struct Args {
  int count = 12345;
  unsigned left = 678;
  const char *name = "HSI GetList";
  const char *text = "handler overflow";
  double load = 42.4242;
};

template <typename Format>
void Run(benchmark::State &state, Format format) {
  Args a;
  char buffer[128];
  for (auto _ : state) {
    benchmark::DoNotOptimize(a);
    benchmark::DoNotOptimize(format(buffer, sizeof buffer, a));
    benchmark::ClobberMemory();
  }
}

#define FORMAT_CASE(name, fmt, ...)                                                                          \
  void name##Library(benchmark::State &s) {                                                                  \
    Run(s, [](char *b, size_t n, const Args &a) { return Str_Snprintf(b, n, fmt, __VA_ARGS__); });         \
  }                                                                                                          \
  void name##Baseline(benchmark::State &s) {                                                                 \
    Run(s, [](char *b, size_t n, const Args &a) { return snprintf(b, n, fmt, __VA_ARGS__); });             \
  }                                                                                                          \
  BENCHMARK(name##Library)->Name("Format/" #name "/library");                                              \
  BENCHMARK(name##Baseline)->Name("Format/" #name "/baseline");

FORMAT_CASE(integer, "%d items, %u left", a.count, a.left)
FORMAT_CASE(string, "%s: %s", a.name, a.text)
FORMAT_CASE(mixed, "%s: %d items at %.2f%%", a.name, a.count, a.load)
FORMAT_CASE(positional, "%2$s=%1$d (%3$s)", a.count, a.name, a.text)

}  // namespace
