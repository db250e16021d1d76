#!/usr/bin/env bash
# Installs what is missing, builds both DLLs and runs every test (64-bit ones under Wine,
# static checks of the 32-bit DLL).
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
"$root/scripts/build.sh"
cd "$root"
ctest --preset x64 "$@"
