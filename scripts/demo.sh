#!/usr/bin/env bash
# Installs what is missing, builds, and runs the fotex host against the virtual camera.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
"$root/scripts/build.sh" >/dev/null
cd "$root/build/x64"
export WINEPREFIX="$PWD/wineprefix" WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
run() { echo "\$ fotex $*"; /usr/lib/wine/wine64 ./fotex.exe "$@"; echo; }
run --version
run --virtual --auto-detect
run --virtual --summary
# Camera settings: one integer and one text, set and read back in one session.
run --virtual --device 1 --list-config
run --virtual --set-config flashmode=3 --get-config flashmode --set-config artist="Ann Smith" --get-config artist
# Pictures from the virtual camera land in build/x64/demo.
rm -rf demo && mkdir demo
run --virtual --abilities --storage-info
run --virtual --capture-image-and-download --filename 'demo\shot' --format jpg
run --virtual --get-all-files --folder 'demo\camera' --prefix img
echo "The new picture is $PWD/demo/shot.jpg; every picture and video of the camera is in $PWD/demo/camera/."
