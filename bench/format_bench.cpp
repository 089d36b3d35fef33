// The formatting engine (through Str_Snprintf) beside its peers on the same
// formats, arguments and 256-byte stack buffer: glibc snprintf (the
// "baseline"), {fmt}'s `{}` path ("fmt"), {fmt}'s printf path
// ("fmt_printf") and std::to_chars ("to_chars") where a case is plain
// enough for it.  The shared main prints the ratios against each peer; run
// with --benchmark_repetitions=N --benchmark_enable_random_interleaving=true
// for medians of interleaved runs.
#include <benchmark/benchmark.h>

#include "format_cases.h"

namespace {

using namespace format_cases;

void Run(benchmark::State &state, Peer peer) {
  Args a;
  char buffer[kBufferSize];
  for (auto _ : state) {
    benchmark::DoNotOptimize(a);
    benchmark::DoNotOptimize(peer(buffer, sizeof buffer, a));
    benchmark::ClobberMemory();
  }
}

#ifdef HYX_BENCH_WITH_FMT
#define FMT_PEERS(name, printfFormat, bracesFormat, ...)                           \
  BENCHMARK_CAPTURE(Run, name##_fmt, [](char *b, size_t n, const Args &a) {        \
    return FmtBraces(b, n, bracesFormat, __VA_ARGS__);                             \
  })->Name("Format/" #name "/fmt");                                                \
  BENCHMARK_CAPTURE(Run, name##_fmt_printf, [](char *b, size_t n, const Args &a) { \
    return FmtPrintf(b, n, printfFormat, __VA_ARGS__);                             \
  })->Name("Format/" #name "/fmt_printf");
#else
#define FMT_PEERS(...)
#endif

#define FORMAT_CASE(name, printfFormat, bracesFormat, ...)                       \
  BENCHMARK_CAPTURE(Run, name##_library, [](char *b, size_t n, const Args &a) {  \
    return Str_Snprintf(b, n, printfFormat, __VA_ARGS__);                        \
  })->Name("Format/" #name "/library");                                          \
  BENCHMARK_CAPTURE(Run, name##_baseline, [](char *b, size_t n, const Args &a) { \
    return snprintf(b, n, printfFormat, __VA_ARGS__);                            \
  })->Name("Format/" #name "/baseline");                                         \
  FMT_PEERS(name, printfFormat, bracesFormat, __VA_ARGS__)

HYX_FORMAT_CASES(FORMAT_CASE)

BENCHMARK_CAPTURE(Run, integer_to_chars, ToCharsInteger)->Name("Format/integer/to_chars");
BENCHMARK_CAPTURE(Run, g17_to_chars, ToCharsG17)->Name("Format/g17/to_chars");

}  // namespace
