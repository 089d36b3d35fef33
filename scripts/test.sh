#!/usr/bin/env bash
# Builds the given preset (default: "default") and runs its tests.
#   scripts/test.sh [default|asan|tsan|aarch64]
set -euo pipefail
cd "$(dirname "$0")/.."
preset=${1:-default}
bash scripts/deps.sh
cmake --preset "$preset"
cmake --build --preset "$preset"
ctest --preset "$preset"
