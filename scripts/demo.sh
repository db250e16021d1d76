#!/usr/bin/env bash
# Installs what is missing, builds, and runs the fotex host against the virtual camera.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
"$root/scripts/build.sh" >/dev/null
cd "$root/build/x64"
export WINEPREFIX="$PWD/wineprefix" WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
# Wine maps file names through the Unix locale; in the C locale (LANG unset, as in a fresh
# container) it cannot make the demo's non-ASCII names. A UTF-8 locale of the caller's is kept.
case "$(locale charmap 2>/dev/null)" in UTF-8) ;; *) export LC_ALL=C.UTF-8 ;; esac
# Each command with its exit status: 0 done, 1 failed, 2 a wrong command line.
run() {
  echo "\$ fotex $*"
  local status=0
  /usr/lib/wine/wine64 ./fotex.exe "$@" || status=$?
  echo "(exit status $status)"
  echo
}
run --version
run --virtual --auto-detect
run --virtual --parsable --auto-detect
run --virtual --summary
# Camera settings: one integer and one text, set and read back in one session.
run --virtual --device 1 --list-config
run --virtual --set-config flashmode=3 --get-config flashmode --set-config artist="Jörg Müller" --get-config artist
# Values are decimal: 010 is ten; hexadecimal is refused before anything is done.
run --virtual --set-config exposurecomp=010 --set-config exposurecomp=0x230
# A setting's choices, a value by its name, and one the camera does not take.
run --virtual --get-config fnumber --set-config fnumber=f/5.6 --get-config flashmode
run --virtual --set-config fnumber=10
# Pictures from the virtual camera land in build/x64/demo.
rm -rf demo && mkdir demo
run --virtual --abilities --storage-info
run --virtual --capture-image-and-download --filename 'demo\shot' --format jpg
# Each capture its own name; a file in the way is refused before the picture is taken,
# skipped with --skip-existing, replaced only with --force-overwrite.
run --virtual --filename 'demo\%Y%m%d-%n' --capture-image-and-download --capture-image-and-download
run --virtual --capture-image-and-download --filename 'demo\shot'
run --virtual --skip-existing --capture-image-and-download --filename 'demo\shot'
# The library's own trace goes to standard error; standard output holds results only.
echo "\$ fotex --auto-detect 2>/dev/null   (Wine's own service, without the virtual camera)"
/usr/lib/wine/wine64 ./fotex.exe --auto-detect 2>/dev/null || echo "(exit status $?, nothing on standard output)"
echo
# Every file in its own format under the camera's name; run again, what is there is skipped.
run --virtual --get-all-files --filename 'demo\camera\all\%f'
run --virtual --get-all-files --skip-existing --filename 'demo\camera\all\%f'
# -f is the camera's folder, as in gphoto2; where the files go is said in --filename.
run --virtual --list-folders -f /DCIM --num-files
run --virtual -P -f 'demo\camera'
# What is on the camera, by number; the camera's own names with %f.
run --virtual --list-files --get-file 2-3 --filename 'demo\camera\picked\%n-%f' --delete-file 1 --num-files
# A folder of pictures as a camera: the pictures just taken, listed, one saved with its thumbnail.
run --virtual-folder 'demo\camera\picked' --list-files --get-file 1 --filename 'demo\fromfolder\%f' --get-thumbnail 1 --filename 'demo\fromfolder\thumb_%f'
# Events and tethered shooting: FotexSim presses the virtual camera's own button while fotex waits.
run --virtual --virtual-shutter 2 --wait-event=2
run --virtual --virtual-shutter 3 --capture-tethered=3 --filename 'demo\tethered\%f'
# A slowed download shows its progress (file, percent, bytes, rate) on the console's stderr.
run --virtual --virtual-rate 3000 -p 1-2 --filename 'demo\slow\%f'
# Ctrl-C during the second transfer cancels it: no partial file, the picture stays on the
# camera, what was not saved is named, and the status is 1.
run --virtual --virtual-rate 3000 --virtual-interrupt 2 --no-keep -P --filename 'demo\interrupted\%f'
# One file's bytes on standard output, nothing else there.
echo "\$ fotex --virtual --stdout -p 1 | wc -c"
/usr/lib/wine/wine64 ./fotex.exe --virtual --stdout -p 1 | wc -c
echo
echo "The new pictures are in $PWD/demo; every picture and video of the camera is in $PWD/demo/camera/all/;"
echo "the folder camera's first picture and its thumbnail are in $PWD/demo/fromfolder/;"
echo "the pictures taken with the camera's own button are in $PWD/demo/tethered/."
