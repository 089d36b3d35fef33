#!/usr/bin/env bash
# Instructions per call of every benchmark case and peer, counted by
# callgrind: the difference between runs of 1000 and 3000 calls, over 2000,
# so start-up and the first calls' misses drop out.
#   bash bench/instructions.sh [build/default] [case...]
set -euo pipefail
build=${1:-build/default}
shift || true
program="$build/bench/call_counts"
count() {  # case peer calls
  local out
  out=$(valgrind --tool=callgrind --callgrind-out-file=/dev/null "$program" "$@" 2>&1) || {
    printf 'instructions.sh: %s failed under callgrind:\n%s\n' "$*" "$out" >&2
    return 1
  }
  sed -n 's/.*Collected : \([0-9]*\).*/\1/p' <<<"$out"
}
"$program" list | while read -r name peer; do
  if (($#)) && [[ " $* " != *" $name "* ]]; then continue; fi
  low=$(count "$name" "$peer" 1000) || exit 1
  high=$(count "$name" "$peer" 3000) || exit 1
  printf '%-12s %-12s %8d\n' "$name" "$peer" $(((high - low) / 2000))
done
