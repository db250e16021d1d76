#!/usr/bin/env bash
# Builds both architectures.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
"$root/scripts/setup.sh"
cd "$root"
cmake --build --preset x86
cmake --build --preset x64
