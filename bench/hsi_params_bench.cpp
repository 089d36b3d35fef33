// Sixteen 32-byte strings appended to a list sized for them and read back,
// beside a std::vector<std::string> doing the same.  The counter
// "mallocs_per_list" is every malloc the list operations made, per list.
#include <benchmark/benchmark.h>

#include "alloc_fail.h"
#include "hsi_params_cases.h"

namespace {

using namespace hsi_params_cases;

void ParamList16x32_library(benchmark::State &state) {
  const auto &texts = Texts();
  uint64_t lists = 0, mallocs = 0;
  for (auto _ : state) {
    uint64_t before = AllocFail_Count();
    benchmark::DoNotOptimize(BuildList(texts));
    mallocs += AllocFail_Count() - before;
    lists++;
  }
  state.counters["mallocs_per_list"] = static_cast<double>(mallocs) / static_cast<double>(lists);
  state.SetItemsProcessed(state.iterations() * kStrings * 2);  // one append and one read per string
}

void ParamList16x32_baseline(benchmark::State &state) {
  const auto &texts = Texts();
  for (auto _ : state) benchmark::DoNotOptimize(BuildVector(texts));
  state.SetItemsProcessed(state.iterations() * kStrings * 2);
}

BENCHMARK(ParamList16x32_library)->Name("ParamList16x32/library");
BENCHMARK(ParamList16x32_baseline)->Name("ParamList16x32/baseline");

}  // namespace
