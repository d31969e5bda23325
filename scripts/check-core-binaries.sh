#!/usr/bin/env bash
# Fails when a core test program or the board simulator links Qt Widgets:
# core logic and its tests run without any screen library.
set -euo pipefail
cd "$(dirname "$0")/.."
build=${1:-build}
bad=0
count=0
# Core tests are the ones registered with station_add_core_test.
for cm in tests/*/CMakeLists.txt; do
  dir=$(dirname "$cm")
  for name in $(sed -n 's/^[[:space:]]*station_add_core_test(\([A-Za-z0-9_]*\).*/\1/p' "$cm"); do
    exe="$build/$dir/$name"
    if [ ! -x "$exe" ]; then
      echo "core test $exe not built" >&2
      bad=1
      continue
    fi
    count=$((count + 1))
    if ldd "$exe" | grep -q libQt5Widgets; then
      echo "core test $exe links libQt5Widgets" >&2
      bad=1
    fi
  done
done
for exe in "$build/boardsim" "$build/tests/controller_io/tst_io_fuzz_asan"; do
  count=$((count + 1))
  if [ ! -x "$exe" ] || ldd "$exe" | grep -q libQt5Widgets; then
    echo "$exe missing or links libQt5Widgets" >&2
    bad=1
  fi
done
[ "$bad" -eq 0 ] && echo "core binary check: $count programs, none links Qt Widgets"
exit "$bad"
