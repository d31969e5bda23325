#!/usr/bin/env bash
# Fails when a file of stationcore includes a widget header: a Qt Widgets
# header, a header of stationgui, or the main window. Core logic reaches the
# screen only through the operator prompt and the main window's state.
set -euo pipefail
cd "$(dirname "$0")/.."
qtw=$(ls /usr/include/x86_64-linux-gnu/qt5/QtWidgets 2>/dev/null | sed -n 's/^\(Q[A-Za-z0-9]*\)$/\1/p' | tr '\n' ' ')
core=$(sed -n '/STATION_CORE_SOURCES/,/^)/p' */sources.cmake | grep -E '^\s+[a-z]' | tr -d ' ')
gui=$(sed -n '/STATION_GUI_SOURCES/,/^)/p' */sources.cmake | grep -E '^\s+[a-z]' | tr -d ' ' | grep '\.h$' || true)
bad=0
for f in $core; do
  [ -f "$f" ] || continue
  while IFS= read -r line; do
    inc=$(printf '%s' "$line" | sed -n 's/^[[:space:]]*#[[:space:]]*include[[:space:]]*[<"]\([^>"]*\)[>"].*/\1/p')
    [ -n "$inc" ] || continue
    hit=""
    case "$inc" in
      QtWidgets/*|QtWidgets) hit=1 ;;
      widgets/*|*/ui/*) hit=1 ;;
    esac
    for g in $gui; do [ "$inc" = "$g" ] && hit=1; done
    for q in $qtw; do [ "$inc" = "$q" ] && hit=1; done
    if [ -n "$hit" ]; then
      echo "core file $f includes $inc" >&2
      bad=1
    fi
  done < "$f"
done
[ "$bad" -eq 0 ] && echo "core include check: $(echo $core | wc -w) files, no widget header"
exit "$bad"
