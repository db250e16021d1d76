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

# The zip depends neither on when nor where it was made: packed again later it is the same
# bytes, no file in it names the build or source folder, and no library member carries a path.
sleep 1
(cd "$build" && cpack -G ZIP -B "$work/again" >/dev/null)
cmp -s "$work"/cpack/Fotex-*-win.zip "$work"/again/Fotex-*-win.zip || fail "a second pack differs from the first"
for folder in "$build" "$source"; do
  ! grep -rlF "$folder" "$kit" || fail "these kit files name the folder $folder"
done
for library in "$kit"/lib/*/*.lib "$kit"/lib/*/*.a; do
  ! ar t "$library" | grep / || fail "members of $library carry a path"
done

for f in bin/x86/Fotex.dll bin/x86/FotexSim.dll bin/x64/Fotex.dll bin/x64/FotexSim.dll bin/x64/fotex.exe \
         include/fotex.h include/fotexsim_api.h lib/x86/libFotex.dll.a lib/x86/Fotex.lib \
         lib/x64/libFotex.dll.a lib/x64/Fotex.lib lib/x86/libFotexSim.dll.a lib/x86/FotexSim.lib \
         lib/x64/libFotexSim.dll.a lib/x64/FotexSim.lib lib/cmake/Fotex/FotexConfig.cmake \
         lib/cmake/Fotex/FotexConfigVersion.cmake README.md LICENSE docs/host-guide.md \
         toolchains/mingw-i686.cmake toolchains/mingw-x86_64.cmake toolchains/mingw-common.cmake; do
  [ -s "$kit/$f" ] || fail "missing $f"
done
[[ $(file -b "$kit/bin/x86/Fotex.dll") == *"Intel 80386"* ]] || fail "bin/x86/Fotex.dll is not i686"
[[ $(file -b "$kit/bin/x64/Fotex.dll") == *x86-64* ]] || fail "bin/x64/Fotex.dll is not x86_64"

# The kit's README names only what the kit holds: every path in inline code or a link (a name
# with a slash from the kit's top, a bare file name anywhere in it).
awk '/^```/ {fenced = !fenced; next} !fenced' "$kit/README.md" |
  grep -oE '`[^` ]+`|\]\([^)]+\)' | sed -E 's/^`|`$|^\]\(|\)$//g' | sort -u >"$work/readme-paths"
grep -q 'docs/host-guide.md' "$work/readme-paths" || fail "found no paths in the kit's README"
while read -r path; do
  case $path in
    -* | /*) ;; # options: /SAFESEH, --virtual
    */*) [ -e "$kit/${path%/}" ] || fail "README.md names $path, which the kit lacks" ;;
    *.*) [ -n "$(find "$kit" -name "$path" -print -quit)" ] || fail "README.md names $path, which the kit lacks" ;;
  esac
done <"$work/readme-paths"

# MSVC links cdecl names with a leading underscore on i686 only.
symbols() { "$1" "$kit/lib/$2/Fotex.lib"; }
nm86=$(symbols i686-w64-mingw32-nm x86) nm64=$(symbols x86_64-w64-mingw32-nm x64)
grep -q ' I __imp__VexaVersionInfo$' <<<"$nm86" || fail "x86 Fotex.lib lacks __imp__VexaVersionInfo"
grep -q ' T _VexaVersionInfo$' <<<"$nm86" || fail "x86 Fotex.lib lacks _VexaVersionInfo"
grep -q ' I __imp_VexaVersionInfo$' <<<"$nm64" || fail "x64 Fotex.lib lacks __imp_VexaVersionInfo"
grep -q ' T VexaVersionInfo$' <<<"$nm64" || fail "x64 Fotex.lib lacks VexaVersionInfo"

# Microsoft's toolchain: every name of each module-definition file is imported undecorated, and a
# host with no C runtime, built by clang for the MSVC targets and linked by lld-link against the
# kit's Fotex.lib and FotexSim.lib (with /SAFESEH on i686, as Visual Studio's 32-bit projects
# link), runs under Wine (x64) or is read as a file (x86: 32-bit code cannot run on this kernel).
llvm() { local n; for n in "$1" "$1"-{19,18,17,16,15,14}; do command -v "$n" && return; done; fail "no $1"; }
dlltool=$(llvm llvm-dlltool)
readobj=$(llvm llvm-readobj)
lld_link=$(llvm lld-link)
clang=$(llvm clang)
def_names() { sed -e 's/;.*//' -e '1,/^EXPORTS/d' "$1" | awk 'NF {print $1}' | sort; }
# The name a program imports for each member: "noprefix" drops the cdecl underscore of i686.
imported() {
  "$readobj" "$1" | awk '/^Name type:/ {type = $3}
    /^Symbol: / && $2 !~ /^__imp_/ && type != "" {name = $2; if (type != "name") sub(/^_/, "", name);
                                                  if (type == "undecorate") sub(/@.*/, "", name); print name; type = ""}' | sort
}
host_imports=$(printf '%s\n' CloseWiaDevice EnumerateWiaDevices GetFlashMode GetWiaDeviceInfo OpenWiaDevice \
               SetFlashMode TakeAPicture TransferPicture VexaVersionInfo)
# lld-link turns /SAFESEH on for i386 by itself; it is named to make the point.
for target in "x86 i686 i386 /safeseh" "x64 x86_64 i386:x86-64"; do
  read -r arch cpu machine seh <<<"$target"
  out=$work/msvc/$arch
  mkdir -p "$out"
  for def in "$source/src/exports/Fotex.def" "$source/simulator/FotexSim.def"; do
    lib=$(basename "$def" .def).lib
    [ "$(imported "$kit/lib/$arch/$lib")" = "$(def_names "$def")" ] ||
      fail "$arch $lib does not import exactly the undecorated names of $(basename "$def")"
  done
  # The 64-bit machine has no stdcall decoration to kill.
  sed "$([ "$arch" = x64 ] && echo 's/@[0-9]*$//')" "$source/tests/msvc/kernel32.def" >"$out/kernel32.def"
  "$dlltool" -m "$machine" -k -d "$out/kernel32.def" -D kernel32.dll -l "$out/kernel32.lib"
  "$clang" --target="$cpu-pc-windows-msvc" -std=c89 -pedantic -Wall -Wextra -Werror -ffreestanding -O1 \
           -I"$kit/include" -c "$source/tests/msvc/host.c" -o "$out/host.obj"
  "$lld_link" /nologo /entry:start /subsystem:console /nodefaultlib ${seh:+"$seh"} /out:"$out/host.exe" \
              "$out/host.obj" "$kit/lib/$arch/Fotex.lib" "$kit/lib/$arch/FotexSim.lib" "$out/kernel32.lib" ||
    fail "lld-link refused the $arch Fotex.lib or FotexSim.lib"
  headers=$("$readobj" --file-headers "$out/host.exe")
  grep -q "Machine: IMAGE_FILE_MACHINE_$([ "$arch" = x64 ] && echo AMD64 || echo I386)" <<<"$headers" ||
    fail "$arch host.exe has the wrong machine"
  [ "$("$readobj" --coff-imports "$out/host.exe" | awk '/^  Name: / {dll = $2} /^  Symbol: / && dll == "Fotex.dll" {print $2}' | sort)" = "$host_imports" ] ||
    fail "$arch host.exe does not import its Fotex.dll functions by their undecorated names"
  [ "$("$readobj" --coff-imports "$out/host.exe" | awk '/^  Name: / {dll = $2} /^  Symbol: / && dll == "FotexSim.dll" {print $2}')" = FotexSimRegister ] ||
    fail "$arch host.exe does not import FotexSimRegister from FotexSim.dll"
done

# Both examples cross-build with the kit's own toolchain file: one finds the package through
# CMAKE_PREFIX_PATH, the other through Fotex_DIR, as under a toolchain that confines package
# search to its root path.
build_example() { # <example> <machine> <build folder> <how to find the package>
  local example=$1 machine=$2 folder=$3
  shift 3
  cmake -S "$kit/examples/$example" -B "$folder" -G Ninja -DCMAKE_BUILD_TYPE=Release \
        -DCMAKE_TOOLCHAIN_FILE="$kit/toolchains/mingw-$machine.cmake" "$@" >/dev/null
  grep -q "^Fotex_DIR:[A-Z]*=$kit/lib/cmake/Fotex$" "$folder/CMakeCache.txt" ||
    fail "$example found Fotex outside the unpacked kit"
  cmake --build "$folder" >/dev/null
}
build_example capture-c x86_64 "$work/capture-c" -DCMAKE_PREFIX_PATH="$kit"
build_example settings-cpp x86_64 "$work/settings-cpp" -DCMAKE_FIND_ROOT_PATH_MODE_PACKAGE=ONLY -DFotex_DIR="$kit/lib/cmake/Fotex"
# The 32-bit one cannot run here: it is built and its machine read.
build_example capture-c i686 "$work/capture-c-x86" -DCMAKE_PREFIX_PATH="$kit"
# A host's test program requires the kit's API level (the package's version is 1.3.<level>) and
# links the virtual camera's import library; a level the kit lacks is refused.
level=$(sed -n 's/^#define FOTEX_API_LEVEL \([0-9]*\)$/\1/p' "$kit/include/fotex.h")
[ -n "$level" ] || fail "the kit's fotex.h defines no FOTEX_API_LEVEL"
cp -r "$source/tests/kit-host" "$work/kit-host-src"
for machine in x86_64 i686; do
  cmake -S "$work/kit-host-src" -B "$work/kit-host-$machine" -G Ninja -DCMAKE_PREFIX_PATH="$kit" \
        -DCMAKE_TOOLCHAIN_FILE="$kit/toolchains/mingw-$machine.cmake" -DFOTEX_REQUIRED_VERSION=1.3.$level >/dev/null
  cmake --build "$work/kit-host-$machine" >/dev/null || fail "the $machine kit host did not build against the kit"
done
arch=x64
[ "$(cat "$work/kit-host-x86_64/fotex-package.txt")" = "$(printf '%s\n' "version 1.3.$level" "level $level" \
    "runtime $kit/bin/$arch/Fotex.dll" "test $kit/bin/$arch/FotexSim.dll")" ] ||
  { cat "$work/kit-host-x86_64/fotex-package.txt" >&2; fail "the package's version or DLL lists are not as documented"; }
! cmake -S "$work/kit-host-src" -B "$work/kit-host-later" -G Ninja -DCMAKE_PREFIX_PATH="$kit" \
      -DCMAKE_TOOLCHAIN_FILE="$kit/toolchains/mingw-x86_64.cmake" -DFOTEX_REQUIRED_VERSION=1.3.$((level + 1)) \
      >"$work/later.log" 2>&1 || fail "find_package(Fotex 1.3.$((level + 1))) took a kit of level $level"
grep -q 'version: 1.3.'"$level" "$work/later.log" || { cat "$work/later.log" >&2; fail "the refusal does not name the kit's version"; }
[[ $(file -b "$work/capture-c-x86/capture.exe") == *"Intel 80386"* ]] || fail "the i686 toolchain built no 32-bit program"
[ -s "$work/capture-c-x86/Fotex.dll" ] && cmp -s "$work/capture-c-x86/Fotex.dll" "$kit/bin/x86/Fotex.dll" ||
  fail "the 32-bit build did not take the 32-bit Fotex.dll"

export WINEPREFIX="$build/wineprefix" WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
run() { (cd "$work/$1" && /usr/lib/wine/wine64 "./$2" --virtual | tr -d '\r'); }
expect() { grep -qxF -- "$2" <<<"$1" || { printf '%s\n' "$1" >&2; fail "expected the line: $2"; }; }

out=$(run capture-c capture.exe) || fail "capture.exe failed: $out"
expect "$out" "device 0"
expect "$out" "  name: Fotex Virtual Camera"
expect "$out" "saved capture-c-picture.jpg"
[ "$(head -c 2 "$work/capture-c/capture-c-picture.jpg" | od -An -tx1 | tr -d ' ')" = ffd8 ] ||
  fail "capture-c-picture.jpg is not a JPEG"

cp "$kit"/bin/x64/Fotex.dll "$kit"/bin/x64/FotexSim.dll "$work/msvc/x64"
out=$(cd "$work/msvc/x64" && /usr/lib/wine/wine64 ./host.exe | tr -d '\r') || fail "the MSVC host failed: $out"
for line in "Fotex 1.3 1.3.0.0 x64" "register: 1" "enumerate: 1" "devices: 2" "device 0: Fotex Virtual Camera" \
            "open: 1" "set flash mode: 1" "flash mode: 1 -> 3" "picture taken: 1" "saved msvc-host-picture.jpg" "closed: 1"; do
  expect "$out" "$line"
done
[ "$(head -c 2 "$work/msvc/x64/msvc-host-picture.jpg" | od -An -tx1 | tr -d ' ')" = ffd8 ] ||
  fail "the MSVC host's picture is not a JPEG"

out=$(run kit-host-x86_64 kithost.exe) || fail "kithost.exe failed: $out"
for line in "api level: $level, header $level" "register: 1" "transfer rate: 1" "enumerate: 1" "devices: 2"; do
  expect "$out" "$line"
done

out=$(run settings-cpp settings.exe) || fail "settings.exe failed: $out"
expect "$out" "F Number = f/2.8  [f/2.8, f/4, f/5.6, f/8, f/11, f/16]"
expect "$out" "Battery Status = 80  [read only; 0 to 100, step 1]"
expect "$out" "Flash Mode: Auto -> Fill"
expect "$out" 'Artist: "Fotex" -> "Ann Smith"'
echo "package_test: $(basename "$work"/cpack/Fotex-*-win.zip) $(stat -c %s "$work"/cpack/Fotex-*-win.zip) bytes; both examples built and ran"
