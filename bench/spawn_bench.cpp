// Starting a child under the simulated kernel beside glibc doing the same.
// Run it inside the sandbox so that every child, the baselines' included,
// preloads the simulator:
//   build/default/tools/hyxsim --bind "$PWD/build/default" -- build/default/bench/spawn_bench
// Children run in other processes, so the cases are timed by the wall clock.
#include <benchmark/benchmark.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>

#include "hyxuser/hyxuser.h"

namespace {

void LibrarySystem(benchmark::State &state) {
  for (auto _ : state) {
    int status = -1;
    if (HyxuserCompat_System("true", &status) != HYX_OK || status != 0) state.SkipWithError("System failed");
  }
}

void LibcSystem(benchmark::State &state) {
  for (auto _ : state)
    if (system("true") != 0) state.SkipWithError("system failed");
}

void LibraryForkExec(benchmark::State &state) {
  const int32_t map[] = {0, 1, 2};
  char *const argv[] = {const_cast<char *>("true"), nullptr};
  for (auto _ : state) {
    pid_t pid = -1;
    int status = -1;
    if (HyxuserCompat_ForkExec("/bin/true", argv, nullptr, -1, map, 3, 0xFFFFFFFF, 0xFFFFFFFF, 0, &pid) !=
            HYX_OK ||
        waitpid(pid, &status, 0) != pid || status != 0)
      state.SkipWithError("ForkExec failed");
  }
}

void PosixSpawn(benchmark::State &state) {
  char *const argv[] = {const_cast<char *>("true"), nullptr};
  for (auto _ : state) {
    pid_t pid = -1;
    int status = -1;
    if (posix_spawn(&pid, "/bin/true", nullptr, nullptr, argv, environ) != 0 ||
        waitpid(pid, &status, 0) != pid || status != 0)
      state.SkipWithError("posix_spawn failed");
  }
}

// System beside glibc's system: both run "/bin/sh -c true".
BENCHMARK(LibrarySystem)->Name("System/library")->UseRealTime();
BENCHMARK(LibcSystem)->Name("System/baseline")->UseRealTime();
// System beside the cheapest way to run /bin/true at all.
BENCHMARK(LibrarySystem)->Name("SystemVsPosixSpawn/library")->UseRealTime();
BENCHMARK(PosixSpawn)->Name("SystemVsPosixSpawn/baseline")->UseRealTime();
// The fork-exec call itself beside posix_spawn, both starting /bin/true.
BENCHMARK(LibraryForkExec)->Name("ForkExec/library")->UseRealTime();
BENCHMARK(PosixSpawn)->Name("ForkExec/baseline")->UseRealTime();

}  // namespace
