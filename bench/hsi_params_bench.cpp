// Sixteen 32-byte strings appended to a list sized for them and read back,
// beside a std::vector<std::string> doing the same.  The counter
// "mallocs_per_list" is every malloc the list operations made, per list.
#include <benchmark/benchmark.h>

#include <cstring>
#include <string>
#include <vector>

#include "alloc_fail.h"
#include "hyxsysinfo/hsiParams.h"

namespace {

constexpr int kStrings = 16;
constexpr size_t kLength = 32;

const std::vector<std::string> &Texts() {
  static const std::vector<std::string> texts = [] {
    std::vector<std::string> t;
    for (int i = 0; i < kStrings; i++) t.push_back(std::string(kLength - 2, static_cast<char>('a' + i)) + "%d");
    return t;
  }();
  return texts;
}

void ParamList16x32_library(benchmark::State &state) {
  const auto &texts = Texts();
  uint64_t lists = 0, mallocs = 0;
  for (auto _ : state) {
    uint64_t before = AllocFail_Count();
    HsiParamList list = HsiParamList_AllocSized(HSI_PARAMLIST_INSTANCE, kStrings, kStrings * (kLength + 1), 0);
    for (const std::string &t : texts) HsiParamList_AddString(list, t.c_str());
    size_t total = 0;
    for (uint32_t i = 0; i < kStrings; i++) {
      const char *s;
      HsiParamList_GetString(list, i, &s);
      total += s[kLength - 1];
    }
    benchmark::DoNotOptimize(total);
    HsiParamList_Free(list);
    mallocs += AllocFail_Count() - before;
    lists++;
  }
  state.counters["mallocs_per_list"] = static_cast<double>(mallocs) / static_cast<double>(lists);
  state.SetItemsProcessed(state.iterations() * kStrings * 2);  // one append and one read per string
}

void ParamList16x32_baseline(benchmark::State &state) {
  const auto &texts = Texts();
  for (auto _ : state) {
    std::vector<std::string> list;
    list.reserve(kStrings);
    for (const std::string &t : texts) list.emplace_back(t.c_str());
    size_t total = 0;
    for (uint32_t i = 0; i < kStrings; i++) total += list[i].c_str()[kLength - 1];
    benchmark::DoNotOptimize(total);
  }
  state.SetItemsProcessed(state.iterations() * kStrings * 2);
}

BENCHMARK(ParamList16x32_library)->Name("ParamList16x32/library");
BENCHMARK(ParamList16x32_baseline)->Name("ParamList16x32/baseline");

}  // namespace
