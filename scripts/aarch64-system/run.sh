#!/usr/bin/env bash
# Runs the aarch64-system build's suites on an emulated aarch64 machine:
#   scripts/aarch64-system/run.sh BUILD_DIR [NAME_REGEX]
# The machine boots Debian's cloud arm64 kernel with an initramfs holding a
# static busybox, the arm64 libraries, the source tree and the build tree
# (at the paths they have here, so ctest's commands run unchanged).  ctest's
# own list says what runs; a suite whose command is a build-machine tool is
# skipped with that reason.  The lane fails on a failed suite, a suite with
# no result, or a machine that does not power off within its bound.
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
source_dir=$(cd "$here/../.." && pwd)
build=$(cd "$1" && pwd)
filter=${2:-}
machine=$build/machine
bound=${HYX_MACHINE_BOUND:-1500}
multiarch=aarch64-linux-gnu
rm -rf "$machine/root" "$machine/debs" "$machine/unpacked"
mkdir -p "$machine/root" "$machine/debs"

# The kernel, busybox, PAM's password helper (unix_chkpwd), and a dynamic
# shell and coreutils, as Debian packages unpacked here: they cannot be
# installed beside this machine's own.  Programs the sandbox starts inherit
# its trap and need the simulator preloaded to answer it, which a static
# program (busybox's applets) cannot have: /bin/sh, true, cat and the like
# are dash's and coreutils'.
(
  cd "$machine/debs"
  kernel_package=$(apt-cache depends linux-image-cloud-arm64:arm64 | sed -n 's/.*Depends: \(linux-image-[^ ]*\)/\1/p' | head -n 1)
  kernel_package=${kernel_package%:arm64}
  set -- "$kernel_package:arm64" busybox-static:arm64 libpam-modules-bin:arm64 dash:arm64 coreutils:arm64
  apt-get download "$@" >/dev/null 2>&1 || apt-get download "$@"
  for deb in *.deb; do dpkg-deb -x "$deb" "$machine/unpacked"; done
)
vmlinuz=$(ls "$machine"/unpacked/boot/vmlinuz-* | head -n 1)

root=$machine/root
mkdir -p "$root"/{bin,sbin,usr/bin,usr/sbin,lib,etc,proc,sys,dev,tmp,root,hyx} "$root/usr/lib/$multiarch"
mkdir -p "$root/busybox"
mv "$machine/unpacked/bin/busybox" "$root/busybox/busybox"
ln -sf dash "$machine/unpacked/bin/sh"
for dir in bin sbin usr/bin usr/sbin; do
  [[ -d $machine/unpacked/$dir ]] && cp -a "$machine/unpacked/$dir/." "$root/$dir/"
done
# The C and C++ runtimes of the cross toolchain, then the arm64 libraries
# installed beside this machine's (libxml2, PAM and its modules, pugixml).
cp -a /usr/$multiarch/lib/. "$root/usr/lib/$multiarch/"
cp -a /usr/lib/$multiarch/. "$root/usr/lib/$multiarch/"
find "$root/usr/lib/$multiarch" \( -name '*.a' -o -name '*.o' -o -name 'ldscripts' -o -name 'cmake' \
  -o -name 'pkgconfig' -o -name 'gconv' -o -name 'bfd-plugins' \) -prune -exec rm -rf {} +
ln -s "../usr/lib/$multiarch/ld-linux-aarch64.so.1" "$root/lib/ld-linux-aarch64.so.1"
# Accounts and PAM's configuration: the machine's root and the services
# this machine has (the files are the same on every architecture).
printf 'root:x:0:0:root:/root:/bin/sh\nnobody:x:65534:65534:nobody:/nonexistent:/bin/false\n' >"$root/etc/passwd"
printf 'root:x:0:\nnogroup:x:65534:\n' >"$root/etc/group"
printf 'root:*:19000:0:99999:7:::\nnobody:*:19000:0:99999:7:::\n' >"$root/etc/shadow"
chmod 600 "$root/etc/shadow"
cp -a /etc/pam.d "$root/etc/pam.d"
cp -a /etc/security "$root/etc/security" 2>/dev/null || true
printf 'passwd: files\ngroup: files\nshadow: files\nhosts: files\n' >"$root/etc/nsswitch.conf"
printf '127.0.0.1 localhost\n' >"$root/etc/hosts"

# The source tree and the build tree where they are here; programs without
# their debugging sections.
copy_tree() {  # from, excluding build/
  mkdir -p "$root$1"
  (cd "$1" && find . -path ./build -prune -o -path ./.git -prune -o -name '*.o' -o -print) |
    (cd "$1" && cpio -pdm --quiet "$root$1")
}
copy_tree "$source_dir"
mkdir -p "$root$build"
(cd "$build" && find . -path ./machine -prune -o -name '*.o' -o -name '*.a' -o -print) |
  (cd "$build" && cpio -pdm --quiet "$root$build")
find "$root$build" -type f -perm -u+x -exec sh -c 'for f; do
  head -c 4 "$f" | grep -q ELF && aarch64-linux-gnu-strip --strip-debug "$f" 2>/dev/null; done; true' _ {} +
find "$root$build" -name '*.so' -exec aarch64-linux-gnu-strip --strip-debug {} + 2>/dev/null || true

# What runs: ctest's list.
(cd "$build" && ctest --show-only=json-v1 ${filter:+-R "$filter"}) >"$machine/tests.json"
python3 "$here/guest-list.py" "$machine/tests.json" qemu-aarch64 "$build" >"$root/hyx/tests.sh"
cp "$here/init.sh" "$root/hyx/init.sh"
chmod +x "$root/hyx/init.sh"
ln -sf hyx/init.sh "$root/init"
expected=$(grep -cE '^(run|skip) ' "$root/hyx/tests.sh" || true)

(cd "$root" && find . -print | cpio -o -H newc --quiet | gzip -1) >"$machine/initrd.gz"
echo "initramfs: $(du -h "$machine/initrd.gz" | cut -f1), $expected suites"

log=$machine/console.log
status=0
timeout --foreground "$bound" qemu-system-aarch64 -M virt -cpu cortex-a57 -smp 2 -m 6144 -nographic -no-reboot -nic none \
  -kernel "$vmlinuz" -initrd "$machine/initrd.gz" -append "console=ttyAMA0 panic=-1 quiet rdinit=/init" \
  </dev/null | tee "$log" | awk '{ sub(/\r$/, "") } /^HYX-OUTPUT-BEGIN/ { out = 1 }
    out || /^HYX-(START|RESULT|DONE)|Kernel panic/ { print; fflush() } /^HYX-OUTPUT-END/ { out = 0 }' || status=$?
sed -i 's/\r$//' "$log"
echo "=== aarch64-system results"
grep '^HYX-RESULT' "$log" | awk '{ printf "%-40s %s", $2, $3; for (i = 4; i <= NF; i++) printf " %s", $i; printf "\n" }'
failed=$(grep -c '^HYX-RESULT [^ ]* fail' "$log" || true)
got=$(grep -c '^HYX-RESULT' "$log" || true)
ok=1
if ! grep -q '^HYX-DONE' "$log"; then
  echo "aarch64-system: the machine did not finish within $bound s" >&2
  ok=0
fi
if ((got != expected)); then
  echo "aarch64-system: $got results for $expected suites; without a result:" >&2
  grep -oE '^(run|skip) [^ ]+' "$root/hyx/tests.sh" | cut -d' ' -f2 | while read -r name; do
    grep -q "^HYX-RESULT $name " "$log" || echo "  $name" >&2
  done
  ok=0
fi
if ((failed)); then
  echo "aarch64-system: $failed suites failed" >&2
  ok=0
fi
echo "aarch64-system: $got suites, $(grep -c '^HYX-RESULT [^ ]* pass' "$log" || true) passed," \
  "$(grep -c '^HYX-RESULT [^ ]* skip' "$log" || true) skipped, $failed failed"
((ok))
