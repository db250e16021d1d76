#!/bin/sh
# Runs inside the test guest: the test programs named in LIST (one a line, longest first; a split
# program's shards as program:index:count), each as one 32-bit Wine process in the prefix made with the image, two at a time (the guest has two
# processors), then those named in ALONE one by one; each program's output and exit status are
# kept in OUT_DIR on the share.
#   suite.sh BUILD_TREE LIST ALONE OUT_DIR
# A UTF-8 locale: Wine maps file names through it, and cannot make non-ASCII ones in the C locale.
export WINEARCH=win32 WINEPREFIX=/root/wine32 WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml=" LC_ALL=C.UTF-8
work=/tmp/fotex-run

if [ "$1" = "--one" ]; then
  # A run is a program, or one shard of it: program:index:count.
  out=$2 run=$3 name=${3%%:*}
  case "$run" in
    *:*:*) shard=${run#*:}; export GTEST_SHARD_INDEX=${shard%%:*} GTEST_TOTAL_SHARDS=${shard#*:} ;;
  esac
  echo "fotex-guest: running $run"
  start=$(date +%s)
  timeout -k 10 "${FOTEX_GUEST_TEST_TIMEOUT:-600}" wine "./$name.exe" </dev/null >"$work/$run.log" 2>&1
  status=$?
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
# One wineserver for the whole run: each later program then starts in about a second.
wineserver -p
# Wine's own image-acquisition service starts on first use. Started here once, it is up before two
# programs ask for it at the same moment: one of them was seen failing with RPC_S_CALL_FAILED.
wine ./fotex.exe --auto-detect </dev/null >/dev/null 2>&1
grep -v '^$' "$list" | xargs -n 1 -P "${FOTEX_GUEST_JOBS:-2}" sh "$0" --one "$out"
[ -f "$alone" ] && grep -v '^$' "$alone" | xargs -n 1 -P 1 sh "$0" --one "$out"
cat ./*.status >"$out/results" 2>/dev/null
wineserver -k
sync
