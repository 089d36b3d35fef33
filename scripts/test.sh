#!/usr/bin/env bash
# Builds the given preset (default: "default") and runs its tests.
#   scripts/test.sh [default|asan|tsan|aarch64|aarch64-system]
# aarch64-system runs the suites on an emulated aarch64 machine instead of
# here (scripts/aarch64-system/run.sh).
set -euo pipefail
cd "$(dirname "$0")/.."
preset=${1:-default}
bash scripts/deps.sh
if [[ $preset == aarch64-system ]]; then
  bash scripts/deps.sh aarch64-system
  bash scripts/aarch64-system/arm64-root.sh build/aarch64-system/arm64
  cmake --preset "$preset"
  cmake --build --preset "$preset"
  exec bash scripts/aarch64-system/run.sh build/aarch64-system
fi
cmake --preset "$preset"
cmake --build --preset "$preset"
ctest --preset "$preset"
