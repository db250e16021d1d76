#!/usr/bin/env bash
# Boots the test guest in software emulation and runs one script of a 9p-shared host folder.
#   boot.sh IMAGE_DIR SHARE_DIR SCRIPT TIMEOUT_SECONDS [--writable]
# SHARE_DIR is mounted at the same path inside the guest, so paths compiled into the programs
# hold there too. The guest's console goes to standard output. The exit status is the script's;
# 124 when the timeout ran out, 125 when the guest never reached its init.
# -snapshot leaves the image as it was unless --writable (used once, to make the Wine prefix).
set -uo pipefail
image=$1 share=$2 script=$3 limit=$4
snapshot=(-snapshot)
[ "${5:-}" = "--writable" ] && snapshot=()
for f in vmlinuz initrd.img rootfs.img; do
  [ -f "$image/$f" ] || { echo "boot: $image/$f is missing" >&2; exit 125; }
done
case "$share$script" in *[[:space:]]*) echo "boot: paths with spaces cannot go on the kernel command line" >&2; exit 125 ;; esac
log=$(mktemp)
trap 'rm -f "$log"' EXIT
# SMAP must stay off: with it, every 32-bit Wine process dies in a guest kernel oops.
timeout --kill-after=15 "$limit" qemu-system-x86_64 \
  -accel tcg,thread=multi -cpu max,smap=off -smp 2 -m 3072 \
  -no-user-config -nodefaults -display none -monitor none -serial stdio -no-reboot \
  -kernel "$image/vmlinuz" -initrd "$image/initrd.img" \
  -append "console=ttyS0 root=/dev/vda rw init=/sbin/fotex-init panic=-1 quiet loglevel=3 fotex.share=$share fotex.run=$script" \
  -drive "file=$image/rootfs.img,format=raw,if=virtio,cache=unsafe" "${snapshot[@]}" \
  -virtfs "local,path=$share,mount_tag=share,security_model=none" \
  </dev/null 2>&1 | sed -u 's/\r$//' | tee "$log"
qemu_status=${PIPESTATUS[0]}
if [ "$qemu_status" -eq 124 ] || [ "$qemu_status" -eq 137 ]; then
  echo "boot: the guest did not finish within $limit s" >&2
  exit 124
fi
if ! grep -q '^fotex-guest: up' "$log"; then
  echo "boot: the guest never reached its init (qemu exit $qemu_status)" >&2
  exit 125
fi
status=$(sed -n 's/^fotex-guest: exit \([0-9]*\)$/\1/p' "$log" | tail -n 1)
if [ -z "$status" ]; then
  echo "boot: the guest stopped before its script finished (qemu exit $qemu_status)" >&2
  exit 125
fi
exit "$status"
