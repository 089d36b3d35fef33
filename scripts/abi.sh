#!/usr/bin/env bash
# The library's binary interface against the committed baseline (abi/).
#   scripts/abi.sh check LIBRARY     fails on any difference, and shows it
#   scripts/abi.sh update LIBRARY    writes the baseline anew (a change to the
#                                    interface is committed with its baseline)
set -euo pipefail
cd "$(dirname "$0")/.."
mode=$1 library=$2
baseline=abi/libhyxuser.abi
# No source locations, and each translation unit named relative to the tree:
# the baseline holds no path of the machine it was made on, and an added
# export changes only its own lines.
dump() {
  abidw --headers-dir include/hyxuser --drop-private-types --exported-interfaces-only \
        --no-corpus-path --no-comp-dir-path --no-show-locs "$library" |
    sed "s|path='$PWD/|path='|"
}
case $mode in
  update) dump >"$baseline"; echo "wrote $baseline" ;;
  check)
    current=$(mktemp)
    trap 'rm -f "$current"' EXIT
    dump >"$current"
    if ! abidiff --headers-dir1 include/hyxuser --headers-dir2 include/hyxuser "$baseline" "$current"; then
      echo "The binary interface differs from $baseline; if that is meant, run: scripts/abi.sh update $library" >&2
      exit 1
    fi ;;
  *) echo "usage: scripts/abi.sh check|update LIBRARY" >&2; exit 2 ;;
esac
