#!/usr/bin/env bash
# Installs what a fresh Debian 12 amd64 machine lacks for building and testing Fotex, configures
# both build trees and prepares the test tree's Wine prefix. Quick when everything is present.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)

packages=(cmake ninja-build g++-mingw-w64-i686-posix g++-mingw-w64-x86-64-posix
          binutils-mingw-w64-i686 binutils-mingw-w64-x86-64 googletest wine64 libstb-dev
          zip unzip file clang lld llvm mono-mcs python3 mingw-w64-tools)
missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
done
if [ ${#missing[@]} -gt 0 ]; then
  echo "setup: installing ${missing[*]}"
  sudo=""
  [ "$(id -u)" -eq 0 ] || sudo="sudo"
  export DEBIAN_FRONTEND=noninteractive
  $sudo apt-get update -qq
  $sudo apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
fi

cd "$root"
for preset in x86 x64; do
  [ -f "build/$preset/build.ninja" ] || cmake --preset "$preset" >/dev/null
done

# A prefix of the test tree's own; made once, quietly (no Mono or Gecko prompts).
prefix="$root/build/x64/wineprefix"
if [ ! -f "$prefix/system.reg" ]; then
  echo "setup: creating Wine prefix $prefix"
  LC_ALL=C.UTF-8 WINEPREFIX="$prefix" WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml=" \
    /usr/lib/wine/wine64 wineboot --init >/dev/null 2>&1 || true
  WINEPREFIX="$prefix" /usr/lib/wine/wineserver -w 2>/dev/null || true
fi
