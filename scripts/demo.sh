#!/usr/bin/env bash
# The main job: builds everything, then takes a short tour of what the
# library tells and does on the simulated hypervisor host (with its HXFS
# volumes mounted and its daemons listening), through hyxinfo.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/deps.sh
cmake --preset default >/dev/null
cmake --build --preset default
start=$SECONDS
# One sandbox for the whole tour: the daemons start (and are listening)
# before the tour does, and a UEFI variable one step writes is there for
# the next.
build/default/tools/hyxsim --daemons --profile examples/hosts/hxfs.json --ro "$PWD" -- \
  bash scripts/tour.sh build/default/tools/hyxinfo
echo "== the tour took $((SECONDS - start)) s"
