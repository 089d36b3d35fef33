#!/usr/bin/env bash
# Installs, as root on Debian, every package the build, the tests and the
# aarch64 lane need; `deps.sh aarch64-system` adds what the emulated
# machine's lane needs: the emulator, and the arm64 architecture in apt's
# lists so that its packages can be downloaded.  No arm64 package is
# installed here (scripts/aarch64-system/arm64-root.sh unpacks them into a
# tree of their own): with an arm64 C library beside this machine's
# (/lib/ld-linux-aarch64.so.1), death tests of the aarch64 lane hang under
# qemu-aarch64.  Safe to run again.
set -euo pipefail
if [[ ${1:-} == aarch64-system ]] && ! dpkg --print-foreign-architectures | grep -qx arm64; then
  dpkg --add-architecture arm64
  apt-get update -qq
fi
packages=(
  cmake ninja-build g++ clang pkg-config
  googletest libbenchmark-dev libfmt-dev
  nlohmann-json3-dev libseccomp-dev
  libxml2 libxml2-dev libpugixml-dev libpam0g libpam0g-dev bubblewrap iproute2 locales
  g++-aarch64-linux-gnu binutils-aarch64-linux-gnu qemu-user abigail-tools clang-format
  python3 python3-pytest man-db
)
if [[ ${1:-} == aarch64-system ]]; then
  packages=(qemu-system-arm cpio e2fsprogs)
fi
missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
done
if ((${#missing[@]})); then
  export DEBIAN_FRONTEND=noninteractive
  apt-get update -qq
  apt-get install -y -qq --no-install-recommends "${missing[@]}"
fi
