#!/usr/bin/env bash
# Runs the soak: every family of the library under load on the example host
# (with its HXFS volumes) and its daemons, while faults are injected; prints
# the summary and fails when a message was lost or duplicated, something
# leaked or a call outlived its bound.
#   scripts/soak.sh [SECONDS] [BUILD]      (defaults: 600, build/default)
# A ThreadSanitizer build dir (cmake --preset tsan) works too; its bounds
# are stretched, since everything runs several times slower there.
set -euo pipefail
cd "$(dirname "$0")/.."
seconds=${1:-600}
build=${2:-build/default}
cmake --build "$build" -j2 --target hyx_soak hyxsim hyxsim_launcher hyxsim_hobd hyxsim_snmp_agent hyxsim_mgmtd hyxsnap
env=()
if grep -q 'HYX_SANITIZE:STRING=thread' "$build/CMakeCache.txt" 2>/dev/null; then
  crypt=$(ldconfig -p | awk '/libcrypt.so.1 /{print $NF; exit}')
  env=(LD_PRELOAD="$crypt" TSAN_OPTIONS="report_signal_unsafe=0 die_after_fork=0 ${TSAN_OPTIONS:-}" SOAK_BOUND_SCALE=4)
fi
exec env "${env[@]}" "$build/tools/hyxsim" --daemons --profile examples/hosts/hxfs.json -- \
  "$build/tests/soak/hyx_soak" --seconds "$seconds"
