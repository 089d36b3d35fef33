#!/usr/bin/env bash
# The main job: builds the library, hyxinfo and the simulated host, and shows
# what hyxinfo tells on this machine and on simulated hypervisor hosts.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/deps.sh
cmake --preset default >/dev/null
cmake --build --preset default --target hyxinfo hyxsim_launcher hyxsim
hyxinfo=build/default/tools/hyxinfo
hyxsim=build/default/tools/hyxsim
set -x
"$hyxinfo" status 0x0bad0003
"$hyxinfo" status 0x2bad0002
"$hyxinfo" status --all | sed -n 1,20p   # sed reads to the end: no SIGPIPE under pipefail
"$hyxinfo" host || true
"$hyxsim" --profile examples/hosts/hypervisor.json --ro build/default -- "$hyxinfo" host || true
"$hyxsim" --profile examples/hosts/mockup.json --ro build/default -- "$hyxinfo" host || true
"$hyxsim" --profile examples/hosts/checksum-mismatch.json --ro build/default -- "$hyxinfo" host || true
