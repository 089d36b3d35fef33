// The information cache beside the kernel it stands in for.  A snapshot of
// the whole static tree is made with the shared writer (every node with its
// type, one recorded get per leaf and one list per instance node, the NIC
// properties of vmnic0 as the host answers them); then
//   HsiCacheGet:  a get of vmnic0's properties from the snapshot (library)
//                 beside the same get from the simulated kernel (baseline);
//   HsiCacheInit: reading, checking and indexing the snapshot, and cleaning
//                 up (library), beside mapping it and reading every byte
//                 once (baseline).
// Run with HYXSIM_PROFILE naming a host that has vmnic0
// (examples/hosts/hypervisor.json).
#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <sys/mman.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "hsiCacheWriter.h"
#include "hyxsysinfo/hsiCacheUser.h"
#include "hyxsysinfo/hsiCallsUser.h"
#include "hyxsysinfo/hsiTables.h"

namespace {

using hsicache::Param;

constexpr uint32_t kMaxRecordedValue = 1 << 16;

// One instance value per instance node from node up to the root (node's
// own left out for a list).
std::vector<Param> InstanceArgs(HsiNodeID node, bool forList) {
  std::vector<Param> args;
  for (HsiNodeID at = node; at != 0 && at < hsiTables.nodeCount; at = hsiTables.nodes[at].parent) {
    const HsiNodeDef &def = hsiTables.nodes[at];
    if (!def.instance || (forList && at == node)) continue;
    args.insert(args.begin(), def.integerKey ? Param::Int(1) : Param::String("instance"));
  }
  return args;
}

// Snapshot of the whole tree, written once to a temporary file.
struct Snapshot {
  std::string path;
  size_t size = 0;

  Snapshot() {
    uint32_t propertiesLength = hsiTables.nodes[HSI_NODE_net_pNics_properties].getSize;
    std::vector<uint8_t> properties(propertiesLength);
    HsiParamList nic = HsiParamList_AllocSized(HSI_PARAMLIST_INSTANCE, 1, 64, 0);
    HsiParamList_AddString(nic, "vmnic0");
    HYX_ReturnStatus live = Hsi_Get(HSI_NODE_net_pNics_properties, nic, properties.data(), propertiesLength);
    HsiParamList_Free(nic);
    if (live != HYX_OK) return;

    hsicache::Writer writer;
    size_t kernel = writer.AddModule(0, "kernel", static_cast<int32_t>(hsiTables.nodeCount));
    for (HsiNodeID node = 1; node < hsiTables.nodeCount; node++) {
      const HsiNodeDef &def = hsiTables.nodes[node];
      uint32_t length = def.getSize <= kMaxRecordedValue ? def.getSize : 0;
      size_t added = writer.AddNode(kernel, node, def.signature, length,
                                    reinterpret_cast<const uint8_t *>(&def), def.name, def.getTypeDef);
      if (node == HSI_NODE_net_pNics_properties)
        writer.AddGet(added, {Param::String("vmnic0")}, HYX_OK, properties);
      else if (def.leaf)
        writer.AddGet(added, InstanceArgs(node, false), HYX_OK, std::vector<uint8_t>(length));
      if (def.instance)
        writer.AddList(added, InstanceArgs(node, true), HYX_OK,
                       {Param::String("a"), Param::String("b"), Param::String("c"), Param::String("d")});
    }
    std::vector<uint8_t> bytes = writer.Finish("bench", HSI_SIGNATURE);
    char name[] = "/tmp/hsi_cache_bench_XXXXXX";
    int fd = mkstemp(name);
    if (fd < 0) return;
    bool written = write(fd, bytes.data(), bytes.size()) == static_cast<ssize_t>(bytes.size());
    close(fd);
    if (!written) return;
    path = name;
    size = bytes.size();
    fprintf(stderr, "snapshot of %u nodes: %zu bytes\n", hsiTables.nodeCount - 1, size);
  }
  ~Snapshot() {
    if (!path.empty()) unlink(path.c_str());
  }
};

Snapshot &TheSnapshot() {
  static Snapshot snapshot;
  return snapshot;
}

void NicGet(benchmark::State &state, bool cached) {
  if (TheSnapshot().path.empty()) {
    state.SkipWithError("no vmnic0 on this host, or no snapshot: set HYXSIM_PROFILE");
    return;
  }
  if (cached && Hsi_EnableCache(TheSnapshot().path.c_str(), -1) != HYX_OK) {
    state.SkipWithError("the snapshot does not load");
    return;
  }
  HsiParamList nic = HsiParamList_AllocSized(HSI_PARAMLIST_INSTANCE, 1, 64, 0);
  HsiParamList_AddString(nic, "vmnic0");
  std::vector<char> buffer(hsiTables.nodes[HSI_NODE_net_pNics_properties].getSize);
  for (auto _ : state) {
    if (Hsi_Get(HSI_NODE_net_pNics_properties, nic, buffer.data(), buffer.size()) != HYX_OK)
      state.SkipWithError("the get failed");
  }
  HsiParamList_Free(nic);
  if (cached) Hsi_DisableCache();
}

void CachedGet(benchmark::State &state) { NicGet(state, true); }
void LiveGet(benchmark::State &state) { NicGet(state, false); }

void Init(benchmark::State &state) {
  const Snapshot &snapshot = TheSnapshot();
  if (snapshot.path.empty()) {
    state.SkipWithError("no snapshot: set HYXSIM_PROFILE");
    return;
  }
  for (auto _ : state) {
    if (HsiCache_Init(snapshot.path.c_str(), -1) != HYX_OK) state.SkipWithError("the snapshot does not load");
    HsiCache_Cleanup();
  }
  state.counters["bytes"] = static_cast<double>(snapshot.size);
}

void MapAndRead(benchmark::State &state) {
  const Snapshot &snapshot = TheSnapshot();
  if (snapshot.path.empty()) {
    state.SkipWithError("no snapshot: set HYXSIM_PROFILE");
    return;
  }
  for (auto _ : state) {
    int fd = open(snapshot.path.c_str(), O_RDONLY | O_CLOEXEC);
    void *map = mmap(nullptr, snapshot.size, PROT_READ | PROT_WRITE, MAP_PRIVATE, fd, 0);
    uint64_t sum = 0;
    for (size_t i = 0; i < snapshot.size; i++) sum += static_cast<const uint8_t *>(map)[i];
    benchmark::DoNotOptimize(sum);
    munmap(map, snapshot.size);
    close(fd);
  }
}

BENCHMARK(CachedGet)->Name("HsiCacheGet/library");
BENCHMARK(LiveGet)->Name("HsiCacheGet/baseline");
BENCHMARK(Init)->Name("HsiCacheInit/library");
BENCHMARK(MapAndRead)->Name("HsiCacheInit/baseline");

}  // namespace
