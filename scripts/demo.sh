#!/usr/bin/env bash
# The main job: builds the library and hyxinfo, and shows what hyxinfo tells.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/deps.sh
cmake --preset default >/dev/null
cmake --build --preset default --target hyxinfo
hyxinfo=build/default/tools/hyxinfo
set -x
"$hyxinfo" status 0x0bad0003
"$hyxinfo" status 0x2bad0002
"$hyxinfo" status --all | head -20
