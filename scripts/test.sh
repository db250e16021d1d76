#!/usr/bin/env bash
# Installs what is missing, builds both trees and runs every test: the x86_64 programs and the
# scripted checks under 64-bit Wine (ctest), then the i686 programs against the shipped 32-bit
# DLL in an emulated machine (scripts/test-i686.sh; its image is made once and cached).
#   test.sh [--x64-only] [ctest options]
# --x64-only skips the emulated machine; ctest options apply to the x86_64 run.
# The x86_64 suite always runs with an emptied environment (PATH and HOME only), as in a fresh
# container: each test sets what it needs itself (its Wine prefix, a UTF-8 locale), so a test
# that leans on the caller's environment fails here rather than elsewhere.
set -uo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
started=$(date +%s)
x64_only=0
ctest_args=()
for arg in "$@"; do
  if [ "$arg" = "--x64-only" ]; then x64_only=1; else ctest_args+=("$arg"); fi
done

"$root/scripts/build.sh" || { echo "test: the build failed" >&2; exit 1; }
cd "$root"
# An emptied environment, so that the suite never depends on one the machine happens to have (a
# locale, say); the suite's own knobs (FOTEX_*) and the temporary folder pass through.
clean=(env -i PATH="$PATH" HOME="$HOME")
[ -n "${TMPDIR:-}" ] && clean+=(TMPDIR="$TMPDIR")
while IFS= read -r var; do clean+=("$var"); done < <(env | grep -E '^FOTEX_[A-Z0-9_]*=' || true)
if [ "$x64_only" -eq 1 ]; then
  exec "${clean[@]}" ctest --preset x64 "${ctest_args[@]}"
fi

log=$(mktemp)
trap 'rm -f "$log"' EXIT
"${clean[@]}" ctest --preset x64 "${ctest_args[@]}" 2>&1 | tee "$log"
x64_status=${PIPESTATUS[0]}
summary=$(grep -E '^[0-9]+% tests passed, [0-9]+ tests? failed out of [0-9]+' "$log" | tail -n 1)
x64_failed=$(sed -E 's/.* ([0-9]+) tests? failed out of ([0-9]+).*/\1/' <<<"$summary")
x64_total=$(sed -E 's/.* failed out of ([0-9]+).*/\1/' <<<"$summary")
x64_failed=${x64_failed:-1} x64_total=${x64_total:-1}
[ "$x64_status" -eq 0 ] || [ "$x64_failed" -gt 0 ] || x64_failed=1

echo
bash "$root/scripts/test-i686.sh" --no-build 2>&1 | tee "$log"
i686_status=${PIPESTATUS[0]}
i686_line=$(grep -E '^[0-9]+ passed, [0-9]+ failed$' "$log" | tail -n 1)
i686_passed=$(cut -d' ' -f1 <<<"$i686_line") i686_failed=$(cut -d' ' -f3 <<<"$i686_line")
i686_passed=${i686_passed:-0} i686_failed=${i686_failed:-1}
[ "$i686_status" -eq 0 ] || [ "$i686_failed" -gt 0 ] || i686_failed=1

echo
echo "test: build, x86_64 suite, guest image and i686 suite in $(( $(date +%s) - started )) s"
echo "x86_64: $((x64_total - x64_failed)) passed, $x64_failed failed"
echo "i686: $i686_passed passed, $i686_failed failed"
echo "$((x64_total - x64_failed + i686_passed)) passed, $((x64_failed + i686_failed)) failed"
[ "$x64_status" -eq 0 ] && [ "$i686_status" -eq 0 ]
