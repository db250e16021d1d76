#!/bin/sh
# Runs inside the test guest: the test programs named in LIST (one a line, longest first; a split
# program's shards as program:index:count), each as one 32-bit Wine process in the prefix made with the image, two at a time (the guest has two
# processors), then those named in ALONE one by one; each program's output and exit status are
# kept in OUT_DIR on the share. The names of LIST that BUILD_TREE/fotex-oop-tests.txt lists
# ("NAME PROGRAM ARGUMENT..." a line) run that line against FotexSimServer.exe, in a copy of the
# prefix where scripts/oop-prefix.sh has registered it: one after another (they share the one
# server) in one of the two places, from the start.
#   suite.sh BUILD_TREE LIST ALONE OUT_DIR
# A UTF-8 locale: Wine maps file names through it, and cannot make non-ASCII ones in the C locale.
export WINEARCH=win32 WINEPREFIX=/root/wine32 WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml=" LC_ALL=C.UTF-8
work=/tmp/fotex-run
oop_prefix=/root/wine32-oop

if [ "$1" = "--oop" ]; then
  # The runs against the server, in LIST's order; the first registers it in its prefix.
  out=$2 list=$3
  start=$(date +%s)
  { WINEPREFIX=$oop_prefix wineserver -p &&
    FOTEX_WINE=wine bash "$(dirname "$0")/../oop-prefix.sh" "$work" "$oop_prefix"; } >"$work/oop-prefix.log" 2>&1
  registered=$?
  echo "fotex-guest: registering the server in $oop_prefix: status $registered, $(( $(date +%s) - start )) s"
  awk '{print $1}' "$work/oop-tests.txt" | grep -xFf - "$list" | while read -r run; do
    if [ "$registered" -eq 0 ]; then
      sh "$0" --one "$out" "$run"
    else
      cp "$work/oop-prefix.log" "$out/$run.log"
      echo "$run 1 0" >"$work/$run.status"
    fi
  done
  exit 0
fi

if [ "$1" = "--one" ]; then
  # A run is a program, or one shard of it: program:index:count.
  out=$2 run=$3 name=${3%%:*}
  case "$run" in
    *:*:*) shard=${run#*:}; export GTEST_SHARD_INDEX=${shard%%:*} GTEST_TOTAL_SHARDS=${shard#*:} ;;
  esac
  program=$name args=""
  oop=$(grep "^$name " "$work/oop-tests.txt" 2>/dev/null)
  if [ -n "$oop" ]; then
    export WINEPREFIX=$oop_prefix FOTEX_TEST_CAMERA=server
    program=$(echo "$oop" | cut -d' ' -f2) args=$(echo "$oop" | cut -d' ' -f3-)
  fi
  echo "fotex-guest: running $run"
  start=$(date +%s)
  # The filters' wildcards are gtest's, not the shell's.
  set -f
  timeout -k 10 "${FOTEX_GUEST_TEST_TIMEOUT:-600}" wine "./$program.exe" $args </dev/null >"$work/$run.log" 2>&1
  status=$?
  set +f
  echo "$run $status $(( $(date +%s) - start ))" >"$work/$run.status"
  cp "$work/$run.log" "$out/$run.log"
  exit 0
fi

tree=$1 list=$2 alone=$3 out=$4
# The programs run from a copy in memory: Wine maps the images it loads, and images read
# through the 9p share came out with zeroed pages. Paths compiled into them still reach the share.
mkdir -p "$work"
( cd "$tree" && cp ./*.exe ./*.dll "$work"/ ) || exit 1
cd "$work" || exit 1
grep -v '^$' "$tree/fotex-oop-tests.txt" >oop-tests.txt 2>/dev/null
if awk '{print $1}' oop-tests.txt | grep -qxFf - "$list"; then
  # The server's prefix is a copy of the image's, taken before a wineserver runs and writes it.
  start=$(date +%s)
  cp -a /root/wine32 "$oop_prefix" || exit 1
  echo "fotex-guest: copied the prefix for the server in $(( $(date +%s) - start )) s"
  oop="--oop"
fi
# One wineserver for the whole run: each later program then starts in about a second.
wineserver -p
# Wine's own image-acquisition service starts on first use. Started here once, it is up before two
# programs ask for it at the same moment: one of them was seen failing with RPC_S_CALL_FAILED.
wine ./fotex.exe --auto-detect </dev/null >/dev/null 2>&1
{
  [ -n "${oop:-}" ] && echo "--oop"
  awk '{print $1}' oop-tests.txt | grep -vxFf - "$list" | grep -v '^$'
} | while read -r run; do
  if [ "$run" = "--oop" ]; then echo "--oop $out $list"; else echo "--one $out $run"; fi
done | xargs -L 1 -P "${FOTEX_GUEST_JOBS:-2}" sh "$0"
[ -f "$alone" ] && grep -v '^$' "$alone" | xargs -n 1 -P 1 sh "$0" --one "$out"
cat ./*.status >"$out/results" 2>/dev/null
wineserver -k
[ -n "${oop:-}" ] && WINEPREFIX=$oop_prefix wineserver -k
sync
