#!/usr/bin/env bash
# Builds the libFuzzer targets (the "fuzz" preset: clang, ASan + UBSan) into
# build/fuzz/fuzz; run them by hand, e.g.
#   bash fuzz/build.sh
#   build/fuzz/fuzz/format_diff_fuzz -max_total_time=600
#   bash fuzz/merge.sh format_diff_fuzz 600   # fuzz from the corpus, fold finds back
# (libFuzzer adds what it finds to the first directory it is given: never
# hand it fuzz/corpus/ first).
set -euo pipefail
cd "$(dirname "$0")/.."
cmake --preset fuzz >/dev/null
cmake --build --preset fuzz
