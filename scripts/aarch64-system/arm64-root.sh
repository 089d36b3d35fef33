#!/usr/bin/env bash
# Unpacks Debian's arm64 packages into a tree of its own, nothing installed
# on this machine:
#   scripts/aarch64-system/arm64-root.sh DIR
# DIR/root is the emulated machine's userland (the C library, PAM and its
# modules, libxml2, a shell, Python and the everyday tools) with every
# library they depend on, merged under usr/ as Debian lays it out; the cross
# build finds pugixml there.  DIR/kernel holds the kernel package.  An arm64
# C library installed beside this machine's own would be found by qemu-user
# and hang the qemu-user lane's death tests; unpacked here, it is not.
# Needs only the arm64 architecture in apt's lists (deps.sh aarch64-system).
set -euo pipefail
dir=$(mkdir -p "$1" && cd "$1" && pwd)
packages=(
  libc6 libstdc++6 libpam0g libpam-modules libpam-modules-bin libxml2 libpugixml-dev
  busybox-static dash bash coreutils grep sed findutils mawk iproute2 binutils groff-base python3
)
mkdir -p "$dir/debs"
cd "$dir/debs"

# What those packages need, resolved by apt as if nothing were installed:
# the arm64 packages and the architecture-independent ones (Python's own
# modules, data files).
apt-get -s -o Dir::State::status=/dev/null -o APT::Install-Recommends=false \
  install "${packages[@]/%/:arm64}" python3-pytest |
  awk '/^Inst / && /\[(arm64|all)\]/ { print $2 }' | sort -u >wanted
kernel=$(apt-cache depends linux-image-cloud-arm64:arm64 | sed -n 's/.*Depends: \(linux-image-[^ ]*\)/\1/p' | head -n 1)
echo "${kernel%:arm64}:arm64" >>wanted
# Downloaded once; a later run fetches only what changed.
missing=()
while read -r package; do
  name=${package%:*}
  compgen -G "${name}_*.deb" >/dev/null || missing+=("$package")
done <wanted
if ((${#missing[@]})); then
  apt-get download "${missing[@]}" >/dev/null 2>&1 || apt-get download "${missing[@]}"
fi

rm -rf "$dir/root" "$dir/kernel"
mkdir -p "$dir/root" "$dir/kernel"
while read -r package; do
  name=${package%:*}
  deb=$(compgen -G "${name}_*.deb" | sort -V | tail -n 1)
  if [[ $name == linux-image-* ]]; then
    dpkg-deb -x "$deb" "$dir/kernel"
  else
    dpkg-deb -x "$deb" "$dir/root"
  fi
done <wanted

# Debian's merged /usr: /bin, /sbin and /lib are links into usr/.
cd "$dir/root"
for top in bin sbin lib; do
  if [[ -d $top && ! -L $top ]]; then
    mkdir -p "usr/$top"
    cp -a "$top/." "usr/$top/"
    rm -rf "$top"
  fi
  ln -sfn "usr/$top" "$top"
done
# The links that installing would make (the shell, the alternatives).
ln -sfn dash usr/bin/sh
ln -sfn mawk usr/bin/awk
# What no program reads: documentation and translations.
rm -rf usr/share/doc usr/share/man usr/share/info usr/share/locale usr/share/lintian
echo "arm64 root: $(wc -l <"$dir/debs/wanted") packages, $(du -sh "$dir/root" | cut -f1)"
