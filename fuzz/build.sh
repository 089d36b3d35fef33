#!/usr/bin/env bash
# Builds the libFuzzer targets (the "fuzz" preset: clang, ASan + UBSan) into
# build/fuzz/fuzz; run them by hand, e.g.
#   bash fuzz/build.sh
#   build/fuzz/fuzz/format_diff_fuzz -max_total_time=600 fuzz/corpus/format_diff_fuzz
# (with a corpus directory libFuzzer also adds what it finds there: use a
# scratch copy, and fuzz/merge.sh to fold new inputs back).
set -euo pipefail
cd "$(dirname "$0")/.."
cmake --preset fuzz >/dev/null
cmake --build --preset fuzz
