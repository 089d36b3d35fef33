#!/usr/bin/env bash
# Runs every benchmark of the default build and prints each one's ratio
# table (library time / baseline time, medians of the repetitions): the
# figures of docs/benchmarks.md.
#   scripts/bench.sh [REPETITIONS]     (default 5)
set -euo pipefail
cd "$(dirname "$0")/.."
reps=${1:-5}
build=build/default
hyxsim=$build/tools/hyxsim
echo "machine: $(nproc) cores, $(grep -m1 'model name' /proc/cpuinfo | cut -d: -f2- | sed 's/^ //')"
echo "load before: $(cut -d' ' -f1-3 /proc/loadavg)"
run() {
  local name=$1
  shift
  printf '\n== %s\n' "$name"
  # Only the ratio tables: the lines from the first "case" header on.
  "$@" --benchmark_repetitions="$reps" --benchmark_report_aggregates_only=true 2>/dev/null |
    sed -n '/^case /,$p'
}
run status_bench $build/bench/status_bench
run format_bench $build/bench/format_bench
run hsi_params_bench $build/bench/hsi_params_bench
run kernel_call_bench $build/bench/kernel_call_bench
run hsi_bench env HYXSIM_PROFILE="$PWD/examples/hosts/hypervisor.json" $build/bench/hsi_bench
run spawn_bench $hyxsim --bind $build -- $build/bench/spawn_bench
run hob_bench $hyxsim --daemons --bind $build -- $build/bench/hob_bench
run hxfs_bench $hyxsim --profile examples/hosts/hxfs.json -- $build/bench/hxfs_bench
echo
echo "load after: $(cut -d' ' -f1-3 /proc/loadavg)"
