#!/usr/bin/env bash
# Makes the test guest for 32-bit code, from Debian's packages alone, and prints its folder:
# a Debian 12 amd64 system (its kernel runs 32-bit programs) with 32-bit Wine through multiarch,
# a win32 Wine prefix made once inside it, and the kernel and initrd to boot it directly.
# Kept in ${FOTEX_GUEST_CACHE:-/var/cache/fotex-guest}/<hash of this script and init>, so an
# unchanged recipe reuses the image and a changed one makes a new one. Built under a temporary
# name and renamed when complete: an interrupted build is never taken for a finished one.
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
cache=${FOTEX_GUEST_CACHE:-/var/cache/fotex-guest}
say() { echo "make-image: $*" >&2; }

hash=$(cat "$here/make-image.sh" "$here/init" | sha256sum | cut -c1-16)
image="$cache/$hash"
if [ -f "$image/ready" ]; then
  echo "$image"
  exit 0
fi

sudo=""
[ "$(id -u)" -eq 0 ] || sudo="sudo"
packages=(qemu-system-x86 qemu-utils debootstrap e2fsprogs debian-archive-keyring)
missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
done
if [ ${#missing[@]} -gt 0 ]; then
  say "installing ${missing[*]}"
  export DEBIAN_FRONTEND=noninteractive
  $sudo apt-get update -qq
  $sudo apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
fi
if [ -n "$sudo" ]; then
  say "building the image needs root (debootstrap, chroot): run as root or through sudo"
  exec $sudo --preserve-env=FOTEX_GUEST_CACHE bash "$0" "$@"
fi

# The Debian mirror this machine's own apt sources use.
mirror=$(
  { grep -hs '^URIs:' /etc/apt/sources.list.d/*.sources | awk '{for (i = 2; i <= NF; i++) print $i}' || true
    grep -hs '^deb ' /etc/apt/sources.list /etc/apt/sources.list.d/*.list |
      sed 's/\[[^]]*\]//' | awk '{print $2}' || true
  } 2>/dev/null | grep -E '/debian/?$' | head -n 1 || true)
if [ -z "$mirror" ]; then
  say "no Debian mirror in this machine's apt sources (/etc/apt/sources.list, /etc/apt/sources.list.d/):"
  say "the guest is made from the same mirror as this machine; add one and run again"
  exit 1
fi
mirror=${mirror%/}

mkdir -p "$cache"
exec 9>"$cache/.lock"
flock 9   # one build at a time; a second caller then finds the image made
if [ -f "$image/ready" ]; then
  echo "$image"
  exit 0
fi
rm -rf "$cache"/.build-*   # left by an interrupted build (we hold the lock)

work="$cache/.build-$hash-$$"
root="$work/root"
started=$(date +%s)
cleanup() {
  for m in dev/pts dev sys proc; do
    mountpoint -q "$root/$m" 2>/dev/null && umount -l "$root/$m"
  done
  rm -rf "$work"
}
trap cleanup EXIT
mkdir -p "$work"

say "debootstrap bookworm from $mirror (about 8 minutes)"
debootstrap --arch=amd64 --variant=minbase \
  --include=linux-image-amd64,kmod,initramfs-tools,procps \
  bookworm "$root" "$mirror" >"$work/debootstrap.log" 2>&1 || {
  tail -n 30 "$work/debootstrap.log" >&2; say "debootstrap failed"; exit 1; }

say "installing 32-bit Wine"
cat >"$root/etc/apt/sources.list" <<SOURCES
deb $mirror bookworm main
deb $mirror bookworm-updates main
SOURCES
printf '#!/bin/sh\nexit 101\n' >"$root/usr/sbin/policy-rc.d"
chmod +x "$root/usr/sbin/policy-rc.d"
mount -t proc proc "$root/proc"
mount -t sysfs sysfs "$root/sys"
mount --bind /dev "$root/dev"
mount --bind /dev/pts "$root/dev/pts"
chroot "$root" /bin/sh -ec '
  export DEBIAN_FRONTEND=noninteractive
  dpkg --add-architecture i386
  apt-get update -qq
  apt-get install -y -qq --no-install-recommends wine wine32:i386 >/dev/null
  apt-get clean
  rm -rf /var/lib/apt/lists/*' >"$work/chroot.log" 2>&1 || {
  tail -n 30 "$work/chroot.log" >&2; say "installing Wine in the guest failed"; exit 1; }
for m in dev/pts dev sys proc; do umount "$root/$m"; done
rm -f "$root/usr/sbin/policy-rc.d"
install -m 755 "$here/init" "$root/sbin/fotex-init"
wine_version=$(chroot "$root" dpkg-query -W -f='${Version}' wine32:i386)
kernel=$(ls "$root"/boot/vmlinuz-* | sort -V | tail -n 1)
cp "$kernel" "$work/vmlinuz"
cp "$(ls "$root"/boot/initrd.img-* | sort -V | tail -n 1)" "$work/initrd.img"

say "writing the disk image"
truncate -s 4G "$work/rootfs.img"
mkfs.ext4 -q -F -L fotex-guest -d "$root" "$work/rootfs.img"
rm -rf "$root"

# The win32 prefix takes about a minute to make in the emulator: made once, kept in the image.
say "making the win32 Wine prefix inside the guest (about 2 minutes)"
mkdir -p "$work/share"
cat >"$work/share/prefix.sh" <<'PREFIX'
export WINEARCH=win32 WINEPREFIX=/root/wine32 WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
# On a loaded host the emulated machine is slow enough for wineboot to fail now and then
# ("could not load kernel32.dll", exit 53): a fresh prefix is tried three times.
for attempt in 1 2 3; do
  rm -rf /root/wine32
  if wine wineboot --init && wineserver -w && test -f /root/wine32/system.reg; then exit 0; fi
  echo "prefix: attempt $attempt failed"
  wineserver -k 2>/dev/null || true
  sleep 5
done
exit 1
PREFIX
if ! bash "$here/boot.sh" "$work" "$work/share" "$work/share/prefix.sh" 900 --writable >"$work/prefix.log" 2>&1; then
  tail -n 30 "$work/prefix.log" >&2
  say "making the Wine prefix inside the guest failed"
  exit 1
fi

elapsed=$(( $(date +%s) - started ))
cat >"$work/info" <<INFO
recipe $hash
mirror $mirror
wine $wine_version
kernel ${kernel##*/}
built $(date -u +%Y-%m-%dT%H:%M:%SZ) in $elapsed s
INFO
touch "$work/ready"
rm -rf "$work/share" "$work"/*.log
mv -T "$work" "$image"
trap - EXIT
say "image ready in $elapsed s: $image ($(du -sh --apparent-size "$image/rootfs.img" | cut -f1) file, $(du -sh "$image/rootfs.img" | cut -f1) used)"
echo "$image"
