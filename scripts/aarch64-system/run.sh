#!/usr/bin/env bash
# Runs the aarch64-system build's suites on an emulated aarch64 machine:
#   scripts/aarch64-system/run.sh BUILD_DIR [NAME_REGEX]
#   scripts/aarch64-system/run.sh BUILD_DIR --instructions [CASE...]
# The machine boots Debian's cloud arm64 kernel with an initramfs holding
# the arm64 userland that arm64-root.sh unpacked into BUILD_DIR/arm64 (a
# static busybox for its init, Debian's dynamic programs for everything the
# sandbox starts: those inherit its trap and need the simulator preloaded),
# the source tree and the build tree (at the paths they have here, so
# ctest's commands run unchanged).  A disk with an ext4 file system holds
# /tmp and /var/tmp: the simulated host keeps its volume images there when
# its tmpfs cannot take direct reads, as the machine's 6.1 kernel's cannot,
# and tests make their own such directories in /tmp.  ctest's
# own list says what runs; a suite that needs what the machine lacks is
# skipped with that reason.  The lane fails on a failed suite, a suite with
# no result, or a machine that does not power off within its bound.
# With --instructions the machine runs no suite: it counts the formatting
# cases' instructions per call under callgrind (bench/instructions.sh, for
# the given cases or all), each line on the console as "HYX-COUNT LINE",
# and this side prints the table.  It carries only the userland, valgrind
# (arm64-root.sh DIR valgrind) and the counting program.
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
source_dir=$(cd "$here/../.." && pwd)
build=$(cd "$1" && pwd)
shift
instructions=0
if [[ ${1:-} == --instructions ]]; then
  instructions=1
  shift
fi
filter=${1:-}
machine=$build/machine
arm64=$build/arm64
bound=${HYX_MACHINE_BOUND:-1500}
if [[ ! -d $arm64/root || ! -d $arm64/kernel ]]; then
  echo "aarch64-system: no arm64 tree in $arm64; make it with $here/arm64-root.sh $arm64" >&2
  exit 2
fi
if ((instructions)); then
  if [[ ! -x $build/bench/call_counts ]]; then
    echo "aarch64-system: no $build/bench/call_counts; build the call_counts target" >&2
    exit 2
  fi
  if [[ ! -d $arm64/valgrind ]]; then
    echo "aarch64-system: no valgrind in $arm64; unpack it with $here/arm64-root.sh $arm64 valgrind" >&2
    exit 2
  fi
fi
rm -rf "$machine"
mkdir -p "$machine"
vmlinuz=$(ls "$arm64"/kernel/boot/vmlinuz-* | head -n 1)

root=$machine/root
cp -a "$arm64/root" "$root"
((instructions)) && cp -a "$arm64/valgrind/." "$root/"
mkdir -p "$root"/{proc,sys,dev,tmp,run,root,hyx,busybox,var/tmp}
mv "$root/usr/bin/busybox" "$root/busybox/busybox"
# The block device driver for the scratch disk, and the order the machine
# loads its modules in (each after those it needs): hyx/modules/order.
modules=$(ls -d "$arm64"/kernel/lib/modules/*)
mkdir -p "$root/hyx/modules"
for module in virtio_ring virtio virtio_mmio virtio_blk; do
  cp "$(find "$modules" -name "$module.ko")" "$root/hyx/modules/"
  echo "$module" >>"$root/hyx/modules/order"
done
# Accounts and PAM's configuration: the machine's root and the services
# this machine has (the files are the same on every architecture).
printf 'root:x:0:0:root:/root:/bin/sh\nnobody:x:65534:65534:nobody:/nonexistent:/bin/false\n' >"$root/etc/passwd"
printf 'root:x:0:\nnogroup:x:65534:\n' >"$root/etc/group"
printf 'root:*:19000:0:99999:7:::\nnobody:*:19000:0:99999:7:::\n' >"$root/etc/shadow"
chmod 600 "$root/etc/shadow"
cp -a /etc/pam.d/. "$root/etc/pam.d/"
printf 'passwd: files\ngroup: files\nshadow: files\nhosts: files\n' >"$root/etc/nsswitch.conf"
printf '127.0.0.1 localhost\n' >"$root/etc/hosts"

cp "$here/init.sh" "$root/hyx/init.sh"
chmod +x "$root/hyx/init.sh"
ln -sf hyx/init.sh "$root/init"
if ((instructions)); then
  # The counting script where it is here and the counting program where it
  # is in the build tree (its RUNPATH), keeping its symbols: callgrind
  # names functions by them.  Each line the script prints goes to the
  # console as it comes, then its exit status and time.
  mkdir -p "$root$source_dir/bench" "$root$build/bench"
  cp "$source_dir/bench/instructions.sh" "$root$source_dir/bench/"
  aarch64-linux-gnu-strip --strip-debug -o "$root$build/bench/call_counts" "$build/bench/call_counts"
  {
    echo "start=\$(cut -d. -f1 /proc/uptime)"
    printf '(bash %q %q' "$source_dir/bench/instructions.sh" "$build"
    (($#)) && printf ' %q' "$@"
    echo ' 2>&1; echo $? >/tmp/count-status) | while IFS= read -r line; do echo "HYX-COUNT $line"; done'
    echo 'echo "HYX-COUNT-EXIT $(cat /tmp/count-status) $(($(cut -d. -f1 /proc/uptime) - start))s"'
  } >"$root/hyx/tests.sh"
  expected=0
  memory=2048 processors=1
else
  # The source tree and the build tree where they are here; programs without
  # their debugging sections.
  copy_tree() {  # from, excluding build/
    mkdir -p "$root$1"
    (cd "$1" && find . -path ./build -prune -o -path ./.git -prune -o -name '*.o' -o -print) |
      (cd "$1" && cpio -pdm --quiet "$root$1")
  }
  copy_tree "$source_dir"
  mkdir -p "$root$build"
  (cd "$build" && find . -path ./machine -prune -o -path ./arm64 -prune -o -name '*.o' -o -name '*.a' -o -print) |
    (cd "$build" && cpio -pdm --quiet "$root$build")
  find "$root$build" -type f -perm -u+x -exec sh -c 'for f; do
    head -c 4 "$f" | grep -q ELF && aarch64-linux-gnu-strip --strip-debug "$f" 2>/dev/null; done; true' _ {} +
  find "$root$build" -name '*.so' -exec aarch64-linux-gnu-strip --strip-debug {} + 2>/dev/null || true

  # What runs: ctest's list.
  (cd "$build" && ctest --show-only=json-v1 ${filter:+-R "$filter"}) >"$machine/tests.json"
  python3 "$here/guest-list.py" "$machine/tests.json" qemu-aarch64 "$build" "$root" >"$root/hyx/tests.sh"
  expected=$(grep -cE '^(run|skip) ' "$root/hyx/tests.sh" || true)
  memory=6144 processors=2
fi

(cd "$root" && find . -print | cpio -o -H newc --quiet | gzip -1) >"$machine/initrd.gz"
echo "initramfs: $(du -h "$machine/initrd.gz" | cut -f1), $( ((instructions)) && echo "instruction counts" || echo "$expected suites")"

# The scratch disk: sparse here, an empty ext4 file system.
truncate -s 4G "$machine/scratch.img"
mkfs.ext4 -q -F -L scratch "$machine/scratch.img"

# The console whole into the log, and its result lines (a failed suite's
# output, the counts) shown as each arrives: sed -u reads and writes line by
# line, where mawk would read the pipe in blocks and show them late.
log=$machine/console.log
status=0
timeout --foreground "$bound" qemu-system-aarch64 -M virt -cpu cortex-a57 -smp "$processors" -m "$memory" -nographic -no-reboot -nic none \
  -drive file="$machine/scratch.img",format=raw,if=none,id=scratch -device virtio-blk-device,drive=scratch \
  -kernel "$vmlinuz" -initrd "$machine/initrd.gz" -append "console=ttyAMA0 panic=-1 quiet rdinit=/init" \
  </dev/null | tee "$log" | sed -u -n -e 's/\r$//' -e '/^HYX-OUTPUT-BEGIN/,/^HYX-OUTPUT-END/{p;b}' \
    -e '/^HYX-\(START\|RESULT\|DONE\|COUNT\)\|Kernel panic/p' || status=$?
sed -i 's/\r$//' "$log"
if ((instructions)); then
  echo "=== aarch64-system instructions per call"
  sed -n 's/^HYX-COUNT //p' "$log"
  read -r code took < <(sed -n 's/^HYX-COUNT-EXIT //p' "$log") || true
  if [[ -z ${code:-} ]]; then
    echo "aarch64-system: the counts did not finish within $bound s" >&2
    exit 1
  fi
  echo "aarch64-system: counted in $took on the machine, exit status $code"
  if ! grep -q '^HYX-COUNT ' "$log"; then
    echo "aarch64-system: no case counted${1:+ (is there a case named $*?)}" >&2
    exit 1
  fi
  exit "$code"
fi
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
