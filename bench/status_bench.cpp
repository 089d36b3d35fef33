// HyxuserStatus_CodeToString beside glibc snprintf writing the same text into
// the same buffer.
#include <benchmark/benchmark.h>

#include <cstdio>
#include <cstring>

#include "hyxuser/hyxuser.h"

namespace {

constexpr HYX_ReturnStatus kKernelCode = HYX_HSI_LIST_OVERFLOW;
constexpr HYX_ReturnStatus kErrnoCode = HYX_ERRNO_STATUS_BASE + 2;  // strerror(2)
constexpr HYX_ReturnStatus kUnknownCode = HYX_FAILURE;

void Library(benchmark::State &state, HYX_ReturnStatus code) {
  char buffer[128];
  int length;
  for (auto _ : state) {
    benchmark::DoNotOptimize(HyxuserStatus_CodeToString(code, buffer, sizeof buffer, &length));
    benchmark::ClobberMemory();
  }
}

void SnprintfText(benchmark::State &state, const char *text) {
  char buffer[128];
  for (auto _ : state) {
    benchmark::DoNotOptimize(text);  // keeps the compiler from turning snprintf into memcpy
    benchmark::DoNotOptimize(snprintf(buffer, sizeof buffer, "%s", text));
    benchmark::ClobberMemory();
  }
}

void SnprintfErrno(benchmark::State &state) {
  char buffer[128];
  for (auto _ : state) {
    benchmark::DoNotOptimize(snprintf(buffer, sizeof buffer, "%s", strerror(2)));
    benchmark::ClobberMemory();
  }
}

void SnprintfUnknown(benchmark::State &state) {
  char buffer[128];
  HYX_ReturnStatus code = kUnknownCode;
  benchmark::DoNotOptimize(code);
  for (auto _ : state) {
    benchmark::DoNotOptimize(snprintf(buffer, sizeof buffer, "Unknown error status: %#x", code));
    benchmark::ClobberMemory();
  }
}

BENCHMARK_CAPTURE(Library, kernel, kKernelCode)->Name("CodeToString/kernel/library");
BENCHMARK_CAPTURE(SnprintfText, kernel, "HSI GetList handler overflow")->Name("CodeToString/kernel/baseline");
BENCHMARK_CAPTURE(Library, errno, kErrnoCode)->Name("CodeToString/errno/library");
BENCHMARK(SnprintfErrno)->Name("CodeToString/errno/baseline");
BENCHMARK_CAPTURE(Library, unknown, kUnknownCode)->Name("CodeToString/unknown/library");
BENCHMARK(SnprintfUnknown)->Name("CodeToString/unknown/baseline");

}  // namespace
