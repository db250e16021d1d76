#!/usr/bin/env bash
# fotex.h compiles silently on its own and beside <windows.h>, for both machines: as strict C89
# and C++98 under mingw-w64's gcc, and on its own under clang targeting Microsoft's ABI (which
# defines _MSC_VER and warns of __int64 and long long under -pedantic).
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
  # mingw-w64's <windows.h> does not serve the MSVC target, so clang sees the header alone.
  for std in "c c89" "c c99" "c++ c++98" "c++ c++11"; do
    read -r lang version <<<"$std"
    if ! clang --target="$machine-pc-windows-msvc" -fms-extensions -x "$lang" -std="$version" \
         "${flags[@]}" -DFOTEX_WINDOWS_NONE "$check"; then
      echo "header_compile_test: clang $machine-pc-windows-msvc -std=$version failed" >&2
      status=1
    fi
  done
done
# C89 promises 509 characters in a logical line, continuations joined: the settings list too.
if ! awk '{ line = line $0 } sub(/\\$/, "", line) { next }
          length(line) > 509 { print "header_compile_test: fotex.h line " NR " is " length(line) " characters"; bad = 1 }
          { line = "" } END { exit bad }' "$source/include/fotex.h" >&2; then
  status=1
fi
exit $status
