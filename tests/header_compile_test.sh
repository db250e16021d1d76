#!/usr/bin/env bash
# fotex.h compiles on its own and beside <windows.h>, for both machines, as strict C89 and as
# C++98; its 64-bit handle type needs a pragma that only a strict build would catch.
# Usage: header_compile_test.sh <source tree>
set -euo pipefail
source=$1
check=$source/tests/header_check.c
flags=(-fsyntax-only -pedantic -Wall -Wextra -Werror -I"$source/include" -I"$source/simulator")
status=0
for machine in i686 x86_64; do
  for windows in NONE FIRST AFTER; do
    for language in "gcc -std=c89 -x c" "g++ -std=c++98 -x c++"; do
      read -r driver std lang kind <<<"$language"
      if ! "$machine-w64-mingw32-$driver-posix" "$std" "$lang" "$kind" "${flags[@]}" \
           -DFOTEX_WINDOWS_$windows "$check"; then
        echo "header_compile_test: $machine $std with <windows.h> $windows failed" >&2
        status=1
      fi
    done
  done
done
exit $status
