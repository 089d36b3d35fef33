#!/usr/bin/env bash
# The project's C and C++ sources in the style of .clang-format.
#   scripts/format.sh check    lists the files that differ (exit 1 if any)
#   scripts/format.sh apply    rewrites them in place
set -euo pipefail
cd "$(dirname "$0")/.."
mapfile -t files < <(git ls-files '*.c' '*.cpp' '*.h')
case ${1:-check} in
  apply) clang-format -i "${files[@]}" ;;
  check)
    bad=()
    for f in "${files[@]}"; do
      clang-format --dry-run --Werror "$f" >/dev/null 2>&1 || bad+=("$f")
    done
    if ((${#bad[@]})); then
      printf 'not formatted (scripts/format.sh apply):\n' >&2
      printf '  %s\n' "${bad[@]}" >&2
      exit 1
    fi ;;
  *) echo "usage: scripts/format.sh check|apply" >&2; exit 2 ;;
esac
