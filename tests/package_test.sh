#!/usr/bin/env bash
# The kit as a host developer receives it: make the zip, unpack it outside the source tree,
# build both examples against the unpacked package alone, run them under 64-bit Wine against
# the virtual camera and check what they print.
# Usage: package_test.sh <x64 build tree> <source tree>
set -euo pipefail
build=$1 source=$2
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
fail() { echo "package_test: $*" >&2; exit 1; }

(cd "$build" && cpack -G ZIP -B "$work/cpack" >/dev/null)
unzip -q "$work"/cpack/Fotex-*-win.zip -d "$work/unzipped"
kit=$(echo "$work"/unzipped/Fotex-*-win)

for f in bin/x86/Fotex.dll bin/x86/FotexSim.dll bin/x64/Fotex.dll bin/x64/FotexSim.dll bin/x64/fotex.exe \
         include/fotex.h include/fotexsim_api.h lib/x86/libFotex.dll.a lib/x86/Fotex.lib \
         lib/x64/libFotex.dll.a lib/x64/Fotex.lib lib/cmake/Fotex/FotexConfig.cmake \
         lib/cmake/Fotex/FotexConfigVersion.cmake README.md LICENSE docs/host-guide.md; do
  [ -s "$kit/$f" ] || fail "missing $f"
done
[[ $(file -b "$kit/bin/x86/Fotex.dll") == *"Intel 80386"* ]] || fail "bin/x86/Fotex.dll is not i686"
[[ $(file -b "$kit/bin/x64/Fotex.dll") == *x86-64* ]] || fail "bin/x64/Fotex.dll is not x86_64"

# MSVC links cdecl names with a leading underscore on i686 only.
symbols() { "$1" "$kit/lib/$2/Fotex.lib"; }
nm86=$(symbols i686-w64-mingw32-nm x86) nm64=$(symbols x86_64-w64-mingw32-nm x64)
grep -q ' I __imp__VexaVersionInfo$' <<<"$nm86" || fail "x86 Fotex.lib lacks __imp__VexaVersionInfo"
grep -q ' T _VexaVersionInfo$' <<<"$nm86" || fail "x86 Fotex.lib lacks _VexaVersionInfo"
grep -q ' I __imp_VexaVersionInfo$' <<<"$nm64" || fail "x64 Fotex.lib lacks __imp_VexaVersionInfo"
grep -q ' T VexaVersionInfo$' <<<"$nm64" || fail "x64 Fotex.lib lacks VexaVersionInfo"

for example in capture-c settings-cpp; do
  cmake -S "$kit/examples/$example" -B "$work/$example" -G Ninja -DCMAKE_BUILD_TYPE=Release \
        -DCMAKE_TOOLCHAIN_FILE="$source/cmake/mingw-x86_64.cmake" -DCMAKE_PREFIX_PATH="$kit" >/dev/null
  grep -q "^Fotex_DIR:PATH=$kit/lib/cmake/Fotex$" "$work/$example/CMakeCache.txt" ||
    fail "$example found Fotex outside the unpacked kit"
  cmake --build "$work/$example" >/dev/null
done

export WINEPREFIX="$build/wineprefix" WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
run() { (cd "$work/$1" && /usr/lib/wine/wine64 "./$2" --virtual | tr -d '\r'); }
expect() { grep -qxF -- "$2" <<<"$1" || { printf '%s\n' "$1" >&2; fail "expected the line: $2"; }; }

out=$(run capture-c capture.exe) || fail "capture.exe failed: $out"
expect "$out" "device 0"
expect "$out" "  name: Fotex Virtual Camera"
expect "$out" "saved capture-c-picture.jpg"
[ "$(head -c 2 "$work/capture-c/capture-c-picture.jpg" | od -An -tx1 | tr -d ' ')" = ffd8 ] ||
  fail "capture-c-picture.jpg is not a JPEG"

out=$(run settings-cpp settings.exe) || fail "settings.exe failed: $out"
expect "$out" "f-number x100 = 280"
expect "$out" "battery status = 80"
expect "$out" "flash mode: 1 -> 3"
expect "$out" 'artist: "Fotex" -> "Ann Smith"'
echo "package_test: $(basename "$work"/cpack/Fotex-*-win.zip) $(stat -c %s "$work"/cpack/Fotex-*-win.zip) bytes; both examples built and ran"
