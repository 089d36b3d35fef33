// The common get path (a packed list, a static node) beside one trapped
// kernel call with no work behind it.  Run with HYXSIM_PROFILE naming a host
// profile that holds the NIC (examples/hosts/hypervisor.json).
#include <benchmark/benchmark.h>

#include <vector>

#include "alloc_fail.h"
#include "hyxsysinfo/hsiCallsUser.h"
#include "hyxsysinfo/hsiTables.h"
#include "hyxsysinfo/kernelCall.h"

namespace {

void PackedGet(benchmark::State &state) {
  HsiParamList nic = HsiParamList_AllocSized(HSI_PARAMLIST_VALUES, 1, 64, 0);
  HsiParamList_AddString(nic, "vmnic0");
  std::vector<char> buffer(hsiTables.nodes[HSI_NODE_net_pNics_properties].getSize);
  uint64_t before = AllocFail_Count();
  for (auto _ : state) {
    HYX_ReturnStatus status = Hsi_Get(HSI_NODE_net_pNics_properties, nic, buffer.data(), buffer.size());
    if (status != HYX_OK) state.SkipWithError("the host has no vmnic0: set HYXSIM_PROFILE");
  }
  state.counters["mallocs_per_get"] =
      static_cast<double>(AllocFail_Count() - before) / static_cast<double>(state.iterations());
  HsiParamList_Free(nic);
}

// A call number the simulated kernel answers without doing anything.
void EmptyTrappedCall(benchmark::State &state) {
  for (auto _ : state) benchmark::DoNotOptimize(Kernel_Call(uint32_t{3999}));
}

BENCHMARK(PackedGet)->Name("HsiGet/library");
BENCHMARK(EmptyTrappedCall)->Name("HsiGet/baseline");

}  // namespace
