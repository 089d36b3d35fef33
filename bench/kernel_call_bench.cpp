// One trapped kernel call (gate -> seccomp trap -> simulated kernel -> back)
// beside one plain system call.
#include <benchmark/benchmark.h>
#include <sys/syscall.h>
#include <unistd.h>

#include "hyxsysinfo/kernelCall.h"

namespace {

void TrappedCall(benchmark::State &state) {
  uint32_t checksum = 0;
  for (auto _ : state)
    benchmark::DoNotOptimize(Kernel_Call(KERNEL_CALL_SYSCALL_API_CHECKSUM, &checksum, uint64_t{0}));
}

void PlainSyscall(benchmark::State &state) {
  for (auto _ : state) benchmark::DoNotOptimize(syscall(SYS_getppid));
}

BENCHMARK(TrappedCall)->Name("KernelCall/library");
BENCHMARK(PlainSyscall)->Name("KernelCall/baseline");

}  // namespace
