// Runs one benchmark case a given number of times and nothing else, for
// counting instructions per call under callgrind (bench/instructions.sh):
//   call_counts CASE PEER CALLS      e.g. call_counts integer library 1000
//   call_counts list                 the cases and peers there are
// Instruction counts are stable where wall-clock times on a shared machine
// are not.
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "format_cases.h"
#include "hsi_params_cases.h"

namespace {

using namespace format_cases;

struct Case {
  const char *name;
  const char *peer;
  Peer run;
};

#ifdef HYX_BENCH_WITH_FMT
#define FMT_ROWS(name, printfFormat, bracesFormat, ...)                                          \
  {#name, "fmt",                                                                                 \
   [](char *b, size_t n, const Args &a) { return FmtBraces(b, n, bracesFormat, __VA_ARGS__); }}, \
      {#name, "fmt_printf",                                                                      \
       [](char *b, size_t n, const Args &a) { return FmtPrintf(b, n, printfFormat, __VA_ARGS__); }},
#else
#define FMT_ROWS(...)
#endif

#define ROWS(name, printfFormat, bracesFormat, ...)                                                 \
  {#name, "library",                                                                                \
   [](char *b, size_t n, const Args &a) { return Str_Snprintf(b, n, printfFormat, __VA_ARGS__); }}, \
      {#name, "baseline",                                                                           \
       [](char *b, size_t n, const Args &a) { return snprintf(b, n, printfFormat, __VA_ARGS__); }}, \
      FMT_ROWS(name, printfFormat, bracesFormat, __VA_ARGS__)

const Case kCases[] = {
    HYX_FORMAT_CASES(ROWS){"integer", "to_chars", ToCharsInteger},
    {"g17", "to_chars", ToCharsG17},
};

// Keeps the result alive without the compiler seeing through it.
volatile size_t gSink;

}  // namespace

int main(int argc, char **argv) {
  if (argc == 2 && strcmp(argv[1], "list") == 0) {
    for (const Case &c : kCases) printf("%s %s\n", c.name, c.peer);
    printf("params library\nparams baseline\n");
    return 0;
  }
  if (argc != 4) {
    fprintf(stderr, "usage: %s CASE PEER CALLS | list\n", argv[0]);
    return 2;
  }
  long calls = strtol(argv[3], nullptr, 10);
  if (strcmp(argv[1], "params") == 0) {
    const auto &texts = hsi_params_cases::Texts();
    bool list = strcmp(argv[2], "library") == 0;
    for (long i = 0; i < calls; i++)
      gSink = gSink + (list ? hsi_params_cases::BuildList(texts) : hsi_params_cases::BuildVector(texts));
    return 0;
  }
  for (const Case &c : kCases) {
    if (strcmp(c.name, argv[1]) != 0 || strcmp(c.peer, argv[2]) != 0) continue;
    Args a;
    char buffer[kBufferSize];
    Peer volatile run = c.run;  // called through a pointer, as the benchmark does
    for (long i = 0; i < calls; i++) gSink = gSink + run(buffer, sizeof buffer, a);
    return 0;
  }
  fprintf(stderr, "no case %s %s\n", argv[1], argv[2]);
  return 2;
}
