#!/usr/bin/env bash
# Unpacks Debian's arm64 packages into a tree of its own, nothing installed
# on this machine:
#   scripts/aarch64-system/arm64-root.sh DIR [valgrind]
# DIR/root is the emulated machine's userland (the C library, PAM and its
# modules, libxml2, a shell, Python and the everyday tools) with every
# library they depend on, merged under usr/ as Debian lays it out; the cross
# build finds pugixml and {fmt} there.  DIR/kernel holds the kernel package.
# With "valgrind", DIR/valgrind holds valgrind with its callgrind tool only,
# a tree the machine carries when it counts instructions (run.sh
# --instructions) and not otherwise.  An arm64
# C library installed beside this machine's own would be found by qemu-user
# and hang the qemu-user lane's death tests; unpacked here, it is not.
# Needs only the arm64 architecture in apt's lists (deps.sh aarch64-system).
set -euo pipefail
dir=$(mkdir -p "$1" && cd "$1" && pwd)

# The newest downloaded file of package NAME, in the current directory.
newest() { compgen -G "${1}_*.deb" | sort -V | tail -n 1; }
# Downloads the packages named on standard input that have no file here
# yet: a package downloaded once is not fetched again, even when a newer
# version has come since (delete DIR/debs to refresh).
fetch() {
  local package missing=()
  while read -r package; do
    [[ -n $(newest "${package%:*}") ]] || missing+=("$package")
  done
  ((${#missing[@]})) || return 0
  apt-get download "${missing[@]}" >/dev/null 2>&1 || apt-get download "${missing[@]}"
}
if [[ ${2:-} == valgrind ]]; then
  # Needs nothing the root lacks (the C library); callgrind is the only
  # tool kept, with the core's preload and the suppressions it reads.
  mkdir -p "$dir/debs"
  cd "$dir/debs"
  echo valgrind:arm64 | fetch
  rm -rf "$dir/valgrind"
  mkdir -p "$dir/valgrind"
  dpkg-deb -x "$(newest valgrind)" "$dir/valgrind"
  cd "$dir/valgrind/usr"
  find bin -type f ! -name valgrind ! -name valgrind.bin -delete
  find libexec/valgrind -type f ! -name callgrind-arm64-linux ! -name vgpreload_core-arm64-linux.so \
    ! -name default.supp -delete
  rm -rf include lib/aarch64-linux-gnu share
  echo "arm64 valgrind: $(du -sh "$dir/valgrind" | cut -f1)"
  exit 0
fi
packages=(
  libc6 libstdc++6 libpam0g libpam-modules libpam-modules-bin libxml2 libpugixml-dev libfmt-dev
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
fetch <wanted

rm -rf "$dir/root" "$dir/kernel"
mkdir -p "$dir/root" "$dir/kernel"
while read -r package; do
  name=${package%:*}
  deb=$(newest "$name")
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
