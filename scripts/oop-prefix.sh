#!/usr/bin/env bash
# Makes (once) and registers the Wine prefix in which tests meet the virtual camera in another
# process: FotexSimServer.exe as the local server of the image-acquisition service's class, in
# place of Wine's own service, and FotexSimPS.dll's proxies. Only this prefix is changed.
#   oop-prefix.sh BUILD_DIR [PREFIX]
# PREFIX is BUILD_DIR/wineprefix-oop unless given; FOTEX_WINE names the Wine loader (64-bit Wine
# on this machine; the emulated i686 machine gives its 32-bit one, with a copy of its prefix).
set -euo pipefail
build=$(cd "$1" && pwd)
prefix=${2:-$build/wineprefix-oop}
wine=${FOTEX_WINE:-/usr/lib/wine/wine64}
export WINEPREFIX="$prefix" WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="

for f in FotexSimServer.exe FotexSimPS.dll; do
  [ -f "$build/$f" ] || { echo "oop-prefix: $build/$f is not built" >&2; exit 1; }
done
if [ ! -f "$prefix/system.reg" ]; then
  echo "oop-prefix: creating Wine prefix $prefix"
  "$wine" wineboot --init >/dev/null 2>&1 || true
  "$(dirname "$(command -v "$wine")")/wineserver" -w 2>/dev/null || true
fi

winpath() { printf 'Z:%s' "$1" | sed 's#/#\\\\#g'; }
server=$(winpath "$build/FotexSimServer.exe")
reg=$(mktemp --suffix=.reg)
trap 'rm -f "$reg"' EXIT
cat >"$reg" <<REG
REGEDIT4

[HKEY_LOCAL_MACHINE\\Software\\Classes\\CLSID\\{A1F4E726-8CF1-11D1-BF92-0060081ED811}\\LocalServer32]
@="$server"

[HKEY_LOCAL_MACHINE\\Software\\Classes\\AppID\\{A1F4E726-8CF1-11D1-BF92-0060081ED811}]
"LocalService"=-

[HKEY_LOCAL_MACHINE\\Software\\Classes\\CLSID\\{C4BAC9C0-2F6F-4343-9F7C-5974B944672F}]
@="Fotex virtual camera control"

[HKEY_LOCAL_MACHINE\\Software\\Classes\\CLSID\\{C4BAC9C0-2F6F-4343-9F7C-5974B944672F}\\LocalServer32]
@="$server"
REG
"$wine" regedit /S "$(winpath "$reg")"
"$wine" regsvr32 /s "$(winpath "$build/FotexSimPS.dll")" || { echo "oop-prefix: regsvr32 failed" >&2; exit 1; }
# The registry lives in the prefix's wineserver until it ends; ask it, not the files.
query() { "$wine" reg query "$1" 2>/dev/null | tr -d '\r' | grep -qi "$2"; }
query 'HKLM\Software\Classes\CLSID\{A1F4E726-8CF1-11D1-BF92-0060081ED811}\LocalServer32' FotexSimServer ||
  { echo "oop-prefix: the server is not registered" >&2; exit 1; }
query 'HKLM\Software\Classes\Interface\{98B5E8A0-29CC-491A-AAC0-E6DB4FDCCEB6}\ProxyStubClsid32' AD8A4453 ||
  { echo "oop-prefix: the proxies are not registered" >&2; exit 1; }
