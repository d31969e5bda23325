#!/usr/bin/env bash
# Installs the packages, builds with warnings as errors and runs every test
# headless. It builds into the same build/ as scripts/run.sh, with the same
# options, so what the station run built is reused.
set -euo pipefail
cd "$(dirname "$0")/.."
# STATION_JOBS bounds the compile (scripts/build.sh) and the tests run at once
# alike, so a shared machine is not taken over by either.
jobs="${STATION_JOBS:-$(nproc)}"
if ! [[ "$jobs" =~ ^[1-9][0-9]*$ ]]; then
  echo "STATION_JOBS must be a whole number of jobs, 1 or more (it is \"$jobs\")" >&2
  exit 2
fi
echo "== Checking the Debian packages"
bash scripts/deps.sh
echo "== Checking that the core library includes no widget header"
bash scripts/check-core-includes.sh
bash scripts/build.sh
echo "== Checking that no core program links Qt Widgets"
bash scripts/check-core-binaries.sh build
export QT_QPA_PLATFORM=offscreen
# Qt's runtime folder: the caller's, or one of this run's own, removed at its end.
runtime_made=""
if [ -z "${XDG_RUNTIME_DIR:-}" ]; then
  runtime_made=$(mktemp -d)
  XDG_RUNTIME_DIR=$runtime_made
fi
export XDG_RUNTIME_DIR
chmod 700 "$XDG_RUNTIME_DIR"
trap '[ -z "$runtime_made" ] || rm -rf "$runtime_made"' EXIT
cd build
echo "== Running the tests (ctest, $jobs at a time)"
ctest --output-on-failure -j "$jobs" --timeout 900
