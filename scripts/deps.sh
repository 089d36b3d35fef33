#!/usr/bin/env bash
# Installs, as root on Debian, every package the build, the tests and the
# aarch64 lane need.  Safe to run again.
set -euo pipefail
packages=(
  cmake ninja-build g++ clang pkg-config
  googletest libbenchmark-dev libfmt-dev
  nlohmann-json3-dev libseccomp-dev
  libxml2 libxml2-dev libpugixml-dev libpam0g libpam0g-dev bubblewrap iproute2 locales
  g++-aarch64-linux-gnu binutils-aarch64-linux-gnu qemu-user abigail-tools clang-format
  python3 python3-pytest man-db
)
missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
done
if ((${#missing[@]})); then
  export DEBIAN_FRONTEND=noninteractive
  apt-get update -qq
  apt-get install -y -qq --no-install-recommends "${missing[@]}"
fi
