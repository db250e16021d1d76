#!/usr/bin/env bash
# Builds the kit from the last commit in two fresh clones at folders of different names and
# lengths, and compares the two zips byte for byte. About twice the time of a build of the DLLs.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
"$root/scripts/setup.sh"
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
commit=$(git -C "$root" rev-parse HEAD)
for folder in "$work/a" "$work/second-folder"; do
  git clone -q "$root" "$folder"
  git -C "$folder" checkout -q "$commit"
  (cd "$folder"
   for preset in x86 x64; do
     cmake --preset "$preset" >/dev/null
     cmake --build --preset "$preset" -j2 --target Fotex FotexSim fotex fotex_msvc_implib >/dev/null
   done
   cd build/x64 && cpack -G ZIP -B "$folder/zip" >/dev/null)
done
sha256sum "$work"/a/zip/*.zip "$work"/second-folder/zip/*.zip
cmp "$work"/a/zip/*.zip "$work"/second-folder/zip/*.zip && echo "kit-reproducible: the two zips are identical"
