#!/usr/bin/env bash
# Fails when a file of stationcore includes a widget header: a Qt Widgets
# header, a header of stationgui, or the main window. Core logic reaches the
# screen only through the operator prompt and the main window's state.
set -euo pipefail
cd "$(dirname "$0")/.."
qtw=$(ls /usr/include/x86_64-linux-gnu/qt5/QtWidgets 2>/dev/null | sed -n 's/^\(Q[A-Za-z0-9]*\)$/\1/p' | tr '\n' ' ')
core=$(sed -n '/STATION_CORE_SOURCES/,/^)/p' */sources.cmake | grep -E '^\s+[a-z]' | tr -d ' ')
gui=$(sed -n '/STATION_GUI_SOURCES/,/^)/p' */sources.cmake | grep -E '^\s+[a-z]' | tr -d ' ' | grep '\.h$' || true)
files=()
for f in $core; do [ -f "$f" ] && files+=("$f"); done
# One pass over every include line of the core files.
found=$(grep -HE '^[[:space:]]*#[[:space:]]*include' /dev/null "${files[@]}" \
  | sed -n 's/^\([^:]*\):[[:space:]]*#[[:space:]]*include[[:space:]]*[<"]\([^>"]*\)[>"].*/\1 \2/p' \
  | awk -v names="$qtw $gui" '
      BEGIN { n = split(names, a, " "); for (i = 1; i <= n; i++) widget[a[i]] = 1 }
      $2 ~ /^QtWidgets(\/|$)/ || $2 ~ /^widgets\// || $2 ~ /\/ui\// || ($2 in widget) {
        print "core file " $1 " includes " $2
      }')
if [ -n "$found" ]; then
  echo "$found" >&2
  exit 1
fi
echo "core include check: ${#files[@]} files, no widget header"
