#!/usr/bin/env bash
# Fails when a committed file holds an absolute path of a machine's checkout,
# build directory or home: such a file works only where it was made.
#   scripts/check-paths.sh [BUILD-DIR]
set -euo pipefail
cd "$(dirname "$0")/.."
patterns=("$PWD/" '/(home|root)/[A-Za-z0-9_.-]+/')
[ $# -gt 0 ] && patterns+=("$(cd "$1" && pwd)/")
if [ -d .git ] || [ -f .git ]; then
  list() { git ls-files -z; }
else
  list() { find . -path ./build -prune -o -type f -print0; }
fi
found=$(list | xargs -0 grep -nIE "$(IFS='|'; echo "${patterns[*]}")" -- 2>/dev/null | cut -c1-200 | head -n 20 || true)
if [ -n "$found" ]; then
  printf '%s\n' "$found" >&2
  echo "These committed lines hold an absolute path of this machine; write paths relative to the tree." >&2
  exit 1
fi
