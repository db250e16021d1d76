#!/bin/sh
# Runs inside the test guest: every test program of a build tree's list, each as one 32-bit Wine
# process in the prefix made with the image, with its output and exit status kept in a folder.
#   suite.sh BUILD_TREE OUT_DIR
tree=$1 out=$2
export WINEARCH=win32 WINEPREFIX=/root/wine32 WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
cd "$tree" || exit 1
: >"$out/results"
# One wineserver for the whole run: each later program then starts in about a second.
wineserver -p
while read -r name; do
  [ -n "$name" ] || continue
  echo "fotex-guest: running $name"
  start=$(date +%s)
  timeout -k 10 "${FOTEX_GUEST_TEST_TIMEOUT:-600}" wine "./$name.exe" </dev/null >"$out/$name.log" 2>&1
  status=$?
  echo "$name $status $(( $(date +%s) - start ))" >>"$out/results"
done <fotex-tests.txt
wineserver -k
sync
