#!/usr/bin/env bash
# Runs every test program of the i686 tree against the shipped 32-bit Fotex.dll, inside an
# emulated Debian machine with 32-bit Wine (this machine's kernel cannot run 32-bit code).
# Builds both trees and, on first use, the guest image (scripts/guest/make-image.sh).
#   test-i686.sh [--no-build]
# Prints each program's result, the failing programs' output and a closing "N passed, N failed";
# exits non-zero on any failure, including a guest that cannot be built or booted.
set -uo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
tree="$root/build/x86"
run="$tree/guest-run"
started=$(date +%s)
die() { echo "test-i686: $*" >&2; echo "0 passed, 1 failed"; exit 1; }

# --no-build: the caller has just built both trees (scripts/test.sh).
if [ "${1:-}" != "--no-build" ]; then
  bash "$root/scripts/build.sh" || die "the build failed"
fi
[ -s "$tree/fotex-tests.txt" ] || die "$tree/fotex-tests.txt lists no test program"
[ -f "$tree/fotex-oop-tests.txt" ] || die "$tree/fotex-oop-tests.txt is missing (an older build tree: run without --no-build)"

image_started=$(date +%s)
image=$(bash "$root/scripts/guest/make-image.sh") || die "could not build the guest image (see the lines above)"
image_seconds=$(( $(date +%s) - image_started ))
echo "test-i686: guest image $image ($(du -sh "$image/rootfs.img" | cut -f1) used), ready in ${image_seconds} s"

# The reliability loops are shorter in the emulator, where a reload costs 0.5 to 1.5 s and a
# capture-transfer-delete cycle 0.1 to 0.25 s; the caller's values win.
export FOTEX_SOAK_CYCLES=${FOTEX_SOAK_CYCLES:-500}
export FOTEX_FUZZ_CALLS=${FOTEX_FUZZ_CALLS:-20000}
export FOTEX_RELOADS=${FOTEX_RELOADS:-50}
# cli_test's tethering runs six fotex at once, each saving every press twice: 10 presses, not 100.
export FOTEX_TETHER_PRESSES=${FOTEX_TETHER_PRESSES:-10}
echo "test-i686: reliability_test counts FOTEX_SOAK_CYCLES=$FOTEX_SOAK_CYCLES FOTEX_FUZZ_CALLS=$FOTEX_FUZZ_CALLS FOTEX_RELOADS=$FOTEX_RELOADS, cli_test FOTEX_TETHER_PRESSES=$FOTEX_TETHER_PRESSES"

# Two programs run at a time, longest first by the last run's times (new programs first of all),
# so that the longest does not start last. Programs that check their own process's memory and
# handles run afterwards, alone: beside another Wine process, Wine itself grows the process by
# a few handles and MiB, which the checks would take for a leak.
alone=(reliability_test)
# A program that would hold one processor for most of the run goes as several processes, each
# with a share of its tests (gtest's sharding): name:shards.
split=(cli_test:3)
times="$tree/guest-times.txt"
[ -f "$run/results" ] && sort -k3,3nr "$run/results" | awk '{print $1, $3}' >"$times"
rm -rf "$run"
mkdir -p "$run"
# Every name the suite reports: the programs, then the runs against the server in another
# process (the first word of each line of fotex-oop-tests.txt; suite.sh runs them one at a time).
{ grep -v '^$' "$tree/fotex-tests.txt"; awk 'NF {print $1}' "$tree/fotex-oop-tests.txt"; } >"$run/names.txt"
# The runs: a program, or each shard of a split one as program:index:count.
grep -v '^$' "$run/names.txt" | grep -vxF "$(printf '%s\n' "${alone[@]}")" | while read -r name; do
  count=1
  for s in "${split[@]}"; do [ "${s%%:*}" = "$name" ] && count=${s#*:}; done
  if [ "$count" -gt 1 ]; then
    for ((i = 0; i < count; i++)); do echo "$name:$i:$count"; done
  else
    echo "$name"
  fi
done >"$run/runs.txt"
{
  while read -r entry; do
    grep -q "^$entry " "$times" 2>/dev/null || echo "$entry"
  done <"$run/runs.txt"
  [ -f "$times" ] && awk '{print $1}' "$times" | grep -xFf "$run/runs.txt"
} >"$run/order.txt"
printf '%s\n' "${alone[@]}" | grep -xFf "$run/names.txt" >"$run/alone.txt"
{
  echo '#!/bin/sh'
  for v in FOTEX_SOAK_CYCLES FOTEX_FUZZ_CALLS FOTEX_FUZZ_SEED FOTEX_RELOADS FOTEX_TETHER_PRESSES FOTEX_GUEST_TEST_TIMEOUT FOTEX_GUEST_JOBS; do
    [ -n "${!v:-}" ] && printf 'export %s=%q\n' "$v" "${!v}"
  done
  printf 'exec sh %q %q %q %q %q\n' "$root/scripts/guest/suite.sh" "$tree" "$run/order.txt" "$run/alone.txt" "$run"
} >"$run/run.sh"

suite_started=$(date +%s)
limit=${FOTEX_GUEST_TIMEOUT:-1800}
: >"$run/console.log"
bash "$root/scripts/guest/boot.sh" "$image" "$root" "$run/run.sh" "$limit" >>"$run/console.log" 2>&1 &
boot=$!
# Progress from the guest's console while it runs.
tail -n +1 -f --pid="$boot" "$run/console.log" 2>/dev/null | grep --line-buffered '^fotex-guest: running' |
  sed -u 's/^fotex-guest: /test-i686: /' &
wait "$boot"
boot_status=$?
wait
suite_seconds=$(( $(date +%s) - suite_started ))
if [ "$boot_status" -ne 0 ] && [ ! -s "$run/results" ]; then
  tail -n 40 "$run/console.log" >&2
  [ "$boot_status" -eq 124 ] && die "the guest did not finish within $limit s"
  die "the guest did not boot or run the suite (status $boot_status; console above, in $run/console.log)"
fi

passed=0 failed=0 failing=()
echo
while read -r name; do
  [ -n "$name" ] || continue
  # A split program: every shard's line; it passed when all did, in the longest shard's time.
  line=$(grep -E "^$name(:[0-9]+:[0-9]+)? " "$run/results" 2>/dev/null)
  runs=$(grep -cE "^$name(:[0-9]+:[0-9]+)?$" "$run/runs.txt" "$run/alone.txt" | awk -F: '{n += $NF} END {print n}')
  status=$(awk '{s = ($2 > s) ? $2 : s} END {print s + 0}' <<<"$line")
  seconds=$(awk '{t = ($3 > t) ? $3 : t} END {print t + 0}' <<<"$line")
  [ "$(grep -c . <<<"$line")" -eq "$runs" ] || line=""
  count=$(cat "$run/$name".log "$run/$name":*.log 2>/dev/null | grep -o '^\[  PASSED  \] [0-9]* test' |
          grep -o '[0-9]*' | awk '{n += $1} END {if (NR) print n}')
  # Wine ends a crashed program with status 0: each run must close with gtest's verdict.
  verdicts=$(cat "$run/$name".log "$run/$name":*.log 2>/dev/null | tr -d '\r' | grep -c '^\[  PASSED  \] [0-9]* test')
  [ -n "$line" ] && [ "$status" -eq 0 ] && [ "$verdicts" -lt "$runs" ] && status=crashed
  if [ -z "$line" ]; then
    echo "  NOT RUN  $name"
    failed=$((failed + 1)) failing+=("$name")
  elif [ "$status" = 0 ]; then
    printf '  passed   %-20s %4s tests %5s s\n' "$name" "${count:-?}" "$seconds"
    passed=$((passed + 1))
  else
    printf '  FAILED   %-20s exit %s %5s s\n' "$name" "$status" "$seconds"
    failed=$((failed + 1)) failing+=("$name")
  fi
done <"$run/names.txt"

for name in "${failing[@]}"; do
  echo
  echo "---- $name (i686, in the guest) ----"
  logs=$(ls "$run/$name".log "$run/$name":*.log 2>/dev/null)
  if [ -n "$logs" ]; then for f in $logs; do tr -d '\r' <"$f"; done; else echo "(no output: it did not run)"; fi
done
[ "$boot_status" -eq 0 ] || { echo; echo "test-i686: the guest ended with status $boot_status"; tail -n 20 "$run/console.log"; }

echo
echo "test-i686: i686 suite in the guest ${suite_seconds} s (target 600 s with the image cached)"
total=$(( $(date +%s) - started ))
if [ "$image_seconds" -gt 60 ]; then
  echo "test-i686: from nothing (build, image, run) ${total} s (target 1500 s)"
fi
echo "$passed passed, $failed failed"
[ "$failed" -eq 0 ] && [ "$boot_status" -eq 0 ]
