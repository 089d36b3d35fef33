#!/busybox/busybox sh
# The emulated machine's init.  First stage (pid 1 on the initramfs): copy
# the tree onto a tmpfs and switch to it, since the sandbox cannot pivot
# away from the initramfs itself.  Second stage: run every suite listed in
# /hyx/tests.sh, one result line each on the console, then power off.
/busybox/busybox --install -s /busybox
export PATH=/bin:/sbin:/usr/bin:/usr/sbin:/busybox
if [ "$1" != second ]; then
  mount -t proc proc /proc
  mkdir -p /newroot
  mount -t tmpfs -o size=90% tmpfs /newroot
  for entry in /*; do
    case "$entry" in /newroot | /proc) continue ;; esac
    cp -a "$entry" /newroot/
  done
  mkdir -p /newroot/proc
  umount /proc
  exec switch_root /newroot /hyx/init.sh second
fi

mount -t proc proc /proc
mount -t sysfs sysfs /sys
mount -t devtmpfs devtmpfs /dev 2>/dev/null
mkdir -p /dev/pts /dev/shm /tmp /run /var/tmp
mount -t devpts devpts /dev/pts
mount -t tmpfs tmpfs /dev/shm
# The scratch disk holds /tmp and /var/tmp: a file system that takes
# direct reads, as the simulated host's volume images need.
while read -r module; do insmod "/hyx/modules/$module.ko"; done </hyx/modules/order
for _ in 1 2 3 4 5 6 7 8 9 10; do [ -b /dev/vda ] && break; sleep 1; done
if mount -t ext4 /dev/vda /tmp; then
  mkdir -p /tmp/.var-tmp
  mount --bind /tmp/.var-tmp /var/tmp
else
  echo "HYX-WARNING no scratch disk: /tmp and /var/tmp stay on the tmpfs"
fi
chmod 1777 /tmp /var/tmp
ip link set lo up 2>/dev/null || ifconfig lo 127.0.0.1 up
hostname hyx-aarch64
export HOME=/root LANG=C.UTF-8

# run NAME WORKDIR TIMEOUT WILL_FAIL SKIP_CODE [VAR=VALUE...] COMMAND...
run() {
  name=$1 dir=$2 limit=$3 willFail=$4 skipCode=$5
  shift 5
  set -- env "$@"
  start=$(cut -d. -f1 /proc/uptime)
  (cd "$dir" && timeout "$limit" "$@") >/tmp/out 2>&1
  code=$?
  took=$(($(cut -d. -f1 /proc/uptime) - start))
  result=fail
  if [ "$skipCode" != - ] && [ "$code" = "$skipCode" ]; then
    result=skip
  elif { [ "$willFail" = 0 ] && [ "$code" = 0 ]; } || { [ "$willFail" = 1 ] && [ "$code" != 0 ]; }; then
    result=pass
  fi
  if [ "$result" = fail ]; then
    echo "HYX-OUTPUT-BEGIN $name"
    tail -n 60 /tmp/out
    echo "HYX-OUTPUT-END $name"
  fi
  echo "HYX-RESULT $name $result exit=$code ${took}s"
}
skip() { echo "HYX-RESULT $1 skip $2"; }

echo "HYX-START $(uname -m) $(nproc) processors"
. /hyx/tests.sh
echo "HYX-DONE"
sync
poweroff -f
