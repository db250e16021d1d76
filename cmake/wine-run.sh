#!/bin/sh
# Runs a Windows program of this build tree under 64-bit Wine, in the tree's own prefix.
# FOTEX_WINEPREFIX is set by ctest; fall back to the prefix beside the working directory.
: "${WINEPREFIX:=${FOTEX_WINEPREFIX:-$PWD/wineprefix}}"
export WINEPREFIX
export WINEDEBUG="${WINEDEBUG:--all}"
export WINEDLLOVERRIDES="${WINEDLLOVERRIDES:-mscoree,mshtml=}"
exec /usr/lib/wine/wine64 "$@"
